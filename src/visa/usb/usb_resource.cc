#include "visa/usb/usb_resource.h"

#include <cstdio>
#include <vector>

namespace usbtmc {

namespace {

constexpr size_t kMaxFields = 6;  // USBn, vendor, product, serial, interface, INSTR

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_word(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

// Digits of the given base only, at most max; false for no digits.
bool parse_number(std::string_view text, uint32_t max, uint32_t* out) {
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && lower(text[1]) == 'x') {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  uint64_t value = 0;
  for (char c : text) {
    char l = lower(c);
    unsigned digit = 0;
    if (l >= '0' && l <= '9') {
      digit = static_cast<unsigned>(l - '0');
    } else if (base == 16 && l >= 'a' && l <= 'f') {
      digit = static_cast<unsigned>(l - 'a' + 10);
    } else {
      return false;
    }
    value = value * base + digit;
    if (value > max) return false;
  }
  *out = static_cast<uint32_t>(value);
  return true;
}

std::vector<std::string_view> split_fields(std::string_view text) {
  std::vector<std::string_view> fields;
  for (;;) {
    size_t at = text.find("::");
    fields.push_back(text.substr(0, at));
    if (at == std::string_view::npos || fields.size() > kMaxFields) return fields;
    text.remove_prefix(at + 2);
  }
}

bool parse_board(std::string_view field, uint32_t* board) {
  if (field.size() < 3 || !same_word(field.substr(0, 3), "usb")) return false;
  *board = 0;
  return field.size() == 3 || parse_number(field.substr(3), 0xFFFF, board);
}

}  // namespace

bool parse_usb_resource(std::string_view text, UsbResource* out) {
  std::vector<std::string_view> f = split_fields(text);
  if (!f.empty() && same_word(f.back(), "INSTR")) f.pop_back();
  if (f.size() < 4 || f.size() > 5) return false;
  UsbResource r;
  uint32_t vendor = 0, product = 0, interface_number = 0;
  if (!parse_board(f[0], &r.board) || !parse_number(f[1], 0xFFFF, &vendor) ||
      !parse_number(f[2], 0xFFFF, &product) || f[3].empty()) {
    return false;
  }
  if (f.size() == 5 && !parse_number(f[4], 0xFF, &interface_number)) return false;
  r.idVendor = static_cast<uint16_t>(vendor);
  r.idProduct = static_cast<uint16_t>(product);
  r.serial = std::string(f[3]);
  r.interface_number = static_cast<uint8_t>(interface_number);
  *out = std::move(r);
  return true;
}

std::string format_usb_resource(const UsbResource& r) {
  char ids[64];
  snprintf(ids, sizeof ids, "USB%u::0x%04X::0x%04X::", static_cast<unsigned>(r.board), r.idVendor, r.idProduct);
  std::string text = ids + r.serial;
  if (r.interface_number != 0) text += "::" + std::to_string(r.interface_number);
  return text + "::INSTR";
}

}  // namespace usbtmc
