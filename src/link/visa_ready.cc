#include "link/visa_ready.h"

#include <string>

#include "driver/console.h"
#include "messages.h"

int ensure_visa(Updater& u) {
  if (u.visa != nullptr) return 0;
  std::string why = "no VISA implementation was chosen";
  if (u.backend != nullptr) u.visa = u.backend->load(&why);
  if (u.visa != nullptr) return 0;
  printf_color(u.os, kColourRed, msg::kVisaUnavailable, why.c_str());
  pause(u.os);
  return 1;
}
