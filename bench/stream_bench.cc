// The updater's and the simulator's own cost while a binary package section
// streams, and the memory `tmflash --visa=sim:FILE` needs; `make bench` runs
// it and the README's performance section shows its figures.
//
// For text and binary mode, each without and with a command header, a
// package with one binary section (chunk 255, the largest the format allows;
// erase step 0x1000) runs as a whole package job against the in-process
// simulated instrument in virtual time. Per data command (its share of the
// erase and other commands included) the bench prints:
//   updater    instructions and ns of the updater alone: what runs inside the
//              simulator and the platform (console, clock) is not counted; for
//              the ns the simulator is replaced by an echo for every
//              bootloader command except the version queries
//   floor      the least any updater must do for the same bytes, in the same
//              run: a table hex encode (text mode) or a copy (binary mode),
//              the frame, one write and one read call, a 2-byte compare
//   ratio      updater / floor
//   simulator  instructions at 1 MiB and at 16 MiB
//   MB/s       image bytes (MB = 10^6) per second of CPU time, end to end with
//              the simulator and its flash model, 16 MiB; the flash is checked
//   allocs     heap allocations (operator new) per data command from the first
//              data command to the end command, updater and simulator
//   prints     console writes per data command
// and first the peak RSS of `tmflash --visa=sim:FILE` running a 1 MiB and a
// 256 MiB package in binary mode, with and without the simulator's flash
// model. Packages are generated in the temporary directory and removed.
//
// Instruction counts come from callgrind (valgrind on PATH): the bench runs
// itself under it once per figure and collects only while the measured side
// runs (every call between the updater and the simulator or the platform
// toggles the collection). They do not depend on the machine or its load and
// are the figures of record; times are the best of three runs.
//
// Usage: stream_bench [all | instructions | time | rss]     (default all)
//        stream_bench count updater|simulator|floor FRAMING BYTES
//          one run under callgrind, for the above; FRAMING is text,
//          text+header, binary or binary+header
//        stream_bench package PATH FRAMING BYTES
//          writes a package, for the above
#if defined(_WIN32)
#include <cstdio>
int main() {
  fprintf(stderr, "stream_bench runs on Linux only\n");
  return 0;
}
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "driver/jobs.h"
#include "driver/updater.h"
#include "package/package_writer.h"
#include "support/recording_platform.h"
#include "visa/sim/sim_api.h"
#include "visa/sim/simulator.h"

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_TOGGLE_COLLECT
#endif

extern char** environ;

// --- Who runs now: allocation counts by side --------------------------------

namespace {

enum Side { kOutside, kUpdater, kSimulator, kSides };

Side g_side = kOutside;
bool g_count_allocs = false;
size_t g_allocs[kSides] = {};

// Runs its scope as side s.
struct On {
  explicit On(Side s) : before(g_side) { g_side = s; }
  ~On() { g_side = before; }
  Side before;
};

// In a callgrind run every crossing between the updater and the rest (the
// simulator, the platform) toggles the collection and does nothing else, so
// that the side measured is charged nothing of the bench's own.
struct Toggle {
  Toggle() { CALLGRIND_TOGGLE_COLLECT; }
  ~Toggle() { CALLGRIND_TOGGLE_COLLECT; }
};

[[gnu::noinline]] void release(void* p) noexcept { std::free(p); }

}  // namespace

void* operator new(std::size_t n) {
  if (g_count_allocs) ++g_allocs[g_side];
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t n) { return ::operator new(n); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }

namespace {

constexpr int32_t kChunk = 255;
constexpr int32_t kEraseStep = 0x1000;
constexpr size_t kMiB = size_t{1} << 20;
constexpr size_t kCountImage = 1 * kMiB;     // instruction counts
constexpr size_t kFlatImage = 16 * kMiB;     // the simulator's count, flat in the size
constexpr size_t kTimeImage = 16 * kMiB;     // times and MB/s
constexpr size_t kRssImages[] = {1 * kMiB, 256 * kMiB};
constexpr int kTimeRuns = 3;

struct Framing {
  const char* name;
  bool binary;
  const char* header;  // "" for none
};

constexpr Framing kFramings[] = {
    {"text", false, ""},
    {"text+header", false, ":FW:UPD"},
    {"binary", true, ""},
    {"binary+header", true, ":FW:UPD"},
};

size_t data_commands(size_t image) { return (image + kChunk - 1) / kChunk; }

double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

std::vector<uint8_t> image_bytes(size_t n) {
  std::vector<uint8_t> out(n);
  uint32_t x = 0x12345678;
  for (uint8_t& b : out) {
    x = x * 1103515245u + 12345u;  // any pattern that is not the same at every chunk
    b = static_cast<uint8_t>(x >> 24);
  }
  return out;
}

std::string temp_path(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("tmflash-bench-" + std::to_string(getpid()) + "-" + name))
      .string();
}

