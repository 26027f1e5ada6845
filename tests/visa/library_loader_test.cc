#include "visa/library_loader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

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
  EXPECT_NE(why.find("no VISA library found (tried libvisa.so, libvisa.so.0,"), std::string::npos)
      << why;
}

}  // namespace

namespace {

#ifdef TMFLASH_SIM_LIBRARY
// The simulator library has the VISA C ABI: the loader finds all ten
// functions, and they answer like VISA.
TEST(LibraryLoader, LoadsTheSimulatorLibraryAndCallsThroughIt) {
  unsetenv("TMFLASH_SIM");  // its default instrument
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
