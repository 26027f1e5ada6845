// The VISA search-expression language of the simulator's (and the USBTMC
// driver's) searches: the input is an expression, a line feed and a
// resource string. The expression may be as long as a list file's
// usb_address value, the string as long as a VISA resource string.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "link/link_state.h"
#include "visa/search_expr.h"
#include "visa/visa_types.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t split = input.find('\n');
  std::string_view expr = input.substr(0, split);
  std::string_view rsrc = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
  if (expr.size() >= kUsbStrFilterSize || rsrc.size() >= VI_FIND_BUFLEN) return 0;

  SearchMatch m = visa_search_match(expr, rsrc);
  // The expression's validity does not depend on the string it is matched against.
  if ((m == SearchMatch::kInvalid) != (visa_search_match(expr, "") == SearchMatch::kInvalid)) abort();
  // A string matches itself when it has no special characters.
  if (expr.find_first_of("?*+[]\\|(){}") == std::string_view::npos &&
      visa_search_match(expr, expr) != SearchMatch::kMatch) {
    abort();
  }
  return 0;
}