bool write_file(const std::string& path, const void* data, size_t size) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = fwrite(data, 1, size, f) == size;
  return fclose(f) == 0 && ok;
}

// A package with one binary section of image for the default simulated
// instrument, written to path.
bool write_package(const std::string& path, const Framing& f, const std::vector<uint8_t>& image) {
  PackagePlan plan;
  plan.device_code = "SIM1000";  // what the default instrument reports
  plan.run_order = {0};
  plan.sections[0] = binary_section({0, static_cast<int32_t>(image.size()) - 1, kChunk, kEraseStep}, image);
  SectionPlan& s = *plan.sections[0];
  s.boot_version = "2.10";
  s.kind = "HW3";
  s.jump_command = "SYST:BOOT";
  s.binary_flag = f.binary ? 1 : 0;
  s.command_header = f.header;
  std::vector<uint8_t> bytes;
  std::string error;
  if (!build_package(plan, &bytes, &error)) {
    fprintf(stderr, "cannot build the package: %s\n", error.c_str());
    return false;
  }
  if (!write_file(path, bytes.data(), bytes.size())) {
    fprintf(stderr, "cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

// --- The package job against the simulator, sides kept apart ---------------

// The command letter of a bootloader command framed as f frames it, or 0 for
// any other write (the main firmware's queries and jump command).
char command_letter(const Framing& f, std::string_view m) {
  size_t header = f.header[0] != '\0' ? strlen(f.header) + 1 : 0;
  if (m.size() < header + 3) return 0;
  m.remove_prefix(header);
  if (!f.binary) return m.front() == '"' && m.back() == '"' ? m[2] : 0;
  if (m.back() != '$') return 0;
  if (header != 0) {  // "#<n><length>" before the frame
    if (m[0] != '#' || m[1] < '1' || m[1] > '9') return 0;
    size_t block = 2 + static_cast<size_t>(m[1] - '0');
    if (m.size() < block + 3) return 0;
    m.remove_prefix(block);
  }
  auto code = static_cast<unsigned char>(m[1]);
  return code < 12 ? "ewdqlbvmrcxt"[code] : 0;
}

struct JobRun {
  const Framing* framing = nullptr;
  bool echo_only = false;  // the bench echoes bootloader commands in place of the simulator
  size_t data_commands = 0;
  char echo = 0;           // the letter of an echo not yet read
};

JobRun* g_run = nullptr;

const VisaApi& simulator() { return *sim::simulator_visa_api(); }

ViStatus TM_VISA_CALL bench_open_default_rm(ViSession* rm) {
  On s(kSimulator);
  return simulator().viOpenDefaultRM(rm);
}
ViStatus TM_VISA_CALL bench_find_rsrc(ViSession rm, const char* expr, ViFindList* list, ViUInt32* count, char desc[]) {
  On s(kSimulator);
  return simulator().viFindRsrc(rm, expr, list, count, desc);
}
ViStatus TM_VISA_CALL bench_find_next(ViFindList list, char desc[]) {
  On s(kSimulator);
  return simulator().viFindNext(list, desc);
}
ViStatus TM_VISA_CALL bench_open(ViSession rm, const char* rsrc, ViAccessMode mode, ViUInt32 timeout, ViSession* vi) {
  On s(kSimulator);
  return simulator().viOpen(rm, rsrc, mode, timeout, vi);
}
ViStatus TM_VISA_CALL bench_close(ViObject obj) {
  On s(kSimulator);
  return simulator().viClose(obj);
}
ViStatus TM_VISA_CALL bench_set_attribute(ViObject vi, ViAttr attr, ViAttrState value) {
  On s(kSimulator);
  return simulator().viSetAttribute(vi, attr, value);
}
ViStatus TM_VISA_CALL bench_write(ViSession vi, const unsigned char* buf, ViUInt32 count, ViUInt32* ret) {
  On outside(kOutside);
  JobRun& run = *g_run;
  char letter = buf ? command_letter(*run.framing, {reinterpret_cast<const char*>(buf), count}) : 0;
  if (letter == 'd' && run.data_commands++ == 0) g_count_allocs = true;
  if (letter == 'x') g_count_allocs = false;
  if (run.echo_only && letter != 0 && letter != 'r') {
    run.echo = letter;
    if (ret) *ret = count;
    return VI_SUCCESS;
  }
  On s(kSimulator);
  return simulator().viWrite(vi, buf, count, ret);
}
ViStatus TM_VISA_CALL bench_read(ViSession vi, unsigned char* buf, ViUInt32 count, ViUInt32* ret) {
  On outside(kOutside);
  JobRun& run = *g_run;
  if (run.echo != 0 && count >= 2) {
    buf[0] = static_cast<unsigned char>(run.echo);
    buf[1] = '\n';
    run.echo = 0;
    if (ret) *ret = 2;
    return VI_SUCCESS;
  }
  On s(kSimulator);
  return simulator().viRead(vi, buf, count, ret);
}
ViStatus TM_VISA_CALL bench_control_in(ViSession vi, ViInt16 type, ViInt16 request, ViUInt16 value, ViUInt16 index,
                                 ViUInt16 length, unsigned char* buf, ViUInt16* ret) {
  On s(kSimulator);
  return simulator().viUsbControlIn(vi, type, request, value, index, length, buf, ret);
}
ViStatus TM_VISA_CALL bench_control_out(ViSession vi, ViInt16 type, ViInt16 request, ViUInt16 value, ViUInt16 index,
                                  ViUInt16 length, unsigned char* buf) {
  On s(kSimulator);
  return simulator().viUsbControlOut(vi, type, request, value, index, length, buf);
}

constexpr VisaApi kBenchVisa = {bench_open_default_rm, bench_find_rsrc, bench_find_next, bench_open,
                                bench_close,           bench_set_attribute, bench_write, bench_read,
                                bench_control_in,      bench_control_out};

ViStatus TM_VISA_CALL toggled_open_default_rm(ViSession* rm) {
  Toggle t;
  return simulator().viOpenDefaultRM(rm);
}
ViStatus TM_VISA_CALL toggled_find_rsrc(ViSession rm, const char* expr, ViFindList* list, ViUInt32* count,
                                        char desc[]) {
  Toggle t;
  return simulator().viFindRsrc(rm, expr, list, count, desc);
}
ViStatus TM_VISA_CALL toggled_find_next(ViFindList list, char desc[]) {
  Toggle t;
  return simulator().viFindNext(list, desc);
}
ViStatus TM_VISA_CALL toggled_open(ViSession rm, const char* rsrc, ViAccessMode mode, ViUInt32 timeout,
                                   ViSession* vi) {
  Toggle t;
  return simulator().viOpen(rm, rsrc, mode, timeout, vi);
}
ViStatus TM_VISA_CALL toggled_close(ViObject obj) {
  Toggle t;
  return simulator().viClose(obj);
}
ViStatus TM_VISA_CALL toggled_set_attribute(ViObject vi, ViAttr attr, ViAttrState value) {
  Toggle t;
  return simulator().viSetAttribute(vi, attr, value);
}
ViStatus TM_VISA_CALL toggled_write(ViSession vi, const unsigned char* buf, ViUInt32 count, ViUInt32* ret) {
  Toggle t;
  return simulator().viWrite(vi, buf, count, ret);
}
ViStatus TM_VISA_CALL toggled_read(ViSession vi, unsigned char* buf, ViUInt32 count, ViUInt32* ret) {
  Toggle t;
  return simulator().viRead(vi, buf, count, ret);
}
ViStatus TM_VISA_CALL toggled_control_in(ViSession vi, ViInt16 type, ViInt16 request, ViUInt16 value,
                                         ViUInt16 index, ViUInt16 length, unsigned char* buf, ViUInt16* ret) {
  Toggle t;
  return simulator().viUsbControlIn(vi, type, request, value, index, length, buf, ret);
}
ViStatus TM_VISA_CALL toggled_control_out(ViSession vi, ViInt16 type, ViInt16 request, ViUInt16 value,
                                          ViUInt16 index, ViUInt16 length, unsigned char* buf) {
  Toggle t;
  return simulator().viUsbControlOut(vi, type, request, value, index, length, buf);
}

constexpr VisaApi kToggledVisa = {toggled_open_default_rm, toggled_find_rsrc, toggled_find_next, toggled_open,
                                  toggled_close,           toggled_set_attribute, toggled_write, toggled_read,
                                  toggled_control_in,      toggled_control_out};

class BenchVisa : public VisaBackend {
 public:
  explicit BenchVisa(const VisaApi* api) : api_(api) {}
  const VisaApi* load(std::string*) override { return api_; }

 private:
  const VisaApi* api_;
};

// The console, the operator and the clock: the operating system's side,
// entered as Scope says (On for allocation counts, Toggle for callgrind).
template <typename Scope>
class OutsidePlatform : public Platform {
 public:
  explicit OutsidePlatform(RecordingPlatform& inner) : inner_(inner) {}
  void print(int colour, std::string_view text) override {
    Scope o = enter();
    inner_.print(colour, text);
  }
  void print_error(int colour, std::string_view text) override {
    Scope o = enter();
    inner_.print_error(colour, text);
  }
  void pause() override {
    Scope o = enter();
    inner_.pause();
  }
  int shell(const char* command) override {
    Scope o = enter();
    return inner_.shell(command);
  }
  void sleep_ms(uint32_t ms) override {
    Scope o = enter();
    inner_.sleep_ms(ms);
  }
  InputResult read_number(int* value) override {
    Scope o = enter();
    return inner_.read_number(value);
  }

 private:
  static Scope enter() {
    if constexpr (std::is_same_v<Scope, On>) {
      return On(kOutside);
    } else {
      return Scope();
    }
  }
  RecordingPlatform& inner_;
};

struct JobResult {
  bool ok = false;
  double cpu_s = 0;
  size_t data_commands = 0;
  size_t allocs[kSides] = {};
  uint64_t prints = 0;
};

// How a job runs: timed (the bench keeps count of allocations and data
// commands, and may echo in place of the simulator), or counted by callgrind
// for the updater or for the simulator.
enum class Mode { kTimed, kEchoed, kCountUpdater, kCountSimulator };

// Runs the package at path as a package job. With check set, the flash must
// hold it afterwards.
JobResult run_job(const Framing& f, const std::string& path, Mode mode, const std::vector<uint8_t>* check) {
  bool counted = mode == Mode::kCountUpdater || mode == Mode::kCountSimulator;
  RecordingPlatform os;
  os.keep_prints = false;
  os.answer("0");
  OutsidePlatform<On> outside(os);
  OutsidePlatform<Toggle> toggled(os);
  sim::Simulator sim(sim::default_sim_config(), os);  // keeps no transcript
  sim::ScopedActiveSimulator active(sim);
  BenchVisa visa(counted ? &kToggledVisa : &kBenchVisa);
  Updater u(counted ? static_cast<Platform&>(toggled) : outside, &visa);
  JobRun run;
  run.framing = &f;
  run.echo_only = mode == Mode::kEchoed;
  g_run = &run;
  std::fill(std::begin(g_allocs), std::end(g_allocs), 0);

  JobResult r;
  double start = cpu_seconds();
  int status = 0;
  if (mode == Mode::kCountUpdater) {
    Toggle updater;
    status = package_job(u, path.c_str(), -1);
  } else {
    On updater(kUpdater);
    status = package_job(u, path.c_str(), -1);
  }
  r.cpu_s = cpu_seconds() - start;
  g_count_allocs = false;
  g_run = nullptr;
  r.data_commands = counted ? sim.bootloader(0).command_count('d') : run.data_commands;
  std::copy(std::begin(g_allocs), std::end(g_allocs), std::begin(r.allocs));
  r.prints = os.print_count();
  if (status != 0) {
    fprintf(stderr, "%s: the package job failed\n", f.name);
    return r;
  }
  if (check && (!sim.bootloader(0).errors().empty() || sim.flash(0, 0, check->size()) != *check)) {
    fprintf(stderr, "%s: the flash does not hold the image\n", f.name);
    return r;
  }
  r.ok = true;
  return r;
}

// --- The floor ---------------------------------------------------------------

[[gnu::noinline]] ViStatus TM_VISA_CALL sink_write(ViSession, const unsigned char*, ViUInt32 count,
                                                   ViUInt32* ret) {
  *ret = count;
  return VI_SUCCESS;
}
[[gnu::noinline]] ViStatus TM_VISA_CALL sink_read(ViSession, unsigned char* buf, ViUInt32, ViUInt32* ret) {
  buf[0] = 'd';
  buf[1] = '\n';
  *ret = 2;
  return VI_SUCCESS;
}
VisaApi g_sink = [] {
  VisaApi api{};
  api.viWrite = sink_write;
  api.viRead = sink_read;
  return api;
}();
VisaApi* volatile g_sink_api = &g_sink;  // volatile: the calls stay calls through a table

struct HexTable {
  char pair[256][2];
  HexTable() {
    const char* digits = "0123456789ABCDEF";
    for (int b = 0; b < 256; ++b) {
      pair[b][0] = digits[b >> 4];
      pair[b][1] = digits[b & 15];
    }
  }
};

// '#', the digit count and the decimal length of a frame.
char* block_header(char* p, size_t length) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + length % 10);
    length /= 10;
  } while (length != 0);
  *p++ = '#';
  *p++ = static_cast<char>('0' + n);
  while (n > 0) *p++ = digits[--n];
  return p;
}

