// The pure text and frame helpers that update files pass through: command
// line checks and both encodings, the block header, scrambled directive
// fields, directive values, list-file lines and the checksum line. Every
// buffer is exactly as large as the size the helper is given, so that a read
// or write past it is caught by the sanitizers; the encodings are also
// checked against each other.
//
//   byte 0   sizes: the frame and text buffers hold 3 + 2 * byte 0 bytes
//   rest     the text (a NUL ends it for the text helpers) or raw command
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "driver/list_file.h"
#include "fuzz/fuzz_harness.h"
#include "script/encoding.h"
#include "script/script.h"

namespace {

[[noreturn]] void broken(const char* what, std::string_view input) {
  fprintf(stderr, "fuzz: %s, input of %zu bytes\n", what, input.size());
  abort();
}

// A NUL-terminated copy in a buffer of exactly its length and the NUL.
std::vector<char> c_text(std::string_view bytes) {
  std::string_view text = bytes.substr(0, bytes.find('\0'));
  std::vector<char> out(text.begin(), text.end());
  out.push_back('\0');
  return out;
}

char upper(char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c; }

// A line CheckByteData accepts packs into a frame, and that frame (with the
// letter in place of its code) turns back into the line, hex in upper case.
void check_round_trip(const std::vector<char>& checked, std::string_view input) {
  const int line = static_cast<int>(strlen(checked.data()));
  std::vector<char> frame(static_cast<size_t>(line));  // a frame is never longer than its line
  int f = TransBytesData(checked.data(), frame.data(), line);
  if (f < 3) broken("a checked line does not pack", input);
  frame[1] = checked[1];
  std::vector<char> back(static_cast<size_t>(line) + 1);
  int t = TranStrData(frame.data(), back.data(), f, line + 1);
  if (t != line) broken("a packed line does not unpack to its length", input);
  for (int i = 0; i < line; ++i) {
    char want = i < 3 ? checked[i] : upper(checked[i]);
    if (back[i] != want) broken("a packed line does not unpack to itself", input);
  }
}

void fuzz_command_line(std::string_view input, int size) {
  std::vector<char> text = c_text(input);
  std::vector<char> frame(static_cast<size_t>(size));
  int f = TransBytesData(text.data(), frame.data(), size);
  if (f > size || (f >= 0 && f < 3)) broken("TransBytesData's length is out of range", input);

  std::vector<char> checked = text;
  if (CheckByteData(checked.data()) == 0 && get_index(checked[1]) >= 0) check_round_trip(checked, input);

  FileSettings upd;
  upd.i488_en = 1;
  upd.binary = 1;
  char header[kI488HeaderMax];
  int value = 0;
  memcpy(&value, input.data(), input.size() < sizeof value ? input.size() : sizeof value);
  int h = SetI488Header(upd, header, value);
  if (h > kI488HeaderMax) broken("SetI488Header wrote past its longest header", input);
}

void fuzz_raw_command(std::string_view input, int size) {
  std::vector<char> raw(input.begin(), input.end());
  std::vector<char> text(static_cast<size_t>(size));
  int n = TranStrData(raw.data(), text.data(), static_cast<int>(raw.size()), size);
  // Prefix, letter, marker and the closing byte are copied as they are, a
  // NUL too (the framing refuses such a line later); between them lie hex
  // digits only, and a NUL right after the returned length.
  if (n >= 0) {
    bool fits = n >= 3 && n < size && text[static_cast<size_t>(n)] == '\0';
    if (!fits) broken("TranStrData's length does not match its text", input);
    for (int i = 3; i < n - 1; ++i) {
      if (get_value(text[static_cast<size_t>(i)]) < 0) broken("TranStrData wrote a payload that is not hex", input);
    }
  }
  if (n < 0 && text[0] != '\0') broken("a refused raw command leaves text behind", input);
}

void fuzz_directives(std::string_view input) {
  std::vector<char> field = c_text(input);
  for (size_t out_size : {size_t{1}, size_t{2}, size_t{kShortTextSize}}) {
    std::vector<char> out(out_size);
    set_binary2data(field.data(), out.data(), out.size());
    if (strlen(out.data()) >= out_size) broken("set_binary2data overran its text", input);
  }
  fuzz::StepPlatform os;
  Updater u(os);
  for (char letter : std::string_view("chjlmwuvfz")) {
    std::vector<char> value = c_text(input);
    get_base_data(u, letter, value.data(), 0);
  }
  if (u.upd.headerlen < 0 || u.upd.headerlen >= kDataSize) broken("a header of impossible length", input);
}

void fuzz_list_line(std::string_view input) {
  // What fgets hands the list-file reader: at most 99 bytes and the NUL.
  std::vector<char> line = c_text(input.substr(0, kListLineSize - 1));
  int split = parser(line.data());
  if (split != kSkipLine && (split < 0 || static_cast<size_t>(split) >= line.size())) {
    broken("parser's split is outside the line", input);
  }
}

void fuzz_checksum(std::string_view input) {
  checksum_file(fuzz::write_scratch("checksum.txt", input).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Pieces in(data, size);
  int buffer_size = 3 + 2 * in.byte();
  std::string_view input = in.rest();
  fuzz_command_line(input, buffer_size);
  fuzz_raw_command(input, buffer_size);
  fuzz_directives(input);
  fuzz_list_line(input);
  fuzz_checksum(input);
  return 0;
}
