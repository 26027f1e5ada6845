#include "visa/trace/traced_api.h"

#include <algorithm>
#include <cstring>

namespace trace {

namespace {

CallHandler* g_handlers[kSlotCount] = {};

// What a call gave back, read without throwing: a trace is a file from
// outside, and a field of the wrong type gives 0 or "".
uint64_t number_field(const json& out, const char* key) {
  auto it = out.find(key);
  return it != out.end() && it->is_number_unsigned() ? it->get<uint64_t>() : 0;
}

std::string bytes_field(const json& out, const char* key) {
  auto it = out.find(key);
  std::string bytes;
  if (it != out.end() && it->is_string()) text_bytes(it->get_ref<const std::string&>(), &bytes);
  return bytes;
}

// Copies the bytes of out[key] into buf (capacity bytes), NUL-terminated
// when asked and there is room.
void copy_bytes(const json& out, const char* key, unsigned char* buf, size_t capacity, bool terminate) {
  if (buf == nullptr || capacity == 0) return;
  std::string bytes = bytes_field(out, key);
  size_t n = std::min(bytes.size(), terminate ? capacity - 1 : capacity);
  memcpy(buf, bytes.data(), n);
  if (terminate) buf[n] = '\0';
}

std::string c_text(const char* text) { return bytes_text(text == nullptr ? "" : text); }

template <Slot S>
ViStatus handle(const char* name, const json& args, const Perform& perform, json* out) {
  CallHandler* handler = g_handlers[S];
  if (handler == nullptr) return VI_ERROR_SYSTEM_ERROR;
  *out = json::object();
  return handler->call(name, args, perform, out);
}

template <Slot S>
struct Calls {
  static ViStatus TM_VISA_CALL viOpenDefaultRM(ViSession* rm) {
    json out;
    ViStatus s = handle<S>("viOpenDefaultRM", json::object(), [](const VisaApi& v, json* o) {
      ViSession h = 0;
      ViStatus st = v.viOpenDefaultRM(&h);
      (*o)["rm"] = h;
      return st;
    }, &out);
    if (rm != nullptr) *rm = static_cast<ViSession>(number_field(out, "rm"));
    return s;
  }

  static ViStatus TM_VISA_CALL viFindRsrc(ViSession rm, const char* expr, ViFindList* list, ViUInt32* retCnt,
                                          char desc[]) {
    json out;
    ViStatus s = handle<S>("viFindRsrc", json{{"rm", rm}, {"expr", c_text(expr)}}, [&](const VisaApi& v, json* o) {
      ViFindList l = 0;
      ViUInt32 n = 0;
      ViStatus st = v.viFindRsrc(rm, expr, &l, &n, desc);
      (*o)["list"] = l;
      (*o)["count"] = n;
      (*o)["desc"] = c_text(desc);
      return st;
    }, &out);
    if (list != nullptr) *list = static_cast<ViFindList>(number_field(out, "list"));
    if (retCnt != nullptr) *retCnt = static_cast<ViUInt32>(number_field(out, "count"));
    copy_bytes(out, "desc", reinterpret_cast<unsigned char*>(desc), VI_FIND_BUFLEN, true);
    return s;
  }

  static ViStatus TM_VISA_CALL viFindNext(ViFindList list, char desc[]) {
    json out;
    ViStatus s = handle<S>("viFindNext", json{{"list", list}}, [&](const VisaApi& v, json* o) {
      ViStatus st = v.viFindNext(list, desc);
      (*o)["desc"] = c_text(desc);
      return st;
    }, &out);
    copy_bytes(out, "desc", reinterpret_cast<unsigned char*>(desc), VI_FIND_BUFLEN, true);
    return s;
  }

  static ViStatus TM_VISA_CALL viOpen(ViSession rm, const char* rsrc, ViAccessMode mode, ViUInt32 timeout,
                                      ViSession* vi) {
    json out;
    json args{{"rm", rm}, {"rsrc", c_text(rsrc)}, {"mode", mode}, {"timeout", timeout}};
    ViStatus s = handle<S>("viOpen", args, [&](const VisaApi& v, json* o) {
      ViSession h = 0;
      ViStatus st = v.viOpen(rm, rsrc, mode, timeout, &h);
      (*o)["vi"] = h;
      return st;
    }, &out);
    if (vi != nullptr) *vi = static_cast<ViSession>(number_field(out, "vi"));
    return s;
  }

  static ViStatus TM_VISA_CALL viClose(ViObject obj) {
    json out;
    return handle<S>("viClose", json{{"obj", obj}}, [&](const VisaApi& v, json*) { return v.viClose(obj); }, &out);
  }

  static ViStatus TM_VISA_CALL viSetAttribute(ViObject obj, ViAttr attr, ViAttrState value) {
    json out;
    json args{{"obj", obj}, {"attr", attr}, {"value", static_cast<uint64_t>(value)}};
    return handle<S>("viSetAttribute", args,
                     [&](const VisaApi& v, json*) { return v.viSetAttribute(obj, attr, value); }, &out);
  }