// What any updater must do per data command, over the whole image. Returns
// the number of commands whose echo matched.
size_t floor_run(const Framing& f, const std::vector<uint8_t>& image) {
  static const HexTable hex;
  const VisaApi& api = *g_sink_api;
  size_t header = strlen(f.header);
  char out[kDataSize];
  unsigned char reply[100];
  size_t matched = 0;
  for (size_t at = 0; at < image.size(); at += kChunk) {
    size_t n = std::min(image.size() - at, static_cast<size_t>(kChunk));
    const uint8_t* bytes = image.data() + at;
    char* p = out;
    if (header != 0) {
      memcpy(p, f.header, header);
      p += header;
      *p++ = ' ';
    }
    if (!f.binary) {
      memcpy(p, "\"&d#", 4);
      p += 4;
      for (size_t i = 0; i < n; ++i, p += 2) memcpy(p, hex.pair[bytes[i]], 2);
      memcpy(p, "$\"", 2);
      p += 2;
    } else {
      if (header != 0) p = block_header(p, n + 4);
      memcpy(p, "&\x02#", 3);
      memcpy(p + 3, bytes, n);
      p += 3 + n;
      *p++ = '$';
    }
    ViUInt32 sent = 0, got = 0;
    api.viWrite(1, reinterpret_cast<unsigned char*>(out), static_cast<ViUInt32>(p - out), &sent);
    api.viRead(1, reply, sizeof reply, &got);
    matched += got == 2 && reply[0] == 'd' && reply[1] == '\n';
  }
  return matched;
}

