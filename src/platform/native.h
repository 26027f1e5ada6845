// Names handed to the operating system: files, the program's arguments, the
// environment. Inside tmflash every name is a byte string as the operator
// wrote it (in a list file, a script, a package or on the command line);
// these functions are the one place where it becomes the system's own.
//
// POSIX: names are bytes and pass through unchanged.
// Windows: names are UTF-16 to the system. A name is read as UTF-8 when it
// is valid UTF-8 and in the ANSI code page otherwise, so that list files
// saved in either encoding (Notepad's default was the ANSI code page for
// years, and is UTF-8 now) open the same file. The program's arguments and
// the environment come from the system's UTF-16 and are handed on as UTF-8.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// Opens the file named path like fopen. nullptr when it cannot be opened.
FILE* open_file(const char* path, const char* mode);

// A new file for reading and writing in the system's folder for temporary
// files, removed when it is closed or the program ends; nullptr on failure.
// (The C runtime's tmpfile() on Windows makes it in the root of the drive,
// where a user without administrator rights may not write.)
FILE* open_temporary_file();

// The program's arguments, argv[0] first, as names. On Windows they are
// taken from the system's UTF-16 command line, so that an argument outside
// the ANSI code page arrives whole.
std::vector<std::string> program_arguments(int argc, char** argv);

// The same as the argv that C code takes: argv()[0 .. size()-1], then nullptr.
class ProgramArguments {
 public:
  ProgramArguments(int argc, char** argv) : names_(program_arguments(argc, argv)) {
    for (const std::string& name : names_) argv_.push_back(name.c_str());
    argv_.push_back(nullptr);
  }
  ProgramArguments(const ProgramArguments&) = delete;
  ProgramArguments& operator=(const ProgramArguments&) = delete;

  int size() const { return static_cast<int>(names_.size()); }
  const char* const* argv() const { return argv_.data(); }

 private:
  std::vector<std::string> names_;
  std::vector<const char*> argv_;
};

// The value of the environment variable, as a name; empty when it is not set.
std::string environment_variable(const char* variable);

// Creates a new directory with a unique name that begins with prefix in the
// system's folder for temporary files; returns its name, empty on failure.
// For tests, benchmarks and fuzz targets: the updater itself writes nothing
// of its own.
std::string make_temp_directory(std::string_view prefix);

#ifdef _WIN32
// A name as Windows wants it (the rule above).
std::wstring wide_name(std::string_view name);
// UTF-16 from the system as UTF-8.
std::string utf8_of(std::wstring_view text);
#endif
