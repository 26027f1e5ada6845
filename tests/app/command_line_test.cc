#include "app/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Case {
  std::vector<const char*> argv;
  CommandLine::Action action;
  const char* visa;
  int list_arg;
  const char* error;
};

TEST(CommandLine, ParsesOptionsBeforeTheListFile) {
  const Case cases[] = {
      {{"tmflash"}, CommandLine::kRun, "", -1, ""},
      {{"tmflash", "a.lst"}, CommandLine::kRun, "", 1, ""},
      {{"tmflash", "a.lst", "--visa=x", "--help"}, CommandLine::kRun, "", 1, ""},
      {{"tmflash", "--visa=sim:d.sim", "a.lst"}, CommandLine::kRun, "sim:d.sim", 2, ""},
      {{"tmflash", "--visa", "/lib/libvisa.so", "a.lst"}, CommandLine::kRun, "/lib/libvisa.so", 3, ""},
      {{"tmflash", "--visa=sim"}, CommandLine::kRun, "sim", -1, ""},
      {{"tmflash", "--", "--odd-name.lst"}, CommandLine::kRun, "", 2, ""},
      {{"tmflash", "-"}, CommandLine::kRun, "", 1, ""},  // a file named "-"
      {{"tmflash", "--help", "a.lst"}, CommandLine::kHelp, "", -1, ""},
      {{"tmflash", "--version"}, CommandLine::kVersion, "", -1, ""},
      {{"tmflash", "--visa"}, CommandLine::kError, "", -1, "option --visa needs a value"},
      {{"tmflash", "--visa=", "a.lst"}, CommandLine::kError, "", -1, "option --visa needs a value"},
      {{"tmflash", "-x", "a.lst"}, CommandLine::kError, "", -1, "unknown option -x"},
  };
  for (const Case& c : cases) {
    CommandLine cl = parse_command_line(static_cast<int>(c.argv.size()), c.argv.data());
    std::string shown;
    for (const char* a : c.argv) shown += std::string(a) + " ";
    EXPECT_EQ(cl.action, c.action) << shown;
    EXPECT_EQ(cl.visa, c.visa) << shown;
    EXPECT_EQ(cl.list_arg, c.list_arg) << shown;
    EXPECT_EQ(cl.error, c.error) << shown;
  }
}

}  // namespace
