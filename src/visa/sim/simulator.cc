#include "visa/sim/simulator.h"

#include <algorithm>
#include <cstring>

#include "platform/native.h"
#include "visa/search_expr.h"

namespace sim {

namespace {

enum ObjectKind { kRm = 1, kList = 2, kSession = 4, kAnyObject = 7 };

constexpr uint32_t kDefaultTimeoutMs = 2000;
constexpr int16_t kVendorOutDevice = 0x40;
constexpr int16_t kVendorOutInterface = 0x41;
constexpr int16_t kVendorInDevice = 0xC0;
constexpr int16_t kDirectionIn = 0x80;

bool same_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto low = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
           return low(x) == low(y);
         });
}

// Room for as many VISA objects open at once as the updater ever has (a
// resource manager, a find list and a session), with some to spare: the
// object table does not grow while an update runs.
constexpr size_t kObjectRoom = 8;

// The longest reply an instrument can queue, so that its output buffer is
// made once.
size_t longest_reply(const InstrumentConfig& c) {
  return std::max({c.main_idn.size(), c.syst_info.size(), c.boot_idn.size(), c.boot_version.size(),
                   c.main_version.size(), 1 + c.echo_suffix.size()});
}

// desc buffers hold VI_FIND_BUFLEN bytes.
void copy_desc(char* desc, std::string_view rsrc) {
  if (!desc) return;
  size_t n = std::min(rsrc.size(), static_cast<size_t>(VI_FIND_BUFLEN - 1));
  memcpy(desc, rsrc.data(), n);
  desc[n] = '\0';
}

}  // namespace

struct Simulator::Instrument {
  Instrument(InstrumentConfig c, bool keep_commands) : cfg(std::move(c)), boot(cfg, keep_commands) {
    output.reserve(longest_reply(cfg));
  }
  InstrumentConfig cfg;  // before boot, which keeps a reference to it
  InstrumentState state = InstrumentState::kMain;
  uint64_t back_at_ms = 0;
  bool never_back = false;
  uint32_t epoch = 0;     // sessions opened in an earlier epoch are dead
  std::string output;     // the reply not yet read
  std::vector<std::string> machine_commands;
  Bootloader boot;
  uint32_t jumps = 0;
};

// A slot of the object table; handle 0 marks a free one. A freed slot keeps
// the memory of its find list for the next list made in it.
struct Simulator::Object {
  ViObject handle = 0;
  int kind = kRm;
  ViSession rm = 0;       // resource manager it was opened through
  size_t instrument = 0;  // kSession
  uint32_t epoch = 0;     // kSession
  uint32_t timeout_ms = kDefaultTimeoutMs;
  std::vector<Found> found;  // kList
  size_t next = 0;           // kList
};

Simulator::Simulator(SimConfig config, Clock& clock)
    : clock_(clock),
      start_ms_(clock.now_ms()),
      faults_(std::move(config.faults)),
      keep_transcript_(config.keep_transcript),
      flash_path_(config.flash_path) {
  for (InstrumentConfig& c : config.instruments) {
    auto inst = std::make_unique<Instrument>(std::move(c), config.keep_commands);
    if (inst->cfg.start == StartState::kBootloader) inst->state = InstrumentState::kBootloader;
    instruments_.push_back(std::move(inst));
  }
  objects_.resize(kObjectRoom);
  for (Object& o : objects_) o.found.reserve(instruments_.size());
  search_.matches.reserve(instruments_.size());
  if (!config.transcript_path.empty()) transcript_file_ = open_file(config.transcript_path.c_str(), "a");
}

Simulator::~Simulator() {
  if (transcript_file_) fclose(transcript_file_);
}

// --- Bookkeeping -----------------------------------------------------------

bool Simulator::nth(const std::vector<uint32_t>& list, uint32_t n) {
  return std::find(list.begin(), list.end(), n) != list.end();
}

// Records are only filled in when someone will read them: a stream of
// commands then costs no copies of its bytes and no allocation.
bool Simulator::recording() const { return keep_transcript_ || transcript_file_ != nullptr; }

void Simulator::note(std::string* field, std::string_view text) const {
  if (recording()) field->assign(text);
}

