#include "visa/sim/transcript.h"

#include <cstdio>

#include "base/text.h"

namespace sim {

namespace {

struct StatusName {
  ViStatus status;
  const char* name;
};

constexpr StatusName kStatusNames[] = {
    {VI_SUCCESS, "VI_SUCCESS"},
    {VI_SUCCESS_TERM_CHAR, "VI_SUCCESS_TERM_CHAR"},
    {VI_SUCCESS_MAX_CNT, "VI_SUCCESS_MAX_CNT"},
    {VI_ERROR_SYSTEM_ERROR, "VI_ERROR_SYSTEM_ERROR"},
    {VI_ERROR_INV_OBJECT, "VI_ERROR_INV_OBJECT"},
    {VI_ERROR_INV_EXPR, "VI_ERROR_INV_EXPR"},
    {VI_ERROR_RSRC_NFOUND, "VI_ERROR_RSRC_NFOUND"},
    {VI_ERROR_INV_RSRC_NAME, "VI_ERROR_INV_RSRC_NAME"},
    {VI_ERROR_TMO, "VI_ERROR_TMO"},
    {VI_ERROR_NSUP_ATTR, "VI_ERROR_NSUP_ATTR"},
    {VI_ERROR_IO, "VI_ERROR_IO"},
    {VI_ERROR_NSUP_OPER, "VI_ERROR_NSUP_OPER"},
    {VI_ERROR_RSRC_BUSY, "VI_ERROR_RSRC_BUSY"},
    {VI_ERROR_INV_PARAMETER, "VI_ERROR_INV_PARAMETER"},
    {VI_ERROR_LIBRARY_NFOUND, "VI_ERROR_LIBRARY_NFOUND"},
    {VI_ERROR_CONN_LOST, "VI_ERROR_CONN_LOST"},
    {VI_ERROR_NPERMISSION, "VI_ERROR_NPERMISSION"},
};

std::string format(const char* fmt, auto... args) {
  char buf[160];
  snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

std::string handle_part(const char* key, ViObject h) { return format(" %s=%u", key, static_cast<unsigned>(h)); }

std::string session_part(const CallRecord& rec, std::string_view name) {
  std::string s = handle_part("vi", rec.object);
  if (!name.empty()) s += " [" + std::string(name) + "]";
  return s;
}

std::string control_part(const ControlRequest& c) {
  return format(" 0x%02X %d %u %u %u", static_cast<unsigned>(static_cast<uint16_t>(c.bmRequestType)),
                c.bRequest, static_cast<unsigned>(c.wValue), static_cast<unsigned>(c.wIndex),
                static_cast<unsigned>(c.wLength));
}

// What the call asked for, before the arrow.
std::string arguments(const CallRecord& rec, std::string_view name) {
  const std::string& f = rec.function;
  if (f == "viFindRsrc") return handle_part("rm", rec.object) + " expr=" + quoted(rec.text);
  if (f == "viFindNext") return handle_part("list", rec.object);
  if (f == "viOpen") {
    return handle_part("rm", rec.object) + " rsrc=" + quoted(rec.text) +
           format(" mode=%llu timeout=%llu", static_cast<unsigned long long>(rec.value),
                  static_cast<unsigned long long>(rec.value2));
  }
  if (f == "viClose") return handle_part("obj", rec.object);
  if (f == "viSetAttribute") {
    return handle_part("obj", rec.object) + format(" attr=0x%08llX value=%llu", static_cast<unsigned long long>(rec.value),
                                                   static_cast<unsigned long long>(rec.value2));
  }
  if (f == "viWrite") return session_part(rec, name) + " " + quoted(rec.out);
  if (f == "viRead") return session_part(rec, name) + format(" max=%llu", static_cast<unsigned long long>(rec.value));
  if (f == "viUsbControlIn") return session_part(rec, name) + control_part(rec.control);
  if (f == "viUsbControlOut") return session_part(rec, name) + control_part(rec.control) + " " + quoted(rec.control.data);
  return "";
}

// What came back, after the status.
std::string results(const CallRecord& rec, std::string_view name) {
  const std::string& f = rec.function;
  bool ok = rec.status >= 0;
  if (f == "viOpenDefaultRM") return ok ? handle_part("rm", rec.result) : "";
  if (f == "viFindRsrc") {
    std::string count = format(" count=%llu", static_cast<unsigned long long>(rec.value2));
    return ok ? handle_part("list", rec.result) + count + " desc=" + quoted(rec.in) : count;
  }
  if (f == "viFindNext") return ok ? " desc=" + quoted(rec.in) : "";
  if (f == "viOpen") {
    if (!ok) return "";
    std::string s = handle_part("vi", rec.result);
    if (!name.empty()) s += " [" + std::string(name) + "]";
    return s;
  }
  if (f == "viWrite") return format(" count=%u", rec.result);
  if (f == "viRead" || f == "viUsbControlIn") return std::string(" ").append(quoted(rec.in));
  return "";
}

}  // namespace

std::string status_name(ViStatus status) {
  for (const StatusName& s : kStatusNames)
    if (s.status == status) return s.name;
  return format("0x%08X", static_cast<unsigned>(status));
}

std::string quoted(std::string_view bytes) { return in_quotes(escaped(bytes, true)); }

std::string format_call(const CallRecord& rec, std::string_view instrument_name) {
  return format("t=%llu ", static_cast<unsigned long long>(rec.time_ms)) + rec.function +
         arguments(rec, instrument_name) + " -> " + status_name(rec.status) + results(rec, instrument_name);
}

}  // namespace sim
