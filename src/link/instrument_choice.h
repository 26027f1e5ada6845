// How the instrument is chosen when the operator does not answer the list:
// the station's own rule, given on the command line, in place of the
// dialogue. Without a rule the dialogue runs as the operator knows it.
#pragma once

#include <string>
#include <string_view>

struct InstrumentChoice {
  // --select=N: every list is answered with N, as the operator would answer
  // it; -1: the operator answers.
  int select = -1;
  // --serial=SN: every search takes the instrument whose resource string
  // carries this serial number, wherever it stands in the list (also the
  // bootloader, under its own product ID, after a jump); empty: none.
  std::string serial;

  // True when nobody is asked: a list the rule cannot answer stops the run.
  bool unattended() const { return select >= 0 || !serial.empty(); }
};

// The serial number field of a USB resource string,
// USB[board]::manufacturer::model::serial[::interface]::INSTR; empty for a
// resource string of another form.
std::string_view serial_of(std::string_view rsrc);

// The rule as the command line gives it, for messages: "--select=2",
// "--serial=SN"; empty without one.
std::string rule_text(const InstrumentChoice& choice);