// Counts the call (all calls, and this function's calls when kind_count is
// given) before anything else, so that the fault lists and fail_from number
// calls as they are made, failed ones included.
CallRecord Simulator::begin(const char* function, ViObject object, uint32_t* kind_count) {
  ++counts_.all;
  if (kind_count) ++*kind_count;
  refresh();
  CallRecord rec;
  rec.time_ms = clock_.now_ms() - start_ms_;
  note(&rec.function, function);
  rec.object = object;
  return rec;
}

ViStatus Simulator::record(CallRecord& rec) {
  if (!recording()) return rec.status;
  std::string_view name;
  if (rec.instrument >= 0) name = instruments_[static_cast<size_t>(rec.instrument)]->cfg.name;
  rec.line = format_call(rec, name);
  if (transcript_file_) {
    fprintf(transcript_file_, "%s\n", rec.line.c_str());
    fflush(transcript_file_);
  }
  ViStatus status = rec.status;
  if (keep_transcript_) transcript_.push_back(std::move(rec));
  return status;
}

// The cable is out (or the updater's process is gone): this call, counted
// by begin(), reaches nothing.
bool Simulator::unplugged() const { return faults_.fail_from != 0 && counts_.all >= faults_.fail_from; }

Simulator::Object* Simulator::object(ViObject h, int kind) {
  if (h == 0) return nullptr;
  for (Object& o : objects_)
    if (o.handle == h) return (o.kind & kind) ? &o : nullptr;
  return nullptr;
}

// A free slot, made ready for an object of this kind; its handle is given
// once the object is made.
Simulator::Object& Simulator::free_slot(int kind) {
  auto it = std::find_if(objects_.begin(), objects_.end(), [](const Object& o) { return o.handle == 0; });
  if (it == objects_.end()) {
    objects_.emplace_back();
    it = objects_.end() - 1;
    it->found.reserve(instruments_.size());
  }
  Object& o = *it;
  o.kind = kind;
  o.rm = 0;
  o.instrument = 0;
  o.epoch = 0;
  o.timeout_ms = kDefaultTimeoutMs;
  o.found.clear();
  o.next = 0;
  return o;
}

size_t Simulator::open_handles() const {
  return static_cast<size_t>(std::count_if(objects_.begin(), objects_.end(), [](const Object& o) { return o.handle != 0; }));
}

// A reboot ends by itself once its time has passed; every call looks first.
void Simulator::refresh() {
  uint64_t now = clock_.now_ms();
  for (auto& inst : instruments_) {
    if (inst->state == InstrumentState::kRebooting && !inst->never_back && now >= inst->back_at_ms) {
      inst->state = InstrumentState::kBootloader;
    }
  }
}

const std::string& Simulator::present_rsrc(const Instrument& inst) const {
  static const std::string kAbsent;
  switch (inst.state) {
    case InstrumentState::kMain: return inst.cfg.main_rsrc;
    case InstrumentState::kBootloader: return inst.cfg.bootloader_rsrc();
    case InstrumentState::kRebooting: break;
  }
  return kAbsent;
}

const std::string& Simulator::rsrc_of(const Found& f) const {
  const InstrumentConfig& c = instruments_[f.instrument]->cfg;
  return f.bootloader ? c.bootloader_rsrc() : c.main_rsrc;
}

// The updater searches with one expression on every connect and reconnect,
// and matching builds an automaton on the heap: the answers for the last
// expression are kept, for both resource strings of every instrument.
bool Simulator::search_valid(const char* expr) {
  if (!search_.known || search_.expr != expr) {
    search_.known = true;
    search_.expr.assign(expr);
    search_.valid = visa_search_match(expr, "") != SearchMatch::kInvalid;
    search_.matches.clear();
    for (const auto& inst : instruments_) {
      bool main = visa_search_match(expr, inst->cfg.main_rsrc) == SearchMatch::kMatch;
      bool boot = visa_search_match(expr, inst->cfg.bootloader_rsrc()) == SearchMatch::kMatch;
      search_.matches.push_back(static_cast<uint8_t>((main ? 1 : 0) | (boot ? 2 : 0)));
    }
  }
  return search_.valid;
}

void Simulator::jump(Instrument& inst) {
  ++inst.epoch;
  ++inst.jumps;
  inst.state = InstrumentState::kRebooting;
  inst.back_at_ms = clock_.now_ms() + inst.cfg.reboot_ms + inst.cfg.faults.late_ms;
  inst.never_back = inst.cfg.faults.never_back;
  inst.output.clear();
}

