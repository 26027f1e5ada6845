// tmc_gadget: a USBTMC instrument on a real USB stack. A FunctionFS gadget
// that serves a simulated instrument (a .sim file, in real time) through the
// same device side as the tests' in-process USB device
// (src/visa/usb/device/tmc_function.h), so that hosts nobody here wrote (the
// kernel's usbtmc driver, pyvisa-py) and tmflash --visa=usb meet the same
// device over a real USB core. Linux only; run as root.
//
//   tmc_gadget --sim=FILE --udc=UDC [--name=NAME] [--flash=FILE@ADDR:LEN]...
//              [--stop-answering-after=N]
//
// It makes the configfs gadget NAME (default tmc) with the IDs and serial of
// the instrument's main firmware, mounts FunctionFS for it on
// /dev/ffs-NAME, writes the descriptors (one interface of class 0xFE,
// subclass 0x03: bulk-OUT, bulk-IN) and strings, opens the endpoints and
// binds to UDC (dummy_udc.0 in the virtual machine). After the instrument's
// jump it unbinds, and when the bootloader is up it binds again under the
// bootloader's product ID, same serial: a re-enumeration as real instruments
// do it. It prints "tmc_gadget: ready" when first bound.
//
// --flash writes LEN bytes of the instrument's flash from ADDR on to FILE, at
// exit (SIGTERM, SIGINT) and whenever SIGUSR1 comes. --stop-answering-after
// makes it answer no request after the N-th reply (a device that stops
// answering in the middle of an update).
#include <fcntl.h>
#include <pthread.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <endian.h>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "visa/sim/sim_file.h"
#include "visa/sim/simulator.h"
#include "visa/usb/device/tmc_function.h"
#include "visa/usb/usbtmc_wire.h"

namespace {

using usbtmc::ControlAnswer;
using usbtmc::SetupPacket;
using usbtmc::TmcFunction;

constexpr char kGadgets[] = "/sys/kernel/config/usb_gadget/";
constexpr uint32_t kSupervisePeriodMs = 5;       // how often the jump and the reboot are looked for
constexpr uint32_t kRetryAfterShutdownMs = 2;    // an endpoint I/O while the function is disabled
constexpr uint32_t kReplyWaitMs = 100;           // the bulk-IN thread looks at the stop flag this often
constexpr uint16_t kFullSpeedPacket = 64;
constexpr uint16_t kHighSpeedPacket = 512;
constexpr size_t kOutBuffer = 64 * 1024;
constexpr int kMaxStopKicks = 200;               // signals to the I/O threads at the end, 5 ms apart

std::atomic<bool> g_stop{false};
std::atomic<bool> g_dump{false};

// SIGUSR2 only interrupts a thread's blocked I/O at the end.
void on_signal(int signal) {
  if (signal == SIGUSR1) {
    g_dump = true;
  } else if (signal != SIGUSR2) {
    g_stop = true;
  }
}

void sleep_ms(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path);
  out << text;
  out.flush();
  return static_cast<bool>(out);
}

std::string hex4(uint16_t v) {
  char text[8];
  snprintf(text, sizeof text, "0x%04x", v);
  return text;
}

// --- Options ---------------------------------------------------------------

struct FlashDump {
  std::string path;
  uint32_t addr = 0;
  uint32_t length = 0;
};

struct Options {
  std::string sim_file;
  std::string udc;
  std::string name = "tmc";
  std::vector<FlashDump> dumps;
  usbtmc::FunctionFaults faults;
};

bool parse_dump(const std::string& text, FlashDump* dump) {
  size_t at = text.rfind('@');
  size_t colon = text.rfind(':');
  if (at == std::string::npos || colon == std::string::npos || colon < at) return false;
  dump->path = text.substr(0, at);
  dump->addr = static_cast<uint32_t>(strtoul(text.substr(at + 1, colon - at - 1).c_str(), nullptr, 0));
  dump->length = static_cast<uint32_t>(strtoul(text.substr(colon + 1).c_str(), nullptr, 0));
  return !dump->path.empty() && dump->length > 0;
}

