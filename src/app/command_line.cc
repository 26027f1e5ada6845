#include "app/command_line.h"

#include <cstring>

const char* usage_text() {
  return
      "Usage: tmflash [--visa=LIB] [--check] LIST_FILE\n"
      "       tmflash --help | --version\n"
      "\n"
      "Runs the jobs of LIST_FILE in order (shell commands, commands written to\n"
      "the instrument, update scripts and update packages) against one USB test\n"
      "and measurement instrument. Exit status 0 when every job succeeded, 1\n"
      "otherwise. Arguments after LIST_FILE are ignored.\n"
      "\n"
      "Options:\n"
      "  --visa=LIB    the VISA implementation to use:\n"
      "                  PATH       a VISA shared library (libvisa.so, visa64.dll, ...)\n"
      "                  sim:FILE   simulated instruments described in FILE\n"
      "                  usb        the built-in USBTMC driver (libusb)\n"
      "                  sim        one default simulated instrument\n"
      "                default: the system's installed VISA library, else the\n"
      "                built-in USBTMC driver\n"
      "  --check       read LIST_FILE and every script and package it names as a\n"
      "                run would, touch no instrument and run no shell command;\n"
      "                print what the run would do and every fault it would meet\n"
      "                (exit status 0 only when there is none)\n"
      "  --help        show this help and exit\n"
      "  --version     show the version and exit\n";
}

CommandLine parse_command_line(int argc, const char* const* argv) {
  CommandLine cl;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (strcmp(arg, "--") == 0) {
      if (i + 1 < argc) cl.list_arg = i + 1;
      return cl;
    }
    if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
      cl.action = CommandLine::kHelp;
      return cl;
    }
    if (strcmp(arg, "--version") == 0) {
      cl.action = CommandLine::kVersion;
      return cl;
    }
    if (strcmp(arg, "--check") == 0) {
      cl.check = true;
      continue;
    }
    if (strncmp(arg, "--visa=", 7) == 0) {
      cl.visa = arg + 7;
    } else if (strcmp(arg, "--visa") == 0) {
      if (i + 1 >= argc) {
        cl.action = CommandLine::kError;
        cl.error = "option --visa needs a value";
        return cl;
      }
      cl.visa = argv[++i];
    } else if (arg[0] == '-' && arg[1] != '\0') {
      cl.action = CommandLine::kError;
      cl.error = std::string("unknown option ") + arg;
      return cl;
    } else {
      cl.list_arg = i;  // the list file; what follows is ignored
      return cl;
    }
    if (cl.visa.empty()) {
      cl.action = CommandLine::kError;
      cl.error = "option --visa needs a value";
      return cl;
    }
  }
  return cl;
}