void Simulator::close_object(ViObject h) {
  Object* closing = object(h, kAnyObject);
  if (!closing) return;
  if (closing->kind == kRm) {
    for (Object& o : objects_)
      if (o.handle != 0 && o.rm == h) o.handle = 0;
  }
  closing->handle = 0;
}

// Finds the session and its instrument; a session from before a jump is dead.
ViStatus Simulator::session_io(ViSession vi, Object** s, Instrument** inst) {
  *s = object(vi, kSession);
  if (unplugged()) return VI_ERROR_CONN_LOST;
  if (!*s) return VI_ERROR_INV_OBJECT;
  *inst = instruments_[(*s)->instrument].get();
  if ((*s)->epoch != (*inst)->epoch) return VI_ERROR_CONN_LOST;
  return VI_SUCCESS;
}

// --- What the instrument does with a write ---------------------------------

void Simulator::main_reply(Instrument& inst, std::string_view bytes) {
  if (is_identity_query(bytes)) {
    inst.output.assign(inst.cfg.main_idn);
  } else if (is_query(bytes, "syst:info?")) {
    inst.output.assign(inst.cfg.syst_info);
  } else {
    inst.machine_commands.emplace_back(bytes);
    inst.output.clear();
  }
}

// The reply replaces what was left unread, in the instrument's own output
// buffer.
void Simulator::deliver(size_t index, std::string_view bytes) {
  Instrument& inst = *instruments_[index];
  ReplyContext ctx{index, inst.state, bytes, nullptr};
  if (inst.state == InstrumentState::kMain) {
    if (!inst.cfg.jump_command.empty() && bytes == inst.cfg.jump_command) return jump(inst);
    main_reply(inst, bytes);
  } else {
    inst.output.assign(inst.boot.receive(bytes));
    ctx.command = inst.boot.last_command();
    if (ctx.command && ctx.command->letter == 'x' && !flash_path_.empty()) write_flash_file(index);
  }
  if (hook_) hook_(ctx, &inst.output);
}

void Simulator::write_flash_file(size_t index) const {
  // With "{name}" in the path each instrument has a file of its own, written
  // when its own image completes: a process per instrument (a fleet run)
  // then never overwrites another instrument's flash.
  constexpr std::string_view kName = "{name}";
  std::string path = flash_path_;
  size_t at = path.find(kName);
  bool own_file = at != std::string::npos;
  if (own_file) path.replace(at, kName.size(), instruments_[index]->cfg.name);
  FILE* f = open_file(path.c_str(), "w");
  if (!f) return;  // the test that reads it sees no file
  for (size_t i = 0; i < instruments_.size(); ++i) {
    if (own_file && i != index) continue;
    const Instrument& inst = *instruments_[i];
    for (const auto& [addr, len] : inst.boot.programmed()) {
      fprintf(f, "%s 0x%08X ", inst.cfg.name.c_str(), static_cast<unsigned>(addr));
      for (uint8_t b : inst.boot.flash(addr, static_cast<size_t>(len))) fprintf(f, "%02X", b);
      fputc('\n', f);
    }
  }
  fclose(f);
}

ViStatus Simulator::vendor_control_out(Instrument& inst, const ControlRequest& c) {
  bool jump_request = inst.cfg.control_jump && c.bRequest == 0 &&
                      (c.bmRequestType == kVendorOutDevice || c.bmRequestType == kVendorOutInterface);
  if (!jump_request) return VI_ERROR_IO;  // the device stalls requests it does not know
  if (inst.state == InstrumentState::kMain) jump(inst);
  return VI_SUCCESS;
}

// --- The ten calls ---------------------------------------------------------

ViStatus Simulator::viOpenDefaultRM(ViSession* rm) {
  CallRecord rec = begin("viOpenDefaultRM", 0, &counts_.rm_opens);
  if (!rm) {
    rec.status = VI_ERROR_INV_PARAMETER;
    return record(rec);
  }
  *rm = VI_NULL;
  if (unplugged() || nth(faults_.fail_rm_open, counts_.rm_opens)) {
    rec.status = VI_ERROR_SYSTEM_ERROR;
    return record(rec);
  }
  ViSession h = next_handle_++;
  free_slot(kRm).handle = h;
  *rm = h;
  rec.result = h;
  return record(rec);
}

