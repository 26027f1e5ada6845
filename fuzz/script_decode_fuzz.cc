// Scripts read back, both ways round:
// - the input as a script: tmscript --decode's source, compiled again, gives
//   the script back byte for byte, apart from the lines the decode names as
//   unsaid (a command line that begins with '@');
// - the input as a tmscript source, when it compiles: the script it gives
//   decodes to a source that is exact and compiles to that script again.
// Any difference aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "script/script_decode.h"
#include "script/script_writer.h"

namespace {

[[noreturn]] void mismatch(const char* what, std::string_view script, const std::string& source) {
  fprintf(stderr, "script_decode: %s\n--- script (%zu bytes)\n%.*s\n--- source\n%s\n", what, script.size(),
          static_cast<int>(script.size()), script.data(), source.c_str());
  abort();
}

// script without the lines (1-based) in unsaid.
std::string without_lines(std::string_view script, const std::vector<int>& unsaid) {
  std::string out;
  int number = 0;
  size_t next = 0;
  for (size_t start = 0; start < script.size(); start = next) {
    size_t end = script.find('\n', start);
    next = end == std::string_view::npos ? script.size() : end + 1;
    ++number;
    bool left_out = false;
    for (int n : unsaid) left_out = left_out || n == number;
    if (!left_out) out.append(script.substr(start, next - start));
  }
  return out;
}

// Decodes script and compiles the source; returns the decode.
ScriptDecode round_trip(std::string_view script, std::string* again) {
  ScriptDecode decoded = decode_script(script, "fuzz.txt");
  std::string error;
  if (!compile_script(decoded.source, again, &error))
    mismatch(("the source does not compile: " + error).c_str(), script, decoded.source);
  return decoded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string again;
  ScriptDecode decoded = round_trip(input, &again);
  if (decoded.exact != decoded.unsaid.empty()) mismatch("exact and unsaid disagree", input, decoded.source);
  if (again != without_lines(input, decoded.unsaid)) mismatch("the script does not come back", input, decoded.source);

  std::string script, error;
  if (compile_script(input, &script, &error)) {
    decoded = round_trip(script, &again);
    if (!decoded.exact) mismatch("a script our writer made is not said exactly", script, decoded.source);
    if (again != script) mismatch("a script our writer made does not come back", script, decoded.source);
  }
  return 0;
}
