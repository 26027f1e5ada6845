#include "app/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Case {
  std::vector<const char*> argv;
  CommandLine::Action action;
  const char* visa;
  const char* list_file;  // nullptr: none
  const char* error;
};

std::string shown(const std::vector<const char*>& argv) {
  std::string text;
  for (const char* a : argv) text += std::string(a) + " ";
  return text;
}

CommandLine parse(const std::vector<const char*>& argv) {
  return parse_command_line(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLine, ParsesOptionsBeforeTheListFileAndIgnoresWhatFollows) {
  const Case cases[] = {
      {{"tmflash"}, CommandLine::kRun, "", nullptr, ""},
      {{"tmflash", "a.lst"}, CommandLine::kRun, "", "a.lst", ""},
      {{"tmflash", "a.lst", "--visa=x", "--help"}, CommandLine::kRun, "", "a.lst", ""},
      {{"tmflash", "a.lst", "--bogus", "more"}, CommandLine::kRun, "", "a.lst", ""},
      {{"tmflash", "--visa=sim:d.sim", "a.lst"}, CommandLine::kRun, "sim:d.sim", "a.lst", ""},
      {{"tmflash", "--visa", "/lib/libvisa.so", "a.lst"}, CommandLine::kRun, "/lib/libvisa.so", "a.lst", ""},
      {{"tmflash", "--visa=a", "--visa=b", "a.lst"}, CommandLine::kRun, "b", "a.lst", ""},
      {{"tmflash", "--visa=sim"}, CommandLine::kRun, "sim", nullptr, ""},
      {{"tmflash", "--visa", "a.lst"}, CommandLine::kRun, "a.lst", nullptr, ""},
      {{"tmflash", "--", "--odd-name.lst"}, CommandLine::kRun, "", "--odd-name.lst", ""},
      {{"tmflash", "-"}, CommandLine::kRun, "", "-", ""},  // a file named "-"
      {{"tmflash", ""}, CommandLine::kRun, "", "", ""},    // an empty name is a list file that cannot be read
      {{"tmflash", "--help", "a.lst"}, CommandLine::kHelp, "", nullptr, ""},
      {{"tmflash", "-h"}, CommandLine::kHelp, "", nullptr, ""},
      {{"tmflash", "--version"}, CommandLine::kVersion, "", nullptr, ""},
      {{"tmflash", "--visa"}, CommandLine::kError, "", nullptr, "option --visa needs a value"},
      {{"tmflash", "--visa=", "a.lst"}, CommandLine::kError, "", nullptr, "option --visa needs a value"},
      {{"tmflash", "--log=", "a.lst"}, CommandLine::kError, "", nullptr, "option --log needs a value"},
      {{"tmflash", "-x", "a.lst"}, CommandLine::kError, "", nullptr, "unknown option -x"},
      {{"tmflash", "--bogus=1", "a.lst"}, CommandLine::kError, "", nullptr, "unknown option --bogus=1"},
  };
  for (const Case& c : cases) {
    CommandLine cl = parse(c.argv);
    EXPECT_EQ(cl.action, c.action) << shown(c.argv);
    EXPECT_EQ(cl.visa, c.visa) << shown(c.argv);
    EXPECT_EQ(cl.list_file.has_value(), c.list_file != nullptr) << shown(c.argv);
    if (c.list_file != nullptr && cl.list_file) {
      EXPECT_EQ(*cl.list_file, c.list_file) << shown(c.argv);
    }
    EXPECT_EQ(cl.error, c.error) << shown(c.argv);
  }
}

TEST(CommandLine, StationOptionsInBothForms) {
  CommandLine cl = parse({"tmflash", "--serial", "SN42", "--log=run.log", "--report", "out.json", "--trace=t.jsonl",
                          "--no-pause", "a.lst", "--select=3"});
  ASSERT_EQ(cl.action, CommandLine::kRun) << cl.error;
  EXPECT_EQ(cl.serial, "SN42");
  EXPECT_EQ(cl.log, "run.log");
  EXPECT_EQ(cl.report, "out.json");
  EXPECT_EQ(cl.trace, "t.jsonl");
  EXPECT_TRUE(cl.no_pause);
  EXPECT_EQ(cl.select, -1);  // after the list file: ignored
  EXPECT_EQ(*cl.list_file, "a.lst");

  CommandLine select = parse({"tmflash", "--select=2", "a.lst"});
  EXPECT_EQ(select.select, 2);
  EXPECT_FALSE(select.no_pause);
}

TEST(CommandLine, StationOptionErrors) {
  const struct {
    std::vector<const char*> argv;
    const char* error_part;
  } cases[] = {
      {{"tmflash", "--select=x", "a.lst"}, "--select"},
      {{"tmflash", "--select=-1", "a.lst"}, "--select"},
      {{"tmflash", "--select=1", "--serial=A", "a.lst"}, "excludes"},
      {{"tmflash", "--serial"}, "option --serial needs a value"},
  };
  for (const auto& c : cases) {
    CommandLine cl = parse(c.argv);
    EXPECT_EQ(cl.action, CommandLine::kError) << shown(c.argv);
    EXPECT_NE(cl.error.find(c.error_part), std::string::npos) << shown(c.argv) << cl.error;
  }
}

// --help is generated from the options: every one of them is in it.
TEST(CommandLine, HelpListsEveryOption) {
  std::string help = usage_text();
  EXPECT_EQ(help.rfind("Usage: tmflash [OPTIONS] LIST_FILE", 0), 0u) << help;
  for (const char* option : {"--visa", "--select", "--serial", "--log", "--report", "--trace", "--no-pause",
                             "--help", "--version", "LIST_FILE", "replay:FILE", "sim:FILE"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option << "\n" << help;
  }
  EXPECT_EQ(help.find("ignored "), std::string::npos) << "the ignored words are no option\n" << help;
}

}  // namespace
