#include "visa/library_loader.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdlib>
#include <string>

#include "platform/native.h"
#include "support/environment.h"

namespace {

// Where VISA installations put their library, in the order it is looked for.
#ifdef _WIN32
// The system folder only; a 64-bit program takes visa64.dll first.
const std::string kSystemFolder = [] {
  wchar_t folder[MAX_PATH];
  UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  return utf8_of(std::wstring_view(folder, n));
}();
const std::string kInstalledNames = sizeof(void*) == 8
                                        ? kSystemFolder + "\\visa64.dll, " + kSystemFolder + "\\visa32.dll"
                                        : kSystemFolder + "\\visa32.dll";
#else
const std::string kInstalledNames =
    "libvisa.so, libvisa.so.0, /usr/local/vxipnp/linux/lib64/libvisa.so, libiovisa.so, librsvisa.so";
#endif

TEST(LibraryLoader, NamesTheFunctionALibraryLacks) {
  VisaLibraryBackend backend(TMFLASH_INCOMPLETE_VISA);
  std::string why;
  EXPECT_EQ(backend.load(&why), nullptr);
  EXPECT_EQ(why, std::string("VISA library ") + TMFLASH_INCOMPLETE_VISA +
                     " has no function viUsbControlOut");
  // Asked again, it gives the same answer without trying again.
  std::string again;
  EXPECT_EQ(backend.load(&again), nullptr);
  EXPECT_EQ(again, why);
}

TEST(LibraryLoader, RefusesAPathThatDoesNotExist) {
  VisaLibraryBackend backend("/no/such/dir/libvisa.so");
  std::string why;
  EXPECT_EQ(backend.load(&why), nullptr);
  EXPECT_EQ(why, "VISA library /no/such/dir/libvisa.so does not exist");
}

TEST(LibraryLoader, RefusesAFileThatIsNoLibrary) {
  std::string path = std::string(TMFLASH_SOURCE_DIR) + "/CMakeLists.txt";
  VisaLibraryBackend backend(path);
  std::string why;
  EXPECT_EQ(backend.load(&why), nullptr);
  EXPECT_EQ(why.rfind("cannot load VISA library " + path + ": ", 0), 0u) << why;
}

TEST(LibraryLoader, SearchListsWhatItTriedWhenNothingIsInstalled) {
  for (const std::string& name : default_visa_library_names()) {
    std::string ignored;
    void* handle = dynlib::open(name, &ignored);
    if (handle != nullptr) {
      dynlib::close(handle);
      GTEST_SKIP() << "a VISA library is installed here: " << name;
    }
  }
  VisaLibraryBackend backend("");
  std::string why;
  EXPECT_EQ(backend.load(&why), nullptr);
  EXPECT_EQ(why, "no VISA library found (tried " + kInstalledNames +
                     "); name one with --visa=PATH, or use --visa=sim for a simulated instrument");
}

}  // namespace

namespace {

#ifdef TMFLASH_SIM_LIBRARY
// The simulator library has the VISA C ABI: the loader finds all ten
// functions, and they answer like VISA.
TEST(LibraryLoader, LoadsTheSimulatorLibraryAndCallsThroughIt) {
  set_environment("TMFLASH_SIM", nullptr);  // its default instrument
  VisaLibraryBackend backend(TMFLASH_SIM_LIBRARY);
  std::string why;
  const VisaApi* api = backend.load(&why);
  ASSERT_NE(api, nullptr) << why;
  EXPECT_EQ(backend.load(&why), api);  // loaded once
  ViSession rm = 0;
  ASSERT_EQ(api->viOpenDefaultRM(&rm), VI_SUCCESS);
  ViFindList list = 0;
  ViUInt32 count = 0;
  char desc[VI_FIND_BUFLEN] = {};
  ASSERT_EQ(api->viFindRsrc(rm, "USB[0-9]*::?*::INSTR", &list, &count, desc), VI_SUCCESS);
  EXPECT_EQ(count, 1u);
  EXPECT_STREQ(desc, "USB0::0x1234::0x5678::SIM0001::INSTR");
  EXPECT_EQ(api->viClose(rm), VI_SUCCESS);
  EXPECT_EQ(api->viClose(rm), VI_ERROR_INV_OBJECT);
}
#endif

}  // namespace