ViStatus Simulator::viFindRsrc(ViSession rm, const char* expr, ViFindList* list, ViUInt32* retCnt,
                               char desc[]) {
  CallRecord rec = begin("viFindRsrc", rm, &counts_.searches);
  note(&rec.text, expr ? expr : "");
  if (list) *list = 0;
  if (retCnt) *retCnt = 0;
  copy_desc(desc, "");
  if (unplugged()) {
    rec.status = VI_ERROR_RSRC_NFOUND;  // nothing on the bus
  } else if (!object(rm, kRm)) {
    rec.status = VI_ERROR_INV_OBJECT;
  } else if (!expr || !search_valid(expr)) {
    rec.status = VI_ERROR_INV_EXPR;
  } else {
    Object& found = free_slot(kList);
    found.rm = rm;
    for (size_t i = 0; i < instruments_.size(); ++i) {
      InstrumentState state = instruments_[i]->state;
      bool blind = counts_.searches <= faults_.empty_searches || nth(faults_.fail_search, counts_.searches);
      if (blind || state == InstrumentState::kRebooting) continue;
      bool bootloader = state == InstrumentState::kBootloader;
      if (search_.matches[i] & (bootloader ? 2 : 1)) found.found.push_back({i, bootloader});
    }
    if (found.found.empty()) {
      rec.status = VI_ERROR_RSRC_NFOUND;  // the slot stays free
    } else {
      ViFindList h = next_handle_++;
      found.handle = h;
      rec.value2 = found.found.size();
      note(&rec.in, rsrc_of(found.found[0]));
      rec.result = h;
      found.next = 1;
      copy_desc(desc, rsrc_of(found.found[0]));
      if (retCnt) *retCnt = static_cast<ViUInt32>(found.found.size());
      if (list) *list = h;
    }
  }
  return record(rec);
}

ViStatus Simulator::viFindNext(ViFindList list, char desc[]) {
  CallRecord rec = begin("viFindNext", list);
  copy_desc(desc, "");
  Object* l = object(list, kList);
  if (unplugged()) {
    rec.status = VI_ERROR_RSRC_NFOUND;
  } else if (!l) {
    rec.status = VI_ERROR_INV_OBJECT;
  } else if (l->next >= l->found.size()) {
    rec.status = VI_ERROR_RSRC_NFOUND;
  } else {
    const std::string& rsrc = rsrc_of(l->found[l->next++]);
    note(&rec.in, rsrc);
    copy_desc(desc, rsrc);
  }
  return record(rec);
}

ViStatus Simulator::viOpen(ViSession rm, const char* rsrcName, ViAccessMode mode, ViUInt32 openTimeout,
                           ViSession* vi) {
  CallRecord rec = begin("viOpen", rm, &counts_.opens);
  note(&rec.text, rsrcName ? rsrcName : "");
  rec.value = mode;
  rec.value2 = openTimeout;
  if (vi) *vi = 0;
  if (unplugged()) {
    rec.status = VI_ERROR_RSRC_NFOUND;
  } else if (!object(rm, kRm)) {
    rec.status = VI_ERROR_INV_OBJECT;
  } else if (!rsrcName || !vi) {
    rec.status = !rsrcName ? VI_ERROR_INV_RSRC_NAME : VI_ERROR_INV_PARAMETER;
  } else if (nth(faults_.fail_open, counts_.opens)) {
    rec.status = VI_ERROR_RSRC_BUSY;
  } else {
    rec.status = VI_ERROR_RSRC_NFOUND;
    for (size_t i = 0; i < instruments_.size(); ++i) {
      const std::string& rsrc = present_rsrc(*instruments_[i]);
      if (rsrc.empty() || !same_ignoring_case(rsrc, rsrcName)) continue;
      Object& s = free_slot(kSession);
      s.rm = rm;
      s.instrument = i;
      s.epoch = instruments_[i]->epoch;
      ViSession h = next_handle_++;
      s.handle = h;
      *vi = h;
      rec.result = h;
      rec.instrument = static_cast<int>(i);
      rec.status = VI_SUCCESS;
      break;
    }
  }
  return record(rec);
}

ViStatus Simulator::viClose(ViObject obj) {
  CallRecord rec = begin("viClose", obj);
  if (unplugged()) {
    rec.status = VI_ERROR_CONN_LOST;  // the handle stays, as a killed process leaves it
  } else if (!object(obj, kAnyObject)) {
    rec.status = VI_ERROR_INV_OBJECT;
  } else {
    close_object(obj);
  }
  return record(rec);
}

