// Fuzz target: tabulon-check --from-copybook on arbitrary bytes (see
// fuzz_import.h for the property).
#include "fuzz_import.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tabulon::fuzz::CheckImport(tabulon::check::SourceKind::Copybook, data, size);
  return 0;
}
