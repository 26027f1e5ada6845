// Simulated USB instruments behind the ten VISA calls: a model good enough
// to run every job of the updater end to end, with faults on demand and a
// transcript of every call.
//
// VISA objects. viOpenDefaultRM makes a new resource-manager session on
// every call. viFindRsrc matches the search expression (search_expr.h, whole
// string) against the resource strings of the instruments present now, in
// instrument order: VI_ERROR_INV_EXPR for a malformed expression,
// VI_ERROR_RSRC_NFOUND with count 0 when nothing matches; its find list is
// walked with viFindNext (VI_ERROR_RSRC_NFOUND past the end). viOpen reaches
// a present instrument by its resource string (any case; VI_ERROR_RSRC_NFOUND
// when absent). viClose ends a session or a find list; closing a resource
// manager ends everything opened through it. A closed or unknown handle gives
// VI_ERROR_INV_OBJECT. Handles are never reused. viSetAttribute knows only
// VI_ATTR_TMO_VALUE of an instrument session (default 2000 ms; other
// attributes VI_ERROR_NSUP_ATTR; a value above 32 bits VI_ERROR_INV_PARAMETER).
//
// I/O. Each instrument has one output queue. A write that is answered queues
// the reply, replacing what was left unread (as a 488.2 instrument discards
// its output on a new command). viRead returns the queued bytes: VI_SUCCESS
// when the rest of the reply fits, VI_SUCCESS_MAX_CNT when it does not (the
// rest stays queued). With nothing queued it waits the session's time-out on
// the Clock and gives VI_ERROR_TMO; with VI_TMO_INFINITE it gives VI_ERROR_TMO
// at once, since no reply could ever arrive.
//
// Main firmware. "*IDN?" in any case (with or without its line end) and
// "syst:info?" are answered; the jump command, written exactly, or the vendor
// control-OUT requests 0x40 / 0x41 with bRequest 0 (when control_jump is set)
// make it jump; every other write is recorded as a machine command. The
// control-IN request 0xC0 / bRequest 0 returns the control-IN text, cut to
// wLength; other vendor requests stall (VI_ERROR_IO).
//
// The jump. The sessions to the main firmware die (their I/O gives
// VI_ERROR_CONN_LOST), the instrument is absent from searches and opens for
// its reboot time on the Clock (plus the late fault, or for ever), then it is
// present under its bootloader resource string, running the bootloader
// (bootloader.h).
//
// Faults on demand: sim_config.h. Tests may also install a reply hook.
//
// Time comes from the Clock: the recording platform's virtual time in tests,
// RealClock from the command line. Calls must come from one thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "visa/sim/bootloader.h"
#include "visa/sim/sim_config.h"
#include "visa/sim/transcript.h"
#include "visa/visa_types.h"

namespace sim {

enum class InstrumentState { kMain, kRebooting, kBootloader };

// What a reply hook sees of a write that is about to be answered.
struct ReplyContext {
  size_t instrument;
  InstrumentState state;        // kMain or kBootloader
  std::string_view written;     // the bytes of the write
  const BootCommand* command;   // the decoded bootloader command, or nullptr;
                                // valid during the call
};

// Called for every write that reaches an instrument (except one that makes it
// jump), after the instrument has decided its reply; it may change *reply.
// An empty reply queues nothing, so the next read times out. The bootloader's
// command list keeps the reply the bootloader itself chose.
using ReplyHook = std::function<void(const ReplyContext&, std::string* reply)>;

class Simulator {
 public:
  // The clock must outlive the simulator.
  Simulator(SimConfig config, Clock& clock);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // The ten VISA calls, with the C ABI's arguments.
  ViStatus viOpenDefaultRM(ViSession* rm);
  ViStatus viFindRsrc(ViSession rm, const char* expr, ViFindList* list, ViUInt32* retCnt, char desc[]);
  ViStatus viFindNext(ViFindList list, char desc[]);
  ViStatus viOpen(ViSession rm, const char* rsrcName, ViAccessMode mode, ViUInt32 openTimeout, ViSession* vi);
  ViStatus viClose(ViObject obj);
  ViStatus viSetAttribute(ViObject vi, ViAttr attr, ViAttrState value);
  ViStatus viWrite(ViSession vi, const unsigned char* buf, ViUInt32 count, ViUInt32* retCnt);
  ViStatus viRead(ViSession vi, unsigned char* buf, ViUInt32 count, ViUInt32* retCnt);
  ViStatus viUsbControlIn(ViSession vi, ViInt16 bmRequestType, ViInt16 bRequest, ViUInt16 wValue,
                          ViUInt16 wIndex, ViUInt16 wLength, unsigned char* buf, ViUInt16* retCnt);
  ViStatus viUsbControlOut(ViSession vi, ViInt16 bmRequestType, ViInt16 bRequest, ViUInt16 wValue,
                           ViUInt16 wIndex, ViUInt16 wLength, unsigned char* buf);

