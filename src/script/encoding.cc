#include "script/encoding.h"

namespace {

constexpr char kEnd = '$';

bool is_marker(char c) { return c == '#' || c == '@'; }

// True when text holds at least n characters before its NUL; never reads past
// the NUL.
bool has_chars(const char* text, int n) {
  for (int i = 0; i < n; ++i) {
    if (text[i] == '\0') return false;
  }
  return true;
}

// The count of decimal digits of a non-negative value.
int decimal_digits(int value) {
  int n = 1;
  for (; value >= 10; value /= 10) ++n;
  return n;
}

// Callers that ignore a refusal must not find the previous line still there.
int refuse_text(char* text, int text_size) {
  if (text_size >= 1) text[0] = '\0';
  return -1;
}

}  // namespace

namespace {

// The letter code of every byte, -1 for those that are no command letter:
// one look-up per command.
struct LetterCodes {
  int8_t of[256];
  constexpr LetterCodes() : of() {
    for (int c = 0; c < 256; ++c) of[c] = -1;
    for (int i = 0; i < kCommandLetters; ++i) of[static_cast<unsigned char>(idx_list[i])] = static_cast<int8_t>(i);
  }
};
constexpr LetterCodes kLetterCodes;

}  // namespace

int get_index(char c) { return kLetterCodes.of[static_cast<unsigned char>(c)]; }

int TransBytesData(const char* text, char* frame, int frame_size) {
  if (!has_chars(text, 3) || frame_size < 3) return -1;
  frame[0] = text[0];
  frame[1] = static_cast<char>(get_index(text[1]));
  frame[2] = text[2];
  if (text[2] == kEnd) return 3;
  int n = 3;
  const char* p = text + 3;
  for (; *p != kEnd; p += 2) {
    if (!has_chars(p, 2) || n >= frame_size) return -1;
    // Non-hex digits count as -1 here and the line is still sent: stored
    // binary-mode scripts must go out as the same bytes whatever they hold,
    // so the packer packs and leaves judging to the text-mode check.
    frame[n++] = static_cast<char>((16 * get_value(p[0]) + get_value(p[1])) & 0xFF);
  }
  if (n >= frame_size) return -1;
  frame[n++] = kEnd;
  return n;
}

int TranStrData(const char* raw, char* text, int length, int text_size) {
  if (length >= 1 && raw[length - 1] == '\0') --length;
  if (length < 3) return refuse_text(text, text_size);
  if (raw[2] == kEnd) {
    if (text_size < 4) return refuse_text(text, text_size);
    text[0] = raw[0];
    text[1] = raw[1];
    text[2] = kEnd;
    text[3] = '\0';
    return 3;
  }
  // A marker needs at least its closing byte after it; 2 * length - 4 would
  // not describe what is written for a shorter one.
  if (length < 4 || 2LL * length - 3 > text_size) return refuse_text(text, text_size);
  text[0] = raw[0];
  text[1] = raw[1];
  text[2] = raw[2];
  char* end = put_hex_pairs(reinterpret_cast<const uint8_t*>(raw) + 3, static_cast<size_t>(length - 4), text + 3);
  *end++ = raw[length - 1];
  *end = '\0';
  return static_cast<int>(end - text);
}

int CheckByteData(char* text) {
  if (!has_chars(text, 3)) return 1;
  if (get_index(text[1]) < 0) return 2;
  if (text[2] == kEnd) {
    text[3] = '\0';
    return 0;
  }
  if (!is_marker(text[2])) return 3;
  if (text[3] == '\0') return 5;
  for (char* p = text + 3;; p += 2) {
    if (p[0] == kEnd) {
      p[1] = '\0';
      return 0;
    }
    // A NUL is not a hex digit, so p[1] is read only when p[0] is not the end.
    if (get_value(p[0]) < 0 || get_value(p[1]) < 0) return 4;
  }
}

int SetI488Header(const FileSettings& upd, char* at, int length) {
  if (upd.i488_en == 0 || upd.binary == 0) return 0;
  if (length < 0) return -1;
  const int n = decimal_digits(length);
  if (n > 9) return -1;
  at[0] = '#';
  at[1] = static_cast<char>('0' + n);
  for (int i = n + 1, rest = length; i >= 2; --i, rest /= 10) {
    at[i] = static_cast<char>('0' + rest % 10);
  }
  return n + 2;
}