ViStatus Simulator::viSetAttribute(ViObject vi, ViAttr attr, ViAttrState value) {
  CallRecord rec = begin("viSetAttribute", vi);
  rec.value = attr;
  rec.value2 = static_cast<uint64_t>(value);
  Object* o = object(vi, kAnyObject);
  if (unplugged()) {
    rec.status = VI_ERROR_CONN_LOST;
  } else if (!o) {
    rec.status = VI_ERROR_INV_OBJECT;
  } else if (attr != VI_ATTR_TMO_VALUE || o->kind != kSession) {
    rec.status = VI_ERROR_NSUP_ATTR;
  } else if (rec.value2 > 0xFFFFFFFFu) {
    // A caller that declared ViAttrState 32 bits wide leaves garbage here
    // (on 64-bit targets; on 32-bit ones the type is 32 bits wide).
    rec.status = VI_ERROR_INV_PARAMETER;
  } else {
    o->timeout_ms = static_cast<uint32_t>(value);
  }
  return record(rec);
}

ViStatus Simulator::viWrite(ViSession vi, const unsigned char* buf, ViUInt32 count, ViUInt32* retCnt) {
  CallRecord rec = begin("viWrite", vi, &counts_.writes);
  if (retCnt) *retCnt = 0;
  std::string_view bytes;
  if (buf) bytes = std::string_view(reinterpret_cast<const char*>(buf), count);
  note(&rec.out, bytes);
  Object* s = nullptr;
  Instrument* inst = nullptr;
  rec.status = session_io(vi, &s, &inst);
  if (s) rec.instrument = static_cast<int>(s->instrument);
  if (rec.status != VI_SUCCESS) return record(rec);
  if (!buf && count != 0) {
    rec.status = VI_ERROR_INV_PARAMETER;
  } else if (nth(faults_.fail_write, counts_.writes)) {
    rec.status = VI_ERROR_IO;
  } else {
    deliver(s->instrument, bytes);
    rec.result = count;
    if (retCnt) *retCnt = count;
  }
  return record(rec);
}

ViStatus Simulator::viRead(ViSession vi, unsigned char* buf, ViUInt32 count, ViUInt32* retCnt) {
  CallRecord rec = begin("viRead", vi, &counts_.reads);
  rec.value = count;
  if (retCnt) *retCnt = 0;
  Object* s = nullptr;
  Instrument* inst = nullptr;
  rec.status = session_io(vi, &s, &inst);
  if (s) rec.instrument = static_cast<int>(s->instrument);
  if (rec.status != VI_SUCCESS) return record(rec);
  bool timed_out = nth(faults_.timeout_read, counts_.reads) || inst->output.empty();
  if (!buf && count != 0) {
    rec.status = VI_ERROR_INV_PARAMETER;
  } else if (nth(faults_.fail_read, counts_.reads)) {
    inst->output.clear();
    rec.status = VI_ERROR_IO;
  } else if (timed_out) {
    inst->output.clear();
    if (s->timeout_ms != VI_TMO_INFINITE) clock_.wait_ms(s->timeout_ms);
    rec.status = VI_ERROR_TMO;
  } else {
    size_t n = std::min<size_t>(count, inst->output.size());
    memcpy(buf, inst->output.data(), n);
    note(&rec.in, std::string_view(inst->output).substr(0, n));
    inst->output.erase(0, n);
    rec.result = static_cast<ViUInt32>(n);
    if (retCnt) *retCnt = static_cast<ViUInt32>(n);
    rec.status = inst->output.empty() ? VI_SUCCESS : VI_SUCCESS_MAX_CNT;
  }
  return record(rec);
}

