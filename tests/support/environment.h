// Environment variables of the test process, which programs and libraries
// it starts or loads see.
#pragma once

#include <cstdlib>

// Sets name to value; nullptr removes it.
inline void set_environment(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value ? value : "");  // an empty value removes it on Windows
#else
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
#endif
}
