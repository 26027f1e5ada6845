// The instrument session state shared by the link operations.
#pragma once

#include "visa/visa_types.h"

constexpr int kUsbStrSize = 200;        // resource string of the chosen instrument
constexpr int kUsbStrFilterSize = 100;  // search expression
constexpr int kDefaultJumpDelayMs = 3000;
constexpr char kDefaultUsbStrFilter[] = "USB[0-9]*::?*::INSTR";

struct LinkState {
  ViStatus status = VI_SUCCESS;  // result of the last VISA call the link keeps
  ViSession defaultRM = 0;       // resource manager session
  ViSession vi = 0;              // instrument session
  char UsbStr[kUsbStrSize] = {};
  char UsbStrFilter[kUsbStrFilterSize] = "USB[0-9]*::?*::INSTR";
  ViUInt32 retCnt = 0;           // matches of a search, bytes of a write or read
  int jump_dealy = kDefaultJumpDelayMs;  // ms between closing and searching again after a jump
};
