// Whether the vector-register paths are built: where the target has SSE2
// (every x86-64 build) and the build does not turn them off (TABULON_NO_SIMD,
// the build that checks the eight-byte paths on their own).
#pragma once

#if !defined(TABULON_NO_SIMD) && (defined(__SSE2__) || defined(_M_X64))
#define TABULON_SSE2 1
#else
#define TABULON_SSE2 0
#endif
