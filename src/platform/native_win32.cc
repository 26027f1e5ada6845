#include <windows.h>
#include <shellapi.h>

#include "platform/native.h"
#include "platform/native_path.h"

namespace {

// Converts with the code page; false when flags refuse the bytes.
bool to_wide(UINT code_page, DWORD flags, std::string_view text, std::wstring* out) {
  out->clear();
  if (text.empty()) return true;
  int size = static_cast<int>(text.size());
  int n = MultiByteToWideChar(code_page, flags, text.data(), size, nullptr, 0);
  if (n <= 0) return false;
  out->resize(static_cast<size_t>(n));
  return MultiByteToWideChar(code_page, flags, text.data(), size, out->data(), n) == n;
}

}  // namespace

std::wstring wide_name(std::string_view name) {
  std::wstring wide;
  if (!to_wide(CP_UTF8, MB_ERR_INVALID_CHARS, name, &wide)) to_wide(CP_ACP, 0, name, &wide);
  return wide;
}

std::string utf8_of(std::wstring_view text) {
  if (text.empty()) return "";
  int size = static_cast<int>(text.size());
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return "";
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), n, nullptr, nullptr);
  return out;
}

FILE* open_file(const char* path, const char* mode) {
  return _wfopen(wide_name(path).c_str(), wide_name(mode).c_str());
}

FILE* open_temporary_file() {
  wchar_t folder[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, folder);
  if (n == 0 || n > MAX_PATH || GetTempFileNameW(folder, L"tmf", 0, name) == 0) return nullptr;
  // "D": the runtime deletes the file when it is closed.
  FILE* file = _wfopen(name, L"w+bD");
  if (file == nullptr) DeleteFileW(name);
  return file;
}

std::filesystem::path file_path(std::string_view name) { return std::filesystem::path(wide_name(name)); }

std::string name_of(const std::filesystem::path& path) { return utf8_of(path.native()); }

std::vector<std::string> program_arguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  // The C runtime's argv and the system's command line split alike; should
  // they ever disagree, the runtime's argv is what the program was given.
  if (wide == nullptr || count != argc) {
    if (wide != nullptr) LocalFree(wide);
    return std::vector<std::string>(argv, argv + argc);
  }
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(utf8_of(wide[i]));
  LocalFree(wide);
  return args;
}

std::string make_temp_directory(std::string_view prefix) {
  wchar_t temp[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  if (n == 0 || n > MAX_PATH) return "";
  std::wstring base = std::wstring(temp, n) + wide_name(prefix);
  // CreateDirectory fails on a name that exists, so a name it creates is ours.
  unsigned seed = GetCurrentProcessId() * 2654435761u ^ GetTickCount();
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    wchar_t suffix[16];
    swprintf(suffix, 16, L"%08x", seed + attempt * 7919u);
    std::wstring name = base + suffix;
    if (CreateDirectoryW(name.c_str(), nullptr)) return utf8_of(name);
    if (GetLastError() != ERROR_ALREADY_EXISTS) return "";
  }
  return "";
}

std::string environment_variable(const char* variable) {
  const wchar_t* value = _wgetenv(wide_name(variable).c_str());
  return value ? utf8_of(value) : "";
}
