// Sections stream without touching the heap: the global allocation functions
// are replaced in this test binary by counting ones, and the count is taken
// while update_bin and update_img stream some hundreds of commands against
// the in-process simulator.
//
// The updater's and the simulator's allocations are counted apart: neither
// may allocate per command (the simulator keeps no transcript here, and its
// flash takes memory in 1 MiB slabs, the first made with it, so the few KiB
// these sections program need none). The recording platform is a test double
// that allocates freely (recorded events); calls into it are bracketed by an
// "outside" scope and not counted. Under glibc the C allocation functions are
// counted as well, so that an allocation inside the C library (a stdio
// buffer, a formatting buffer) made on the updater's behalf shows too.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "link/session.h"
#include "package/package_check.h"
#include "package/package_writer.h"
#include "package/section_stream.h"
#include "script/script.h"
#include "support/recording_platform.h"
#include "support/temp_dir.h"
#include "visa/sim/sim_api.h"
#include "visa/sim/simulator.h"

namespace {

enum Side { kUpdater, kSimulator };

bool g_counting = false;
int g_outside = 0;  // depth of calls into the platform
Side g_side = kUpdater;
size_t g_new_calls[2] = {};
size_t g_malloc_calls[2] = {};

bool counting() { return g_counting && g_outside == 0; }

struct Outside {
  Outside() { ++g_outside; }
  ~Outside() { --g_outside; }
};

struct InSimulator {
  InSimulator() { g_side = kSimulator; }
  ~InSimulator() { g_side = kUpdater; }
};

void reset_counts() {
  g_new_calls[kUpdater] = g_new_calls[kSimulator] = 0;
  g_malloc_calls[kUpdater] = g_malloc_calls[kSimulator] = 0;
}

}  // namespace

void* operator new(std::size_t n) {
  if (counting()) ++g_new_calls[g_side];
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t n) { return ::operator new(n); }
// The nothrow forms too (std::stable_sort's buffer takes one): every form of
// new here must come from malloc, since every form of delete frees.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  if (counting()) ++g_new_calls[g_side];
  return std::malloc(n == 0 ? 1 : n);
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return ::operator new(n, t); }

namespace {
// Out of line, so that the compiler does not see free() meet a new-expression
// after inlining and take it for a mismatched pair.
[[gnu::noinline]] void release(void* p) noexcept { std::free(p); }
}  // namespace

void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)  // the sanitizer owns malloc
extern "C" {
void* __libc_malloc(size_t n);
void* __libc_calloc(size_t count, size_t n);
void* __libc_realloc(void* p, size_t n);

void* malloc(size_t n) noexcept {
  if (counting()) ++g_malloc_calls[g_side];
  return __libc_malloc(n);
}
void* calloc(size_t count, size_t n) noexcept {
  if (counting()) ++g_malloc_calls[g_side];
  return __libc_calloc(count, n);
}
void* realloc(void* p, size_t n) noexcept {
  if (counting()) ++g_malloc_calls[g_side];
  return __libc_realloc(p, n);
}
}
constexpr bool kCountsMalloc = true;
#else
constexpr bool kCountsMalloc = false;
#endif

