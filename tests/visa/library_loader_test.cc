#include "visa/library_loader.h"

#include <gtest/gtest.h>

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