ViStatus Simulator::viUsbControlIn(ViSession vi, ViInt16 bmRequestType, ViInt16 bRequest, ViUInt16 wValue,
                                   ViUInt16 wIndex, ViUInt16 wLength, unsigned char* buf, ViUInt16* retCnt) {
  CallRecord rec = begin("viUsbControlIn", vi, &counts_.control_ins);
  rec.control = ControlRequest{true, bmRequestType, bRequest, wValue, wIndex, wLength, "", VI_SUCCESS};
  if (retCnt) *retCnt = 0;
  Object* s = nullptr;
  Instrument* inst = nullptr;
  rec.status = session_io(vi, &s, &inst);
  if (s) rec.instrument = static_cast<int>(s->instrument);
  if (rec.status != VI_SUCCESS) return record(rec);
  if (!(bmRequestType & kDirectionIn) || (!buf && wLength != 0)) {
    rec.status = VI_ERROR_INV_PARAMETER;
  } else if (nth(faults_.fail_control_in, counts_.control_ins)) {
    rec.status = VI_ERROR_IO;
  } else if (bmRequestType != kVendorInDevice || bRequest != 0) {
    rec.status = VI_ERROR_IO;
  } else {
    const std::string& text =
        inst->state == InstrumentState::kMain ? inst->cfg.main_control_in : inst->cfg.boot_control_in;
    size_t n = std::min<size_t>(wLength, text.size());
    memcpy(buf, text.data(), n);
    note(&rec.control.data, std::string_view(text).substr(0, n));
    note(&rec.in, rec.control.data);
    rec.result = static_cast<ViUInt32>(n);
    if (retCnt) *retCnt = static_cast<ViUInt16>(n);
  }
  return record(rec);
}

ViStatus Simulator::viUsbControlOut(ViSession vi, ViInt16 bmRequestType, ViInt16 bRequest, ViUInt16 wValue,
                                    ViUInt16 wIndex, ViUInt16 wLength, unsigned char* buf) {
  CallRecord rec = begin("viUsbControlOut", vi, &counts_.control_outs);
  rec.control = ControlRequest{false, bmRequestType, bRequest, wValue, wIndex, wLength, "", VI_SUCCESS};
  if (buf) note(&rec.control.data, std::string_view(reinterpret_cast<const char*>(buf), wLength));
  Object* s = nullptr;
  Instrument* inst = nullptr;
  rec.status = session_io(vi, &s, &inst);
  if (s) rec.instrument = static_cast<int>(s->instrument);
  if (rec.status != VI_SUCCESS) return record(rec);
  if ((bmRequestType & kDirectionIn) || (!buf && wLength != 0)) {
    rec.status = VI_ERROR_INV_PARAMETER;
  } else if (nth(faults_.fail_control_out, counts_.control_outs)) {
    rec.status = VI_ERROR_IO;  // lost on the way: the instrument does not jump
  } else {
    rec.status = vendor_control_out(*inst, rec.control);
  }
  return record(rec);
}

// --- For tests -------------------------------------------------------------

int Simulator::instrument_index(std::string_view name) const {
  for (size_t i = 0; i < instruments_.size(); ++i)
    if (instruments_[i]->cfg.name == name) return static_cast<int>(i);
  return -1;
}

const InstrumentConfig& Simulator::config(size_t i) const { return instruments_.at(i)->cfg; }

InstrumentState Simulator::state(size_t i) {
  refresh();
  return instruments_.at(i)->state;
}

uint32_t Simulator::jumps(size_t i) const { return instruments_.at(i)->jumps; }

const std::vector<std::string>& Simulator::machine_commands(size_t i) const {
  return instruments_.at(i)->machine_commands;
}

const Bootloader& Simulator::bootloader(size_t i) const { return instruments_.at(i)->boot; }

std::vector<uint8_t> Simulator::flash(size_t i, uint32_t addr, size_t len) const {
  return instruments_.at(i)->boot.flash(addr, len);
}

std::string Simulator::transcript_text() const {
  std::string out;
  for (const CallRecord& rec : transcript_) out += rec.line + "\n";
  return out;
}

std::vector<std::string> Simulator::writes_to(size_t i) const {
  std::vector<std::string> out;
  for (const CallRecord& rec : transcript_) {
    if (rec.function == "viWrite" && rec.status == VI_SUCCESS && rec.instrument == static_cast<int>(i))
      out.push_back(rec.out);
  }
  return out;
}

std::string Simulator::bytes_written_to(size_t i) const {
  std::string out;
  for (const std::string& w : writes_to(i)) out += w;
  return out;
}

std::vector<ControlRequest> Simulator::control_requests(size_t i) const {
  std::vector<ControlRequest> out;
  for (const CallRecord& rec : transcript_) {
    bool control = rec.function == "viUsbControlIn" || rec.function == "viUsbControlOut";
    if (!control || rec.instrument != static_cast<int>(i)) continue;
    out.push_back(rec.control);
    out.back().status = rec.status;
  }
  return out;
}

SimConfig default_sim_config() {
  SimConfig c;
  c.instruments.emplace_back();
  c.instruments.back().boot_rsrc = "USB0::0x1234::0x5679::SIM0001::INSTR";
  return c;
}

}  // namespace sim