namespace {

// --- The simulator, its allocations counted apart ----------------------------

const VisaApi& simulator() { return *sim::simulator_visa_api(); }

ViStatus TM_VISA_CALL open_default_rm(ViSession* rm) {
  InSimulator o;
  return simulator().viOpenDefaultRM(rm);
}
ViStatus TM_VISA_CALL find_rsrc(ViSession rm, const char* expr, ViFindList* list, ViUInt32* count, char desc[]) {
  InSimulator o;
  return simulator().viFindRsrc(rm, expr, list, count, desc);
}
ViStatus TM_VISA_CALL find_next(ViFindList list, char desc[]) {
  InSimulator o;
  return simulator().viFindNext(list, desc);
}
ViStatus TM_VISA_CALL open(ViSession rm, const char* rsrc, ViAccessMode mode, ViUInt32 timeout, ViSession* vi) {
  InSimulator o;
  return simulator().viOpen(rm, rsrc, mode, timeout, vi);
}
ViStatus TM_VISA_CALL close(ViObject obj) {
  InSimulator o;
  return simulator().viClose(obj);
}
ViStatus TM_VISA_CALL set_attribute(ViObject vi, ViAttr attr, ViAttrState value) {
  InSimulator o;
  return simulator().viSetAttribute(vi, attr, value);
}
ViStatus TM_VISA_CALL write(ViSession vi, const unsigned char* buf, ViUInt32 count, ViUInt32* ret) {
  InSimulator o;
  return simulator().viWrite(vi, buf, count, ret);
}
ViStatus TM_VISA_CALL read(ViSession vi, unsigned char* buf, ViUInt32 count, ViUInt32* ret) {
  InSimulator o;
  return simulator().viRead(vi, buf, count, ret);
}
ViStatus TM_VISA_CALL control_in(ViSession vi, ViInt16 type, ViInt16 request, ViUInt16 value, ViUInt16 index,
                                 ViUInt16 length, unsigned char* buf, ViUInt16* ret) {
  InSimulator o;
  return simulator().viUsbControlIn(vi, type, request, value, index, length, buf, ret);
}
ViStatus TM_VISA_CALL control_out(ViSession vi, ViInt16 type, ViInt16 request, ViUInt16 value, ViUInt16 index,
                                  ViUInt16 length, unsigned char* buf) {
  InSimulator o;
  return simulator().viUsbControlOut(vi, type, request, value, index, length, buf);
}

constexpr VisaApi kCountedSimulator = {open_default_rm, find_rsrc, find_next, open,       close,
                                       set_attribute,   write,     read,      control_in, control_out};

// --- The recording platform behind an "outside" scope ------------------------

class OutsidePlatform : public Platform {
 public:
  explicit OutsidePlatform(RecordingPlatform& inner) : inner_(inner) {}
  void print(int colour, std::string_view text) override {
    Outside o;
    inner_.print(colour, text);
  }
  void print_error(int colour, std::string_view text) override {
    Outside o;
    inner_.print_error(colour, text);
  }
  void pause() override {
    Outside o;
    inner_.pause();
  }
  int shell(const char* command) override {
    Outside o;
    return inner_.shell(command);
  }
  void sleep_ms(uint32_t ms) override {
    Outside o;
    inner_.sleep_ms(ms);
  }
  InputResult read_number(int* value) override {
    Outside o;
    return inner_.read_number(value);
  }

 private:
  RecordingPlatform& inner_;
};

// --- The test ----------------------------------------------------------------

struct Framing {
  const char* name;
  int binary;
  const char* header;
};

std::string hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  for (uint8_t b : bytes) {
    char two[3];
    snprintf(two, sizeof two, "%02X", b);
    out += two;
  }
  return out;
}

std::vector<uint8_t> pattern(size_t n, unsigned seed) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>((i * 7 + seed) % 251);
  return out;
}

constexpr uint32_t kBinaryImage = 300 * 16 + 5;  // 300 data commands of 16 bytes and one of 5
constexpr uint32_t kFramedBase = 0x8000;
constexpr int kFramedRecords = 300;             // data records of 8 bytes

// Section 0: binary, at 0. Section 1: framed, at kFramedBase.
PackagePlan stream_plan(const Framing& f) {
  PackagePlan p;
  p.run_order = {0, 1};
  p.sections[0] = binary_section({0, 0x1FFF, 16, 0x1000}, pattern(kBinaryImage, 1));
  std::vector<FramedRecordPlan> records = {record_line("&t$"), record_line("&e@00008000$"),
                                           record_line("&w@00008000$")};
  for (int i = 0; i < kFramedRecords; ++i) records.push_back(record_line("&d#" + hex(pattern(8, i)) + "$"));
  records.push_back(record_line("&x$"));
  records.push_back(record_line("&q$"));
  p.sections[1] = framed_section(records);
  for (int s : {0, 1}) {
    p.sections[s]->binary_flag = static_cast<int8_t>(f.binary);
    p.sections[s]->command_header = f.header;
  }
  return p;
}

class StreamAllocations : public ::testing::TestWithParam<Framing> {
 protected:
  StreamAllocations() : os(recorder), u(os) { recorder.keep_prints = false; }

  // The per-file settings the runner gives a firmware section of this framing.
  void section_settings(const Framing& f) {
    reset_setting(u);
    snprintf(u.upd.jump_boot, sizeof u.upd.jump_boot, "SYST:BOOT");
    snprintf(u.upd.boot_version, sizeof u.upd.boot_version, "2.10");
    snprintf(u.upd.HW_version, sizeof u.upd.HW_version, "HW3");
    u.upd.binary = f.binary;
    u.upd.mode = 0;
    if (f.header[0] != '\0') {
      u.upd.headerlen = snprintf(u.upd.des_data, sizeof u.upd.des_data, "%s ", f.header);
      u.upd.i488_en = 1;
    }
  }

  static void expect_no_allocations() {
    EXPECT_EQ(g_new_calls[kUpdater], 0u);
    EXPECT_EQ(g_malloc_calls[kUpdater], 0u);
    EXPECT_EQ(g_new_calls[kSimulator], 0u) << "in the simulator";
    EXPECT_EQ(g_malloc_calls[kSimulator], 0u) << "in the simulator";
  }

