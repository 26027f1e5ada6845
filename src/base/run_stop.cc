#include "base/run_stop.h"

#include <cstdio>
#include <cstdlib>

namespace {

std::function<void(const std::string&)>& stop_hook() {
  static std::function<void(const std::string&)> hook;
  return hook;
}

}  // namespace

void set_stop_hook(std::function<void(const std::string& why)> hook) { stop_hook() = std::move(hook); }

void stop_run(const std::string& why) {
  if (stop_hook()) {
    stop_hook()(why);
  } else {
    fprintf(stderr, "tmflash: %s\n", why.c_str());
  }
  fflush(stdout);
  std::exit(1);
}