namespace {

// The first bytes of a PE image: a DOS header whose e_lfanew (at 0x3C) points
// to "PE\0\0" at pe_at, followed by the machine field.
std::string pe_head(uint16_t machine, uint32_t pe_at = 0x80) {
  std::string head(pe_at + 6, '\0');
  head[0] = 'M';
  head[1] = 'Z';
  for (int i = 0; i < 4; ++i) head[0x3C + i] = static_cast<char>(pe_at >> (8 * i));
  head.replace(pe_at, 4, std::string("PE\0\0", 4));
  head[pe_at + 4] = static_cast<char>(machine & 0xFF);
  head[pe_at + 5] = static_cast<char>(machine >> 8);
  return head;
}

TEST(LibraryLoader, TellsTheBitsOfADllFromItsHeader) {
  std::string beyond = pe_head(0x8664);
  beyond[0x3C] = static_cast<char>(0xF0);  // e_lfanew past the bytes read
  std::string not_mz = pe_head(0x014C);
  not_mz[0] = 'X';
  const struct {
    const char* what;
    std::string head;
    int bits;
  } cases[] = {
      {"x86", pe_head(0x014C), 32},
      {"x64", pe_head(0x8664), 64},
      {"ARM64", pe_head(0xAA64), 64},
      {"32-bit ARM", pe_head(0x01C4), 0},
      {"header at 0x40", pe_head(0x014C, 0x40), 32},
      {"cut in the machine field", pe_head(0x8664).substr(0, 0x85), 0},
      {"e_lfanew beyond the end", beyond, 0},
      {"no MZ", not_mz, 0},
      {"ELF", std::string("\x7F" "ELF\x02\x01\x01", 7) + std::string(120, '\0'), 0},
      {"empty", "", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(pe_image_bits(c.head), c.bits) << c.what;
}

#ifdef _WIN32
// The DLLs this build makes carry the bits of this build.
TEST(LibraryLoader, OurDllsAreOfThisProgramsBits) {
  for (const char* path : {TMFLASH_SIM_LIBRARY, TMFLASH_INCOMPLETE_VISA}) {
    FILE* file = open_file(path, "rb");
    ASSERT_NE(file, nullptr) << path;
    char head[4096];
    size_t n = fread(head, 1, sizeof head, file);
    fclose(file);
    EXPECT_EQ(pe_image_bits(std::string_view(head, n)), static_cast<int>(sizeof(void*) * 8)) << path;
  }
}

// The simulator library of the other Windows target: loading fails, and the
// reason says which bits the DLL and the program have.
TEST(LibraryLoader, SaysADllHasTheWrongBits) {
#ifndef TMFLASH_OTHER_BITNESS_SIM
  GTEST_SKIP() << "no DLL of the other bitness was named (TMFLASH_OTHER_BITNESS_SIM)";
#else
  const std::string path = TMFLASH_OTHER_BITNESS_SIM;
  if (FILE* file = open_file(path.c_str(), "rb")) {
    fclose(file);
  } else {
    GTEST_SKIP() << "the DLL of the other bitness is not built: " << path;
  }
  VisaLibraryBackend backend(path);
  std::string why;
  EXPECT_EQ(backend.load(&why), nullptr);
  const char* expected = sizeof(void*) == 8
                             ? ": it is a 32-bit DLL and this tmflash is 64-bit; use the 32-bit tmflash or a "
                               "64-bit VISA library"
                             : ": it is a 64-bit DLL and this tmflash is 32-bit; use the 64-bit tmflash or a "
                               "32-bit VISA library";
  EXPECT_EQ(why, "cannot load VISA library " + path + expected);
#endif
}

// A file that is no DLL: the system's own text for the error, and its number.
TEST(LibraryLoader, GivesTheSystemsMessageWhenLoadingFails) {
  std::string path = std::string(TMFLASH_SOURCE_DIR) + "/README.md";
  VisaLibraryBackend backend(path);
  std::string why;
  EXPECT_EQ(backend.load(&why), nullptr);
  std::string prefix = "cannot load VISA library " + path + ": ";
  ASSERT_EQ(why.rfind(prefix, 0), 0u) << why;
  EXPECT_TRUE(why.ends_with(" (Windows error 193)")) << why;  // ERROR_BAD_EXE_FORMAT
  EXPECT_GT(why.size(), prefix.size() + std::string(" (Windows error 193)").size() + 5) << "no system text: " << why;
  EXPECT_EQ(why.find("%1"), std::string::npos) << "the file is named, not left as %1: " << why;
}
#endif

}  // namespace