bool parse_options(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char* key) { return arg.substr(strlen(key)); };
    if (arg.starts_with("--sim=")) {
      o->sim_file = value("--sim=");
    } else if (arg.starts_with("--udc=")) {
      o->udc = value("--udc=");
    } else if (arg.starts_with("--name=")) {
      o->name = value("--name=");
    } else if (arg.starts_with("--flash=")) {
      FlashDump dump;
      if (!parse_dump(value("--flash="), &dump)) return false;
      o->dumps.push_back(dump);
    } else if (arg.starts_with("--stop-answering-after=")) {
      o->faults.stop_answering_after = static_cast<uint32_t>(strtoul(value("--stop-answering-after=").c_str(), nullptr, 0));
    } else {
      return false;
    }
  }
  return !o->sim_file.empty() && !o->udc.empty();
}

// --- FunctionFS descriptors --------------------------------------------------

struct __attribute__((packed)) InterfaceDescriptors {
  usb_interface_descriptor intf;
  usb_endpoint_descriptor_no_audio bulk_out;
  usb_endpoint_descriptor_no_audio bulk_in;
};

struct __attribute__((packed)) Descriptors {
  usb_functionfs_descs_head_v2 header;
  __le32 fs_count;
  __le32 hs_count;
  InterfaceDescriptors fs;
  InterfaceDescriptors hs;
};

InterfaceDescriptors interface_descriptors(uint16_t packet) {
  InterfaceDescriptors d{};
  d.intf.bLength = sizeof d.intf;
  d.intf.bDescriptorType = USB_DT_INTERFACE;
  d.intf.bNumEndpoints = 2;
  d.intf.bInterfaceClass = usbtmc::kInterfaceClass;
  d.intf.bInterfaceSubClass = usbtmc::kInterfaceSubClass;
  d.intf.bInterfaceProtocol = usbtmc::kProtocolUsbtmc;
  d.intf.iInterface = 1;
  for (auto* ep : {&d.bulk_out, &d.bulk_in}) {
    ep->bLength = sizeof *ep;
    ep->bDescriptorType = USB_DT_ENDPOINT;
    ep->bmAttributes = USB_ENDPOINT_XFER_BULK;
    ep->wMaxPacketSize = htole16(packet);
  }
  d.bulk_out.bEndpointAddress = 1 | USB_DIR_OUT;
  d.bulk_in.bEndpointAddress = 2 | USB_DIR_IN;
  return d;
}

