#include "fleet/fleet_search.h"

#include <map>

#include "link/instrument_choice.h"

namespace {

// The description buffers of viFindRsrc and viFindNext: room for
// VI_FIND_BUFLEN characters, as VISA requires.
constexpr size_t kFindBufLen = 256;

}  // namespace

bool find_instruments(const VisaApi& api, const char* expr, std::vector<std::string>* rsrcs, std::string* why) {
  rsrcs->clear();
  ViSession rm = 0;
  if (api.viOpenDefaultRM(&rm) != VI_SUCCESS) {
    *why = "the VISA resource manager cannot be opened";
    return false;
  }
  ViFindList list = 0;
  ViUInt32 count = 0;
  char desc[kFindBufLen + 1] = {};
  if (api.viFindRsrc(rm, expr, &list, &count, desc) == VI_SUCCESS) {
    rsrcs->emplace_back(desc);
    for (ViUInt32 i = 1; i < count; ++i) {
      char next[kFindBufLen + 1] = {};
      if (api.viFindNext(list, next) != VI_SUCCESS) break;
      rsrcs->emplace_back(next);
    }
    api.viClose(list);
  }
  api.viClose(rm);
  return true;
}

std::string serial_faults(const std::vector<std::string>& rsrcs) {
  std::string without;
  std::map<std::string, std::vector<std::string>> by_serial;
  for (const std::string& r : rsrcs) {
    std::string serial(serial_of(r));
    if (serial.empty()) {
      without += (without.empty() ? "" : ", ") + r;
    } else {
      by_serial[serial].push_back(r);
    }
  }
  std::string faults;
  if (!without.empty()) faults = "no serial number: " + without;
  for (const auto& [serial, list] : by_serial) {
    if (list.size() < 2) continue;
    std::string strings;
    for (const std::string& r : list) strings += (strings.empty() ? "" : ", ") + r;
    faults += (faults.empty() ? "" : "; ") + std::string("serial number ") + serial + " carried by " + strings;
  }
  return faults;
}
