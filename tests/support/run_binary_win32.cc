// The programs start through CreateProcess with a command line quoted the
// way the C runtime splits it, so that each argument arrives whole, with
// stdin from a file (or no standard input handle at all), stdout into a pipe
// and stderr into a file, as cmd.exe's "< file 2> errors" would give them.
#include <windows.h>

#include <filesystem>
#include <optional>

#include "platform/native.h"
#include "platform/native_path.h"
#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

// One argument as CommandLineToArgvW and the C runtime read it back.
std::string quoted(const std::string& arg) {
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    out += c;
    backslashes = 0;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

// A full Windows name for a name of the tests (which may be a POSIX-style
// absolute path of the build tree: under Wine, "/x" is "/x" on the current
// drive, the one that holds the build tree).
std::wstring full_name(const std::string& name) {
  return std::filesystem::absolute(file_path(name)).make_preferred().native();
}

// Sets the variables for the life of this object, then puts back what was there.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(const Environment& env) {
    for (const auto& [name, value] : env) {
      std::wstring wide = wide_name(name);
      std::optional<std::wstring> old;
      if (DWORD n = GetEnvironmentVariableW(wide.c_str(), nullptr, 0); n > 0) {
        std::wstring text(n, L'\0');
        text.resize(GetEnvironmentVariableW(wide.c_str(), text.data(), n));
        old = text;
      }
      saved_.push_back({wide, old});
      SetEnvironmentVariableW(wide.c_str(), wide_name(value).c_str());
    }
  }
  ~ScopedEnvironment() {
    for (const auto& [name, old] : saved_) SetEnvironmentVariableW(name.c_str(), old ? old->c_str() : nullptr);
  }

 private:
  std::vector<std::pair<std::wstring, std::optional<std::wstring>>> saved_;
};

std::string read_all(const std::string& name) {
  std::string text;
  if (FILE* f = open_file(name.c_str(), "rb")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    fclose(f);
  }
  return text;
}

std::string with_lf_line_ends(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
  }
  return out;
}

}  // namespace

BinaryRun run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::optional<std::string>& stdin_text, const std::string& cwd, const Environment& env) {
  BinaryRun run;
  TempDir tmp;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  // No standard input: the handle is null, as a launcher that has none passes it.
  HANDLE in = nullptr;
  if (stdin_text) {
    in = CreateFileW(wide_name(tmp.write("stdin", *stdin_text)).c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in == INVALID_HANDLE_VALUE) return run;
  }
  std::string errors = tmp.file("stderr");
  HANDLE err = CreateFileW(wide_name(errors).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE read_end = nullptr, write_end = nullptr;
  if (err == INVALID_HANDLE_VALUE || !CreatePipe(&read_end, &write_end, &inherit, 0)) {
    if (in) CloseHandle(in);
    if (err != INVALID_HANDLE_VALUE) CloseHandle(err);
    return run;
  }
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

  std::string command = quoted(program);
  for (const std::string& arg : args) command += " " + quoted(arg);
  std::wstring wide_command = wide_name(command);
  std::wstring application = full_name(program);
  std::wstring directory = cwd.empty() ? L"" : full_name(cwd);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = write_end;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  BOOL started;
  {
    ScopedEnvironment scoped(env);
    started = CreateProcessW(application.c_str(), wide_command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                             directory.empty() ? nullptr : directory.c_str(), &startup, &process);
  }
  CloseHandle(write_end);  // the child holds the only write end now: reading ends when it does
  CloseHandle(err);
  if (in) CloseHandle(in);
  if (started) {
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(read_end, buffer, sizeof buffer, &n, nullptr) && n > 0) run.raw.append(buffer, n);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(process.hProcess, &code)) run.status = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(read_end);
  run.output = with_lf_line_ends(run.raw);
  run.errors = with_lf_line_ends(read_all(errors));
  return run;
}