Descriptors descriptors() {
  Descriptors d{};
  d.header.magic = htole32(FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
  d.header.length = htole32(sizeof d);
  // Device-recipient vendor requests (the jump, 0x40) reach the function too.
  d.header.flags = htole32(FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC | FUNCTIONFS_ALL_CTRL_RECIP);
  d.fs_count = htole32(3);
  d.hs_count = htole32(3);
  d.fs = interface_descriptors(kFullSpeedPacket);
  d.hs = interface_descriptors(kHighSpeedPacket);
  return d;
}

struct __attribute__((packed)) Strings {
  usb_functionfs_strings_head header;
  __le16 code;
  char text[sizeof "USBTMC"];
};

Strings strings() {
  Strings s{};
  s.header.magic = htole32(FUNCTIONFS_STRINGS_MAGIC);
  s.header.length = htole32(sizeof s);
  s.header.str_count = htole32(1);
  s.header.lang_count = htole32(1);
  s.code = htole16(0x0409);
  memcpy(s.text, "USBTMC", sizeof s.text);
  return s;
}

// --- The gadget ------------------------------------------------------------------

class Gadget {
 public:
  Gadget(const Options& options, sim::Simulator& sim)
      : options_(options), sim_(sim), function_(sim, 0, options.faults),
        dir_(std::string(kGadgets) + options.name), mount_point_("/dev/ffs-" + options.name) {}

  bool start();
  void run();
  void stop();

 private:
  bool make_configfs();
  bool open_functionfs();
  bool bind(bool on);
  void ep0_loop();
  void out_loop();
  void in_loop();
  void handle_setup(const usb_ctrlrequest& request);
  void collect_replies();
  void dump_flash();
  uint16_t packet_size();

  const Options& options_;
  sim::Simulator& sim_;
  TmcFunction function_;
  std::string dir_;
  std::string mount_point_;
  int ep0_ = -1, out_ = -1, in_ = -1;
  bool mounted_ = false;
  std::mutex mutex_;  // the function and the simulator
  std::condition_variable replies_ready_;
  std::deque<std::vector<uint8_t>> replies_;
  uint32_t generation_ = 0;  // grows at each re-enumeration; replies of an older one are dropped
  bool bound_ = false;
  std::atomic<uint16_t> packet_{kHighSpeedPacket};  // of the bulk endpoints, read at each enable
  std::vector<std::thread> threads_;
  std::atomic<int> threads_running_{0};
};

bool Gadget::make_configfs() {
  const usbtmc::UsbResource& id = function_.identity();
  if (mkdir(dir_.c_str(), 0755) != 0) {
    fprintf(stderr, "tmc_gadget: cannot make %s: %s\n", dir_.c_str(), strerror(errno));
    return false;
  }
  bool ok = write_file(dir_ + "/idVendor", hex4(id.idVendor)) && write_file(dir_ + "/idProduct", hex4(id.idProduct)) &&
            write_file(dir_ + "/bcdUSB", "0x0200") && mkdir((dir_ + "/strings/0x409").c_str(), 0755) == 0 &&
            write_file(dir_ + "/strings/0x409/serialnumber", id.serial) &&
            write_file(dir_ + "/strings/0x409/manufacturer", "TMSIM") &&
            write_file(dir_ + "/strings/0x409/product", "simulated USBTMC instrument") &&
            mkdir((dir_ + "/configs/c.1").c_str(), 0755) == 0 &&
            mkdir((dir_ + "/functions/ffs." + options_.name).c_str(), 0755) == 0 &&
            symlink((dir_ + "/functions/ffs." + options_.name).c_str(), (dir_ + "/configs/c.1/ffs." + options_.name).c_str()) == 0;
  if (!ok) fprintf(stderr, "tmc_gadget: cannot set up the gadget in %s: %s\n", dir_.c_str(), strerror(errno));
  return ok;
}

// Descriptors, then strings, then the endpoint files: binding comes after.
bool Gadget::open_functionfs() {
  mkdir(mount_point_.c_str(), 0755);
  if (mount(options_.name.c_str(), mount_point_.c_str(), "functionfs", 0, nullptr) != 0) {
    fprintf(stderr, "tmc_gadget: cannot mount FunctionFS on %s: %s\n", mount_point_.c_str(), strerror(errno));
    return false;
  }
  mounted_ = true;
  ep0_ = open((mount_point_ + "/ep0").c_str(), O_RDWR);
  Descriptors d = descriptors();
  Strings s = strings();
  if (ep0_ < 0 || write(ep0_, &d, sizeof d) != static_cast<ssize_t>(sizeof d) ||
      write(ep0_, &s, sizeof s) != static_cast<ssize_t>(sizeof s)) {
    fprintf(stderr, "tmc_gadget: cannot write the FunctionFS descriptors: %s\n", strerror(errno));
    return false;
  }
  out_ = open((mount_point_ + "/ep1").c_str(), O_RDWR);
  in_ = open((mount_point_ + "/ep2").c_str(), O_RDWR);
  if (out_ < 0 || in_ < 0) {
    fprintf(stderr, "tmc_gadget: cannot open the endpoint files: %s\n", strerror(errno));
    return false;
  }
  return true;
}

bool Gadget::bind(bool on) {
  if (on == bound_) return true;
  if (on) {
    const usbtmc::UsbResource& id = function_.identity();
    write_file(dir_ + "/idProduct", hex4(id.idProduct));
    write_file(dir_ + "/idVendor", hex4(id.idVendor));
    write_file(dir_ + "/strings/0x409/serialnumber", id.serial);
  }
  bool ok = write_file(dir_ + "/UDC", on ? options_.udc : "\n");
  if (ok) bound_ = on;
  if (!ok) fprintf(stderr, "tmc_gadget: cannot %s %s\n", on ? "bind to" : "unbind from", options_.udc.c_str());
  return ok;
}

bool Gadget::start() {
  if (!function_.present()) {
    fprintf(stderr, "tmc_gadget: the instrument is not present at the start\n");
    return false;
  }
  if (!make_configfs() || !open_functionfs()) return false;
  for (void (Gadget::*loop)() : {&Gadget::ep0_loop, &Gadget::out_loop, &Gadget::in_loop}) {
    ++threads_running_;
    threads_.emplace_back([this, loop] {
      (this->*loop)();
      --threads_running_;
    });
  }
  if (!bind(true)) return false;
  printf("tmc_gadget: ready\n");
  fflush(stdout);
  return true;
}

uint16_t Gadget::packet_size() {
  std::ifstream in("/sys/class/udc/" + options_.udc + "/current_speed");
  std::string speed;
  std::getline(in, speed);
  return speed == "full-speed" ? kFullSpeedPacket : kHighSpeedPacket;
}

// --- ep0: events and control requests ------------------------------------------

void Gadget::ep0_loop() {
  usb_functionfs_event events[4];
  while (!g_stop) {
    ssize_t n = read(ep0_, events, sizeof events);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (g_stop) return;
      sleep_ms(kRetryAfterShutdownMs);
      continue;
    }
    for (size_t i = 0; i < static_cast<size_t>(n) / sizeof events[0]; ++i) {
      if (events[i].type == FUNCTIONFS_SETUP) handle_setup(events[i].u.setup);
      if (events[i].type == FUNCTIONFS_ENABLE) packet_ = packet_size();
    }
  }
}