// --- Running children: callgrind, tmflash -------------------------------------

std::string self_path() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// Runs argv with stdin from the text given and stdout, stderr to /dev/null.
// Returns the exit status (-1 when it could not run or was killed) and the
// peak RSS in KiB in *max_rss_kib.
int run_child(const std::vector<std::string>& args, const std::string& input, long* max_rss_kib) {
  int in[2];
  if (pipe(in) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_addclose(&actions, in[1]);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  if (getenv("STREAM_BENCH_STDERR") == nullptr) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  if (spawned != 0) {
    ::close(in[1]);
    return -1;
  }
  ssize_t ignored = ::write(in[1], input.data(), input.size());
  (void)ignored;
  ::close(in[1]);
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return -1;
  if (max_rss_kib) *max_rss_kib = usage.ru_maxrss;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool have_valgrind() {
  long rss = 0;
  return run_child({"valgrind", "--version"}, "", &rss) == 0;
}

// The instructions callgrind counted for what on framing f over an image of
// size bytes, or -1.
double callgrind_count(const char* what, const Framing& f, size_t size) {
  std::string out = temp_path(std::string("callgrind-") + what + "-" + f.name);
  long rss = 0;
  int status = run_child({"valgrind", "--tool=callgrind", "--collect-atstart=no", "--callgrind-out-file=" + out,
                          self_path(), "count", what, f.name, std::to_string(size)},
                         "", &rss);
  std::ifstream in(out);
  std::string line;
  double total = -1;
  while (std::getline(in, line)) {
    if (line.starts_with("totals:") || line.starts_with("summary:")) total = strtod(line.c_str() + line.find(':') + 1, nullptr);
  }
  std::filesystem::remove(out);
  return status == 0 ? total : -1;
}

const Framing* framing_named(const char* name) {
  for (const Framing& f : kFramings)
    if (strcmp(f.name, name) == 0) return &f;
  return nullptr;
}

int package_main(const char* path, const char* framing, size_t size) {
  const Framing* f = framing_named(framing);
  if (f == nullptr || size == 0) return 2;
  return write_package(path, *f, image_bytes(size)) ? 0 : 1;
}

// The child's side of callgrind_count.
int count_main(const char* what, const char* framing, size_t size) {
  const Framing* f = framing_named(framing);
  if (f == nullptr || size == 0) return 2;
  std::vector<uint8_t> image = image_bytes(size);
  if (strcmp(what, "floor") == 0) {
    Toggle floor;
    return floor_run(*f, image) == data_commands(size) ? 0 : 1;
  }
  std::string path = temp_path("count.pt");
  if (!write_package(path, *f, image)) return 1;
  JobResult r = run_job(*f, path, strcmp(what, "simulator") == 0 ? Mode::kCountSimulator : Mode::kCountUpdater, nullptr);
  std::filesystem::remove(path);
  return r.ok && r.data_commands == data_commands(size) ? 0 : 1;
}

// --- The report --------------------------------------------------------------

std::string machine() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.starts_with("model name")) return line.substr(line.find(':') + 2);
  }
  return "unknown";
}

