#include <climits>
#include <cstdio>

#include "platform/platform.h"

bool parse_operator_number(std::string_view line, int* value) {
  size_t i = 0;
  auto blank = [&](size_t k) {
    return line[k] == ' ' || line[k] == '\t' || line[k] == '\r' || line[k] == '\n';
  };
  while (i < line.size() && blank(i)) ++i;
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) negative = line[i++] == '-';
  size_t digits_start = i;
  long long number = 0;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
    number = number * 10 + (line[i] - '0');
    if (number > INT_MAX) return false;
  }
  if (i == digits_start) return false;
  while (i < line.size() && blank(i)) ++i;
  if (i != line.size()) return false;
  *value = static_cast<int>(negative ? -number : number);
  return true;
}

InputResult read_operator_answer(FILE* in, int* value) {
  // Room for any number with blanks around it; a longer line is no number.
  char line[64];
  size_t length = 0;
  int c = EOF;
  for (size_t read = 0; read < kAnswerStretch && (c = getc(in)) != EOF && c != '\n'; ++read) {
    if (length < sizeof line) line[length] = static_cast<char>(c);
    ++length;
  }
  if (c == EOF && length == 0) return InputResult::kEnd;
  if (length > sizeof line) return InputResult::kNotNumber;
  return parse_operator_number(std::string_view(line, length), value) ? InputResult::kNumber
                                                                      : InputResult::kNotNumber;
}
