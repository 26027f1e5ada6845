// Scripts by source: the input is the readable source tmscript reads
// (script_writer.h), whose directives are scrambled by the script writer;
// when it compiles, the script runs like script_fuzz.cc runs its bytes, so
// that the fuzzer reaches directive values it would hardly find by
// flipping scrambled hex digits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_harness.h"
#include "script/script_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view source(reinterpret_cast<const char*>(data), size);
  std::string script, error;
  if (!compile_script(source, &script, &error)) {
    if (error.empty()) abort();  // a refusal always says why
    return 0;
  }
  // The setup varies with the text, so that it needs no field of its own.
  fuzz::run_script(script, static_cast<uint8_t>(size));
  return 0;
}