void print_count(double instructions, size_t commands) {
  if (instructions < 0) {
    printf("  %9s", "n/a");
  } else {
    printf("  %9.0f", instructions / static_cast<double>(commands));
  }
}

bool instructions_report() {
  if (!have_valgrind()) {
    printf("instructions: valgrind is not installed; no counts\n\n");
    return true;
  }
  size_t n = data_commands(kCountImage);
  printf("instructions per data command (callgrind; %zu MiB image, %zu data commands; simulator also at %zu MiB)\n",
         kCountImage / kMiB, n, kFlatImage / kMiB);
  printf("%-14s  %9s  %9s  %9s  %9s  %9s\n", "framing", "updater", "floor", "ratio", "sim 1MiB", "sim 16MiB");
  bool ok = true;
  for (const Framing& f : kFramings) {
    double updater = callgrind_count("updater", f, kCountImage);
    double floor = callgrind_count("floor", f, kCountImage);
    double sim_small = callgrind_count("simulator", f, kCountImage);
    double sim_large = callgrind_count("simulator", f, kFlatImage);
    ok = ok && updater >= 0 && floor >= 0 && sim_small >= 0 && sim_large >= 0;
    printf("%-14s", f.name);
    print_count(updater, n);
    print_count(floor, n);
    if (updater >= 0 && floor > 0) {
      printf("  %9.2f", updater / floor);
    } else {
      printf("  %9s", "n/a");
    }
    print_count(sim_small, n);
    print_count(sim_large, data_commands(kFlatImage));
    printf("\n");
    fflush(stdout);
  }
  printf("\n");
  return ok;
}

