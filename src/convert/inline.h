// The record path inlines its parts into one loop per record; the compiler's
// size limits would otherwise leave some of them as calls.
#pragma once

#if defined(__GNUC__)
#define TABULON_INLINE inline __attribute__((always_inline))
#else
#define TABULON_INLINE inline
#endif
