// tmc_probe: times *IDN? round trips through tmflash's built-in USBTMC
// driver (libusb), for the figures of the virtual machine's tests.
//
//   tmc_probe RSRC COUNT
//
// Prints the reply and "idn_round_trip_ms MEAN" over COUNT queries; exit
// status 1 when a query fails or the reply changes.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "visa/usb/usbtmc_choice.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: tmc_probe RSRC COUNT\n");
    return 2;
  }
  int count = atoi(argv[2]);
  std::unique_ptr<VisaBackend> backend = usbtmc::make_builtin_usbtmc_backend(usbtmc::note_to_stderr);
  std::string why;
  const VisaApi* v = backend ? backend->load(&why) : nullptr;
  if (!v) {
    fprintf(stderr, "tmc_probe: no built-in driver: %s\n", why.c_str());
    return 1;
  }
  ViSession rm = 0, vi = 0;
  v->viOpenDefaultRM(&rm);
  if (v->viOpen(rm, argv[1], VI_NULL, 0, &vi) != VI_SUCCESS) {
    fprintf(stderr, "tmc_probe: cannot open %s\n", argv[1]);
    return 1;
  }
  std::string first;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    const unsigned char query[] = "*IDN?";
    unsigned char reply[256];
    ViUInt32 n = 0;
    if (v->viWrite(vi, query, 5, &n) != VI_SUCCESS || v->viRead(vi, reply, sizeof reply, &n) != VI_SUCCESS) {
      fprintf(stderr, "tmc_probe: query %d failed\n", i + 1);
      return 1;
    }
    std::string text(reinterpret_cast<char*>(reply), n);
    if (i == 0) first = text;
    if (text != first) {
      fprintf(stderr, "tmc_probe: reply %d changed: %s\n", i + 1, text.c_str());
      return 1;
    }
  }
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  printf("reply %s", first.c_str());
  printf("idn_round_trip_ms %.3f\n", count > 0 ? ms / count : 0.0);
  v->viClose(rm);
  return 0;
}