bool time_report() {
  std::vector<uint8_t> image = image_bytes(kTimeImage);
  size_t n = data_commands(kTimeImage);
  printf("time per data command (CPU time, best of %d; %zu MiB image, %zu data commands)\n", kTimeRuns,
         kTimeImage / kMiB, n);
  printf("%-14s  %9s  %9s  %9s  %9s  %11s  %11s  %9s\n", "framing", "updater", "floor", "ratio", "MB/s", "allocs upd",
         "allocs sim", "prints");
  std::string path = temp_path("time.pt");
  bool ok = true;
  for (const Framing& f : kFramings) {
    if (!write_package(path, f, image)) return false;
    double updater = 1e30, floor = 1e30, end_to_end = 1e30;
    JobResult whole;
    for (int k = 0; k < kTimeRuns; ++k) {
      JobResult alone = run_job(f, path, Mode::kEchoed, nullptr);
      ok = ok && alone.ok;
      updater = std::min(updater, alone.cpu_s);
      double start = cpu_seconds();
      size_t matched = floor_run(f, image);
      floor = std::min(floor, cpu_seconds() - start);
      ok = ok && matched == n;
      whole = run_job(f, path, Mode::kTimed, &image);
      ok = ok && whole.ok;
      end_to_end = std::min(end_to_end, whole.cpu_s);
    }
    double per = 1e9 / static_cast<double>(n);
    printf("%-14s  %9.0f  %9.0f  %9.2f  %9.1f  %11.4f  %11.4f  %9.2f\n", f.name, updater * per, floor * per,
           updater / floor, static_cast<double>(image.size()) / end_to_end / 1e6,
           static_cast<double>(whole.allocs[kUpdater]) / static_cast<double>(n),
           static_cast<double>(whole.allocs[kSimulator]) / static_cast<double>(n),
           static_cast<double>(whole.prints) / static_cast<double>(n));
    fflush(stdout);
  }
  std::filesystem::remove(path);
  printf("(ns: updater alone, the simulator replaced by an echo; MB/s: end to end with the simulator and its\n"
         " flash model; allocs: operator new per data command while the data commands go out; prints:\n"
         " console writes per data command)\n\n");
  return ok;
}