  // --- For tests ---------------------------------------------------------

  size_t instrument_count() const { return instruments_.size(); }
  // Index of the instrument with this name, or -1.
  int instrument_index(std::string_view name) const;
  const InstrumentConfig& config(size_t i) const;
  // The state now (a reboot whose time has passed has ended).
  InstrumentState state(size_t i);
  // Jumps to the bootloader so far.
  uint32_t jumps(size_t i) const;
  // Texts written to the main firmware that it took as machine commands.
  const std::vector<std::string>& machine_commands(size_t i) const;
  // The bootloader: its decoded commands, errors and flash.
  const Bootloader& bootloader(size_t i) const;
  std::vector<uint8_t> flash(size_t i, uint32_t addr, size_t len) const;

  // Every call so far; empty unless the configuration keeps it
  // (SimConfig::keep_transcript).
  const std::vector<CallRecord>& transcript() const { return transcript_; }
  // The transcript, one line per call, each ending in "\n".
  std::string transcript_text() const;
  // Each successful write to instrument i, in order.
  std::vector<std::string> writes_to(size_t i) const;
  // All bytes written to instrument i, in order, as one string.
  std::string bytes_written_to(size_t i) const;
  // The control requests (in and out) made on sessions to instrument i, in
  // order, with their status.
  std::vector<ControlRequest> control_requests(size_t i) const;
  // Handles (sessions, find lists, resource managers) not yet closed.
  size_t open_handles() const;

  void set_reply_hook(ReplyHook hook) { hook_ = std::move(hook); }

  // Replaces the global faults from the next call on; call numbers go on
  // counting over the simulator's lifetime. A test plugs the cable back in
  // (clears fail_from) before a fresh updater meets the same instruments.
  void set_faults(GlobalFaults faults) { faults_ = std::move(faults); }
  // The calls made so far, by function.
  const CallCounts& call_counts() const { return counts_; }

  // False when the configuration names a transcript file that could not be
  // opened for appending (or names none).
  bool transcript_file_open() const { return transcript_file_ != nullptr; }

 private:
  struct Instrument;
  struct Object;
  // An entry of a find list: an instrument and the program it ran when found.
  struct Found {
    size_t instrument;
    bool bootloader;
  };
  struct SearchCache {
    bool known = false;  // expr has been matched
    std::string expr;
    bool valid = false;
    std::vector<uint8_t> matches;  // per instrument: 1 main, 2 bootloader resource string
  };

  Object* object(ViObject h, int kind);
  Object& free_slot(int kind);
  Instrument* session_target(const Object& s);
  ViStatus session_io(ViSession vi, Object** s, Instrument** inst);
  void refresh();
  void jump(Instrument& inst);
  const std::string& present_rsrc(const Instrument& inst) const;
  const std::string& rsrc_of(const Found& f) const;
  bool search_valid(const char* expr);
  void deliver(size_t index, std::string_view bytes);
  void main_reply(Instrument& inst, std::string_view bytes);
  ViStatus vendor_control_out(Instrument& inst, const ControlRequest& c);
  bool recording() const;
  void note(std::string* field, std::string_view text) const;
  ViStatus record(CallRecord& rec);
  CallRecord begin(const char* function, ViObject object, uint32_t* kind_count = nullptr);
  bool unplugged() const;
  static bool nth(const std::vector<uint32_t>& list, uint32_t n);
  void close_object(ViObject h);
  void write_flash_file(size_t index) const;

  Clock& clock_;
  uint64_t start_ms_;
  GlobalFaults faults_;
  std::vector<std::unique_ptr<Instrument>> instruments_;
  std::vector<Object> objects_;  // slots; handle 0 is free
  SearchCache search_;
  ViObject next_handle_ = 1;
  std::vector<CallRecord> transcript_;
  FILE* transcript_file_ = nullptr;
  bool keep_transcript_ = true;
  std::string flash_path_;
  ReplyHook hook_;
  CallCounts counts_;
};

}  // namespace sim
