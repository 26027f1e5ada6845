#include "link/visa_ready.h"

#include <string>

#include "base/console.h"
#include "base/messages.h"
#include "base/results.h"

int ensure_visa(InstrumentLink& u) {
  if (u.visa != nullptr) return kOk;
  std::string why = "no VISA implementation was chosen";
  if (u.backend != nullptr) u.visa = u.backend->load(&why);
  if (u.visa != nullptr) return kOk;
  printf_color(u.os, kColourRed, msg::kVisaUnavailable, why.c_str());
  pause(u.os);
  return kFailed;
}
