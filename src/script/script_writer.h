// Writing update scripts from a readable source: the scrambled directive
// values are encoded here instead of by hand. The updater itself never
// writes scripts; the tmscript tool, the tests and the examples do.
//
// Source format: every line is copied unchanged, except lines that begin
// with '@', which become directive lines:
//
//   @header TEXT        ___h=  command header (scrambled); "@header" alone removes it
//   @jump TEXT          ___j=  jump command (scrambled)
//   @boot TEXT          ___l=  accepted bootloader version (scrambled)
//   @main TEXT          ___m=  accepted main versions, e.g. ,1.02,1.03, (scrambled)
//   @hw TEXT            ___w=  accepted hardware versions (scrambled)
//   @version TEXT       ___v=  target version, shown to the operator
//   @company TEXT       ___c=  company
//   @u mode=M binary=B comm_reset=C delay=MS
//                       ___u=  entry mode 0..3, binary frames 0/1, comm_reset 0/1,
//                              jump delay in ms (omitted keys are 0; delay 3000)
//   @checksum           ___f=  a checksum line over every line that follows it
//   @# TEXT                    a note for people: writes nothing
//
// Lines end as they end in the source (LF or CR LF); the output ends each
// generated directive line with LF.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The hex field of text, each byte XOR the byte mask, upper case.
std::string scramble_text(std::string_view text);

// The value of a "u" directive.
std::string u_directive_value(int mode, int binary, int comm_reset, uint32_t jump_delay_ms);

// The value (eight hex digits) of a checksum line that makes checksum_file()
// accept a script whose lines after the checksum line are following.
std::string checksum_value(std::string_view following);

// The source name of directive letter ("header" for 'h' ...); nullptr for
// a letter that has none ('u' and 'f' have forms of their own).
const char* directive_source_name(char letter);

// True when a source line is a note ("@#"), which writes nothing.
bool is_source_note(std::string_view line);

// Turns a source (format above) into a script. Returns false with *error set
// ("line N: reason") for an unknown '@' directive or a bad "@u" value.
bool compile_script(std::string_view source, std::string* script, std::string* error);
