// Console messages, the operator pause and shell commands, as every part of
// the updater uses them.
#pragma once

#include "platform/platform.h"

// Prints like printf in the given colour attribute (12 red for errors, 10
// green for progress notices, 11 cyan for prompts, 13 magenta and 9 blue for
// the instrument list); the console goes back to attribute 7 afterwards.
// Returns the number of characters printed.
int printf_color(Platform& os, int attribute, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Prints like printf without touching the console colour: the progress line,
// the version echoes and "Update Ok".
int printf_plain(Platform& os, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The operator pause: waits until the operator presses a key.
void pause(Platform& os);

// Runs one shell command and waits for it; the text "DELAY" followed by a
// number of milliseconds (DELAY1000, DELAY 1000) sleeps instead. The
// outcome is not reported: a failing command only shows the shell's output.
void SystemCmd(Platform& os, const char* text);