  static ViStatus TM_VISA_CALL viWrite(ViSession vi, const unsigned char* buf, ViUInt32 count, ViUInt32* retCnt) {
    json out;
    std::string_view bytes(reinterpret_cast<const char*>(buf), buf == nullptr ? 0 : count);
    ViStatus s = handle<S>("viWrite", json{{"vi", vi}, {"data", bytes_text(bytes)}}, [&](const VisaApi& v, json* o) {
      ViUInt32 n = 0;
      ViStatus st = v.viWrite(vi, buf, count, &n);
      (*o)["count"] = n;
      return st;
    }, &out);
    if (retCnt != nullptr) *retCnt = static_cast<ViUInt32>(number_field(out, "count"));
    return s;
  }

  static ViStatus TM_VISA_CALL viRead(ViSession vi, unsigned char* buf, ViUInt32 count, ViUInt32* retCnt) {
    json out;
    ViStatus s = handle<S>("viRead", json{{"vi", vi}, {"max", count}}, [&](const VisaApi& v, json* o) {
      ViUInt32 n = 0;
      ViStatus st = v.viRead(vi, buf, count, &n);
      (*o)["data"] = bytes_text(std::string_view(reinterpret_cast<const char*>(buf), std::min(n, count)));
      (*o)["count"] = n;
      return st;
    }, &out);
    copy_bytes(out, "data", buf, count, false);
    if (retCnt != nullptr) *retCnt = static_cast<ViUInt32>(number_field(out, "count"));
    return s;
  }

  static json control_args(ViSession vi, ViInt16 type, ViInt16 request, ViUInt16 value, ViUInt16 index,
                           ViUInt16 length) {
    return json{{"vi", vi}, {"type", type}, {"request", request}, {"value", value}, {"index", index},
                {"length", length}};
  }

  static ViStatus TM_VISA_CALL viUsbControlIn(ViSession vi, ViInt16 type, ViInt16 request, ViUInt16 value,
                                              ViUInt16 index, ViUInt16 length, unsigned char* buf,
                                              ViUInt16* retCnt) {
    json out;
    json args = control_args(vi, type, request, value, index, length);
    ViStatus s = handle<S>("viUsbControlIn", args, [&](const VisaApi& v, json* o) {
      ViUInt16 n = 0;
      ViStatus st = v.viUsbControlIn(vi, type, request, value, index, length, buf, &n);
      (*o)["data"] = bytes_text(std::string_view(reinterpret_cast<const char*>(buf), std::min(n, length)));
      (*o)["count"] = n;
      return st;
    }, &out);
    copy_bytes(out, "data", buf, length, false);
    if (retCnt != nullptr) *retCnt = static_cast<ViUInt16>(number_field(out, "count"));
    return s;
  }

  static ViStatus TM_VISA_CALL viUsbControlOut(ViSession vi, ViInt16 type, ViInt16 request, ViUInt16 value,
                                               ViUInt16 index, ViUInt16 length, unsigned char* buf) {
    json out;
    json args = control_args(vi, type, request, value, index, length);
    args["data"] = bytes_text(std::string_view(reinterpret_cast<const char*>(buf), buf == nullptr ? 0 : length));
    return handle<S>("viUsbControlOut", args, [&](const VisaApi& v, json*) {
      return v.viUsbControlOut(vi, type, request, value, index, length, buf);
    }, &out);
  }

  static constexpr VisaApi kApi{viOpenDefaultRM, viFindRsrc, viFindNext, viOpen, viClose,
                                viSetAttribute, viWrite, viRead, viUsbControlIn, viUsbControlOut};
};

}  // namespace

const VisaApi* handler_visa_api(Slot slot) {
  return slot == kTraceSlot ? &Calls<kTraceSlot>::kApi : &Calls<kReplaySlot>::kApi;
}

void set_call_handler(Slot slot, CallHandler* handler) { g_handlers[slot] = handler; }

CallHandler* call_handler(Slot slot) { return g_handlers[slot]; }

std::string bytes_text(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (char c : bytes) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      text += c;
    } else {  // U+0080 .. U+00FF in UTF-8
      text += static_cast<char>(0xC0 | (b >> 6));
      text += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return text;
}

bool text_bytes(std::string_view text, std::string* bytes) {
  bytes->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      *bytes += static_cast<char>(b);
      continue;
    }
    // Only the two-byte forms of U+0080 .. U+00FF stand for a byte.
    if ((b != 0xC2 && b != 0xC3) || i + 1 >= text.size()) return false;
    unsigned char next = static_cast<unsigned char>(text[++i]);
    if ((next & 0xC0) != 0x80) return false;
    *bytes += static_cast<char>(((b & 0x03) << 6) | (next & 0x3F));
  }
  return true;
}

}  // namespace trace
