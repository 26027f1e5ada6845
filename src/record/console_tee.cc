#include "record/console_tee.h"

#include <string>

void ConsoleTee::print(int colour, std::string_view text) {
  inner_.print(colour, text);
  if (sink_ != nullptr) sink_->console_print(colour, text);
}

void ConsoleTee::print_error(int colour, std::string_view text) {
  inner_.print_error(colour, text);
  if (sink_ != nullptr) sink_->console_print(colour, text);
}

void ConsoleTee::pause() {
  if (no_pause_) {
    // The same bytes as a pause that nobody answers, without the wait.
    inner_.print(kColourPlain, std::string(kPausePrompt) + "\n");
  } else {
    inner_.pause();
  }
  if (sink_ != nullptr) sink_->console_pause();
}

int ConsoleTee::shell(const char* command) {
  int status = inner_.shell(command);
  if (sink_ != nullptr) sink_->console_shell(command, status);
  return status;
}

InputResult ConsoleTee::read_number(int* value) {
  InputResult result = inner_.read_number(value);
  if (sink_ != nullptr) sink_->console_input(result, result == InputResult::kNumber ? *value : 0);
  return result;
}