// A stall is the wrong direction's I/O on ep0; a status stage is the right
// one's, with no data.
void Gadget::handle_setup(const usb_ctrlrequest& request) {
  SetupPacket setup{request.bRequestType, request.bRequest, le16toh(request.wValue), le16toh(request.wIndex),
                    le16toh(request.wLength)};
  std::vector<uint8_t> data(setup.wLength + 1u, 0);
  std::lock_guard<std::mutex> lock(mutex_);
  if (setup.bmRequestType & USB_DIR_IN) {
    ControlAnswer a = function_.control(setup, data.data());
    if (a.stall) {
      (void)!read(ep0_, data.data(), 0);
    } else {
      (void)!write(ep0_, data.data(), a.length);
    }
  } else {
    ssize_t n = setup.wLength ? read(ep0_, data.data(), setup.wLength) : 0;
    if (n < 0) return;
    ControlAnswer a = function_.control(setup, data.data());
    if (setup.wLength == 0) {
      if (a.stall) {
        (void)!write(ep0_, data.data(), 0);
      } else {
        (void)!read(ep0_, data.data(), 0);
      }
    }
  }
  collect_replies();
}

// --- Bulk ----------------------------------------------------------------------

// Takes the function's replies for the bulk-IN thread. Called with the lock.
void Gadget::collect_replies() {
  std::vector<uint8_t> reply;
  bool any = false;
  while (function_.take_bulk_in(&reply)) {
    replies_.push_back(std::move(reply));
    any = true;
  }
  if (any) replies_ready_.notify_one();
}

// Reads a packet for a header; then the rest of the transfer the header
// announces, rounded up to whole packets (a transfer whose length is no
// multiple of the packet size ends in a short packet, so no read reaches
// into the next transfer).
void Gadget::out_loop() {
  std::vector<uint8_t> buffer(kOutBuffer);
  while (!g_stop) {
    uint16_t packet = packet_;
    size_t want = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      want = function_.bulk_out_wanted();
    }
    size_t size = std::min(kOutBuffer, (std::max<size_t>(want, 1) + packet - 1) / packet * packet);
    ssize_t n = read(out_, buffer.data(), size);
    if (n < 0) {
      if (g_stop) return;
      sleep_ms(kRetryAfterShutdownMs);
      continue;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    function_.bulk_out(buffer.data(), static_cast<size_t>(n), static_cast<size_t>(n) < size);
    collect_replies();
  }
}

void Gadget::in_loop() {
  while (!g_stop) {
    std::vector<uint8_t> reply;
    uint32_t generation = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      replies_ready_.wait_for(lock, std::chrono::milliseconds(kReplyWaitMs), [this] { return !replies_.empty() || g_stop; });
      if (replies_.empty()) continue;
      reply = std::move(replies_.front());
      replies_.pop_front();
      generation = generation_;
    }
    uint16_t packet = packet_;
    for (;;) {
      ssize_t n = write(in_, reply.data(), reply.size());
      if (n >= 0 || g_stop) break;
      std::lock_guard<std::mutex> lock(mutex_);
      if (generation != generation_) break;  // the device re-enumerated: the reply is void
      sleep_ms(kRetryAfterShutdownMs);
    }
    // A reply that fills its last packet ends with a zero-length packet.
    if (reply.size() % packet == 0) (void)!write(in_, reply.data(), 0);
  }
}

