#include "link/instrument_choice.h"

#include <cctype>

namespace {

constexpr std::string_view kSeparator = "::";
constexpr size_t kSerialField = 3;  // USB board, manufacturer, model, serial

bool is_usb(std::string_view rsrc) {
  return rsrc.size() >= 3 && std::toupper(static_cast<unsigned char>(rsrc[0])) == 'U' &&
         std::toupper(static_cast<unsigned char>(rsrc[1])) == 'S' &&
         std::toupper(static_cast<unsigned char>(rsrc[2])) == 'B';
}

}  // namespace

std::string_view serial_of(std::string_view rsrc) {
  if (!is_usb(rsrc)) return {};
  size_t start = 0;
  for (size_t field = 0; field < kSerialField; ++field) {
    size_t sep = rsrc.find(kSeparator, start);
    if (sep == std::string_view::npos) return {};
    start = sep + kSeparator.size();
  }
  size_t end = rsrc.find(kSeparator, start);
  // The serial is followed by at least the resource class ("::INSTR").
  if (end == std::string_view::npos) return {};
  return rsrc.substr(start, end - start);
}

std::string rule_text(const InstrumentChoice& choice) {
  if (!choice.serial.empty()) return "--serial=" + choice.serial;
  if (choice.select >= 0) return "--select=" + std::to_string(choice.select);
  return {};
}
