// Fuzz target: tabulon-check --from-schema on arbitrary bytes (see
// fuzz_import.h for the property).
#include "fuzz_import.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tabulon::fuzz::CheckImport(tabulon::check::SourceKind::Schema, data, size);
  return 0;
}