// A child's peak RSS counts the peak of the process it was spawned from (the
// memory it left at exec), so this runs first, in a process that has held
// little, and the packages are written by a child of their own.
bool rss_report() {
  std::string tmflash = std::filesystem::path(self_path()).parent_path() / "tmflash";
  printf("peak RSS of tmflash --visa=sim:FILE, binary mode\n");
  printf("%-8s  %-11s  %12s  %8s\n", "image", "flash model", "peak RSS", "status");
  std::string package = temp_path("rss.pt");
  std::string list = temp_path("rss.lst");
  std::string sim_file = temp_path("rss.sim");
  std::string list_text = "[bench]\ntotal=1\npt0=" + package + "\n";
  bool ok = write_file(list, list_text.data(), list_text.size());
  for (size_t size : kRssImages) {
    long rss = 0;
    if (run_child({self_path(), "package", package, kFramings[2].name, std::to_string(size)}, "", &rss) != 0) {
      fprintf(stderr, "cannot write the package %s\n", package.c_str());
      return false;
    }
    for (bool model : {true, false}) {
      std::string sim_text =
          "[instrument sim0]\nmain = USB0::0x1234::0x5678::SIM0001::INSTR\nreboot_ms = 0\n";
      if (!model) sim_text += "flash_model = no\n";
      if (!write_file(sim_file, sim_text.data(), sim_text.size())) return false;
      long rss_kib = 0;
      int status = run_child({tmflash, "--visa=sim:" + sim_file, list}, "0\n", &rss_kib);
      printf("%4zu MiB  %-11s  %8.1f MiB  %8s\n", size / kMiB, model ? "on" : "off",
             static_cast<double>(rss_kib) / 1024.0, status == 0 ? "ok" : "FAILED");
      fflush(stdout);
      ok = ok && status == 0;
    }
  }
  std::filesystem::remove(package);
  std::filesystem::remove(list);
  std::filesystem::remove(sim_file);
  printf("\n");
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::string what = argc > 1 ? argv[1] : "all";
  signal(SIGPIPE, SIG_IGN);  // a child that ends before reading its input
  if (what == "count" && argc == 5) return count_main(argv[2], argv[3], strtoull(argv[4], nullptr, 0));
  if (what == "package" && argc == 5) return package_main(argv[2], argv[3], strtoull(argv[4], nullptr, 0));
  if (what != "all" && what != "instructions" && what != "time" && what != "rss") {
    fprintf(stderr, "usage: stream_bench [all | instructions | time | rss]\n");
    return 2;
  }
  printf("stream_bench: one binary section, chunk %d, erase step 0x%X; machine: %s\n\n", kChunk, kEraseStep,
         machine().c_str());
  bool ok = true;
  if (what == "all" || what == "rss") ok = rss_report() && ok;
  if (what == "all" || what == "instructions") ok = instructions_report() && ok;
  if (what == "all" || what == "time") ok = time_report() && ok;
  return ok ? 0 : 1;
}
#endif
