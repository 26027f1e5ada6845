#include <climits>
#include <cstring>

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

InputResult read_operator_number(FILE* in, int* value) {
  char line[256];
  if (fgets(line, sizeof line, in) == nullptr) return InputResult::kEnd;
  size_t len = strlen(line);
  bool whole_line = len > 0 && line[len - 1] == '\n';
  if (!whole_line && !feof(in)) {
    // Too long to be a number: drop the rest of the line.
    int c;
    while ((c = getc(in)) != EOF && c != '\n') {
    }
    return InputResult::kNotNumber;
  }
  return parse_operator_number(std::string_view(line, len), value) ? InputResult::kNumber
                                                                   : InputResult::kNotNumber;
}
