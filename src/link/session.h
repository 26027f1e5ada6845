// The instrument session: the search for the instrument, the operator's
// choice from a numbered list, the open with its I/O time-out, the reconnect
// after a bootloader jump, and the close.
//
// The selection index is owned by the caller: -1 lists the instruments and
// asks the operator; 0 .. count - 1 is the position of the instrument chosen
// before, reused without asking while a search still reaches it.
#pragma once

#include "link/instrument_link.h"

constexpr ViUInt32 kOpenTimeoutMs = 1000;  // viOpen's open time-out
constexpr ViUInt32 kIoTimeoutMs = 2000;    // every read and write of a session
constexpr int kSelectionNone = -1;
constexpr int kSelectionUnanswered = 100;  // inside the dialogue: no acceptable answer yet

// search_machine's compare: whether a string other than the UsbStr before is
// warned about (after a jump, the bootloader should be the same instrument).
constexpr int kSelectOnly = 0;
constexpr int kCompareWithBefore = 1;

// Opens the resource manager, selects the instrument (search_machine without
// comparison), opens it and sets its I/O time-out to 2000 ms.
// Returns 0 with u.link.vi open to the instrument named in UsbStr.
// Returns 1 when VISA is not available, when the operator's input ended or
// the resource string is too long (message, both sessions closed), or when
// the open failed ("Device is failed connected. (7)", both sessions closed,
// pause).
int open_machine(InstrumentLink& u, int* selection);

// The selection dialogue. Returns 0 once an instrument is chosen: UsbStr holds
// its resource string and *selection its position. With compare set, a
// string that differs from the UsbStr before is warned about ("different
// from", pause) and used all the same. Returns 1 after a message when the
// operator's input ends or the chosen string does not fit UsbStr; nothing is
// closed here.
int search_machine(InstrumentLink& u, int* selection, int compare);

// After a bootloader jump: closes vi, sleeps jump_dealy ms, selects again with
// comparison ("Bootloader VisaRsrc=%s"), and opens the instrument again
// (the session keeps the VISA default time-out).
// Returns 0 with vi open; 1 after "Device is failed connected. (7)" and a
// pause when the open failed, or after search_machine's message. defaultRM
// stays open for the caller's close.
int reconnect(InstrumentLink& u, int* selection);

// Closes the resource manager, then the instrument session; results ignored.
void usb_close(InstrumentLink& u);

// A machine command, as its job and a package's command section write it:
// "machine cmd:%s" in green, open_machine, visa_write of the text, usb_close.
// Returns 0; 1 when the open failed (reported, sessions closed, paused for);
// kMachineWriteFailed when the write failed (reported, sessions closed, not
// paused for: the caller decides).
int write_machine_command(InstrumentLink& u, const char* text, int* selection);