  // Streams one section with the counters on. Returns the streamer's result.
  template <typename Streamer>
  int counted(Streamer streamer, int selection, uint32_t length, FILE* file) {
    reset_counts();
    g_counting = true;
    int r = streamer(u, selection, 0, length, file);
    g_counting = false;
    return r;
  }

  RecordingPlatform recorder;
  OutsidePlatform os;
  PackageUpdater u;
  TempDir dir;
};

// The counters themselves see what they are meant to see.
TEST(AllocationCounter, CountsEachSideApartAndNotThePlatform) {
  reset_counts();
  g_counting = true;
  delete new std::string(100, 'x');
  void* volatile p = std::malloc(24);
  std::free(p);
  {
    InSimulator in;
    delete new std::string(100, 's');
  }
  {
    Outside o;
    delete new std::string(100, 'y');
  }
  g_counting = false;
  delete new std::string(100, 'z');
  EXPECT_EQ(g_new_calls[kUpdater], 2u);  // the string and its buffer
  EXPECT_EQ(g_new_calls[kSimulator], 2u);
  if (kCountsMalloc) {
    EXPECT_EQ(g_malloc_calls[kUpdater], 3u);  // the two through operator new, and the malloc
    EXPECT_EQ(g_malloc_calls[kSimulator], 2u);
  }
}

TEST_P(StreamAllocations, NothingIsAllocatedWhileASectionStreams) {
  const Framing& f = GetParam();
  sim::SimConfig config;
  config.instruments.emplace_back();
  config.instruments.back().boot_rsrc = "USB0::0x1234::0x5679::SIM0001::INSTR";
  sim::Simulator simulator(config, recorder);
  sim::ScopedActiveSimulator active(simulator);
  u.visa = &kCountedSimulator;

  std::vector<uint8_t> bytes;
  std::string error;
  ASSERT_TRUE(build_package(stream_plan(f), &bytes, &error)) << error;
  std::string path = dir.write("stream.pt", std::string(bytes.begin(), bytes.end()));
  FILE* file = fopen(path.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  // As the runner does: the header is read (the stream's buffer exists from
  // here on) and the package checked before the instrument is opened.
  ASSERT_EQ(fread(u.pkg.pt_header, 1, kPtHeaderSize, file), static_cast<size_t>(kPtHeaderSize));
  ASSERT_EQ(validate_package(u.pkg.pt_header, file).fault, PtFault::kNone);
  int64_t offsets[kSectionCount];
  pt_data_offsets(u.pkg.pt_header, offsets);
  recorder.answer({"0"});
  int selection = -1;

  // The binary section begins in the main firmware: its "t" jumps and reconnects.
  section_settings(f);
  ASSERT_EQ(open_machine(u, &selection), 0);
  fseek(file, static_cast<long>(offsets[0]), SEEK_SET);
  EXPECT_EQ(counted(update_bin, selection, pt_section_length(u.pkg.pt_header, 0), file), 0);
  expect_no_allocations();
  usb_close(u);

  section_settings(f);
  ASSERT_EQ(open_machine(u, &selection), 0);
  fseek(file, static_cast<long>(offsets[1]), SEEK_SET);
  EXPECT_EQ(counted(update_img, selection, pt_section_length(u.pkg.pt_header, 1), file), 0);
  expect_no_allocations();
  usb_close(u);
  fclose(file);

  // The streams did run: every command reached the bootloader, the bytes the flash.
  EXPECT_EQ(simulator.jumps(0), 1u);
  EXPECT_EQ(simulator.bootloader(0).command_count('d'), 301u + kFramedRecords);
  EXPECT_TRUE(simulator.bootloader(0).errors().empty());
  EXPECT_EQ(simulator.flash(0, 0, kBinaryImage), pattern(kBinaryImage, 1));
  EXPECT_EQ(simulator.flash(0, kFramedBase + 8 * (kFramedRecords - 1), 8), pattern(8, kFramedRecords - 1));
  EXPECT_GT(recorder.print_count(), 600u);  // progress lines, not kept
  EXPECT_TRUE(recorder.events().size() < 20u);
}

INSTANTIATE_TEST_SUITE_P(Framings, StreamAllocations,
                         ::testing::Values(Framing{"Text", 0, ""}, Framing{"TextWithHeader", 0, ":UPD"},
                                           Framing{"Binary", 1, ""}, Framing{"BinaryWithHeader", 1, ":UPD"}),
                         [](const ::testing::TestParamInfo<Framing>& info) { return std::string(info.param.name); });

}  // namespace
