// The device command and its encodings. A command is kept in its text form,
// the command line, and packed into a binary frame on its way out when the
// per-file settings say so.
//
//   command line   prefix, letter, '$'                       &t$
//                  prefix, letter, marker, hex pairs, '$'    &w@0000F000$
//   binary frame   prefix, letter code, '$'                  26 0B 24
//                  prefix, letter code, marker, bytes, '$'   26 01 40 00 00 F0 00 24
//   raw command    like the binary frame, but with the letter itself at
//                  byte 1; packages carry commands in this form, and the
//                  length that comes with one may count a NUL after its '$'.
//
// The prefix is carried unchanged and never checked; the marker ('#' or '@')
// is carried unchanged too. Hex digits are read in either case and written in
// upper case. Nothing here allocates or prints.
#pragma once

#include "base/hex.h"
#include "script/file_settings.h"

// The twelve command letters. A letter's position in the table is its letter
// code, the byte a binary frame carries in its place.
constexpr int kCommandLetters = 12;
inline constexpr char idx_list[] = "ewdqlbvmrcxt";
static_assert(sizeof idx_list == kCommandLetters + 1);

// The longest block header SetI488Header() writes: '#', the digit count and
// nine digits, the most one digit can announce.
constexpr int kI488HeaderMax = 11;

// Returns the letter code 0..11 of c, or -1 when c is not one of the twelve
// command letters (NUL and upper-case letters included).
int get_index(char c);

// get_value() and get_hex(), the hex digits in either case, are in base/hex.h.

// Packs the NUL-terminated command line text into a binary frame.
// Reads text up to the first '$' met where a payload pair starts, or up to its
// NUL. The letter is not checked: an unknown one is sent as letter code 0xFF.
// Neither is the marker, nor are the digits: each payload byte is
// 16 * get_value(first) + get_value(second), kept to its low 8 bits, so the
// pair "1G" packs into 0x0F. Writes at most frame_size bytes of frame.
// On success returns the frame length: 3 for a command without payload, N + 4
// for one with N payload bytes.
// Returns -1 when text has fewer than 3 characters, when it ends (at either
// character of a payload pair) before its '$', or when the frame would be
// longer than frame_size; frame may then hold part of a frame.
int TransBytesData(const char* text, char* frame, int frame_size);

// Turns a raw command of length bytes into its command line in text.
// A NUL in the last counted byte is not counted. Copies the prefix and the
// letter; for a '$' in byte 2 the command ends there and any further bytes
// are ignored. Otherwise copies the marker, writes every byte from position 3
// to the last but one as two upper-case hex digits, then copies the last
// counted byte (normally the '$') as it is. The text always ends in a NUL.
// Reads raw[0 .. length-1] only, and writes at most text_size bytes of text.
// On success returns the length of the text without its NUL: 3 for a command
// without payload, else 2 * length - 4 for the counted length.
// Returns -1, with text emptied (text[0] = NUL when text_size is at least 1),
// when the counted length is below 3, when byte 2 is a marker but the counted
// length is below 4 (there is no room for the closing byte), or when the text
// and its NUL would not fit text_size. The emptied text keeps a caller that
// ignores the result from sending whatever the buffer held before: the
// syntax check and the packing both refuse an empty line.
int TranStrData(const char* raw, char* text, int length, int text_size);

// Checks the syntax of the NUL-terminated command line text; the first rule
// that applies decides. Returns
//   1  fewer than 3 characters;
//   2  the second character is not a command letter;
//   0  the third character is '$': the text is cut right after it;
//   3  the third character is none of '$', '#', '@';
//   5  nothing follows the marker;
//   0  the payload pairs are hex digits up to a '$' where a pair starts: the
//      text is cut right after that '$' (dropping the line end);
//   4  a payload pair holds a character that is not a hex digit; this covers
//      an odd number of digits, a stray character and a missing '$'.
// Reads text up to its NUL; writes only the NUL that cuts it, on result 0.
int CheckByteData(char* text);

// Writes the IEEE 488.2 definite-length block header for a frame of length
// bytes at at: '#', the number n of decimal digits of length, then length in
// decimal. Writes exactly n + 2 bytes and no terminator, so the byte after the
// header keeps its value (the version queries reuse the prefix character that
// lies there).
// Returns n + 2 (at most kI488HeaderMax) when upd.i488_en and upd.binary are
// both set; 0, writing nothing, when either is 0 (no command header, or text
// mode); -1, writing nothing, for a length that is negative or has more than
// nine digits (the single digit n cannot announce it).
int SetI488Header(const FileSettings& upd, char* at, int length);