// --- Supervision: the jump, the reboot, the flash -----------------------------

void Gadget::run() {
  while (!g_stop) {
    sleep_ms(kSupervisePeriodMs);
    if (g_dump.exchange(false)) dump_flash();
    bool changed = false;
    bool present = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      changed = function_.refresh();
      present = function_.present();
      if (changed) {
        replies_.clear();
        ++generation_;
      }
    }
    if (!changed) continue;
    // A reply of the old device that waits in a write must not reach the new one.
    if (threads_.size() == 3) pthread_kill(threads_[2].native_handle(), SIGUSR2);
    bind(false);
    if (present) {
      printf("tmc_gadget: enumerating as %s:%s serial %s\n", hex4(function_.identity().idVendor).c_str(),
             hex4(function_.identity().idProduct).c_str(), function_.identity().serial.c_str());
      fflush(stdout);
      bind(true);
    } else {
      printf("tmc_gadget: the instrument jumped; off the bus until its bootloader is up\n");
      fflush(stdout);
    }
  }
}

void Gadget::dump_flash() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const FlashDump& d : options_.dumps) {
    std::vector<uint8_t> bytes = sim_.flash(0, d.addr, d.length);
    FILE* f = fopen(d.path.c_str(), "wb");
    if (!f) {
      fprintf(stderr, "tmc_gadget: cannot write %s: %s\n", d.path.c_str(), strerror(errno));
      continue;
    }
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  }
}

// Unbinds (which ends the endpoints' blocked I/O), takes FunctionFS and the
// configfs gadget down in the order they were made, and writes the flash.
void Gadget::stop() {
  g_stop = true;
  bind(false);
  replies_ready_.notify_all();
  // An endpoint read waiting for the function to be enabled again only ends
  // on a signal.
  for (int kick = 0; kick < kMaxStopKicks && threads_running_ > 0; ++kick) {
    for (std::thread& t : threads_) pthread_kill(t.native_handle(), SIGUSR2);
    sleep_ms(kSupervisePeriodMs);
  }
  for (std::thread& t : threads_) {
    if (threads_running_ == 0) {
      t.join();
    } else {
      t.detach();  // still blocked: it ends with the process
    }
  }
  for (int fd : {out_, in_, ep0_}) {
    if (fd >= 0) close(fd);
  }
  if (mounted_) umount(mount_point_.c_str());
  rmdir(mount_point_.c_str());
  std::string function = dir_ + "/functions/ffs." + options_.name;
  unlink((dir_ + "/configs/c.1/ffs." + options_.name).c_str());
  rmdir((dir_ + "/configs/c.1").c_str());
  rmdir(function.c_str());
  rmdir((dir_ + "/strings/0x409").c_str());
  rmdir(dir_.c_str());
  dump_flash();
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse_options(argc, argv, &options)) {
    fprintf(stderr,
            "usage: tmc_gadget --sim=FILE --udc=UDC [--name=NAME] [--flash=FILE@ADDR:LEN]... "
            "[--stop-answering-after=N]\n");
    return 2;
  }
  sim::SimConfig config;
  std::string error;
  if (!sim::load_sim_description(options.sim_file, &config, &error)) {
    fprintf(stderr, "tmc_gadget: %s\n", error.c_str());
    return 2;
  }
  if (config.instruments.empty()) {
    fprintf(stderr, "tmc_gadget: %s describes no instrument\n", options.sim_file.c_str());
    return 2;
  }
  config.keep_transcript = false;
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGUSR1, &action, nullptr);
  sigaction(SIGUSR2, &action, nullptr);
  RealClock clock;
  sim::Simulator simulator(config, clock);
  Gadget gadget(options, simulator);
  bool started = gadget.start();
  if (started) gadget.run();
  gadget.stop();
  return started ? 0 : 1;
}
