// What tells the operator about the options says the same as --help: the
// manual page generated from it and the bash completion.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "app/command_line.h"
#include "support/text_files.h"

namespace {

const std::string kCompletion = std::string(TMFLASH_SOURCE_DIR) + "/doc/tmflash.bash";
const char kBashCompletion[] = "/usr/share/bash-completion/bash_completion";

// Every long option that text names.
std::set<std::string> long_options(const std::string& text) {
  static const std::regex option("--[a-z][a-z-]*");
  std::set<std::string> found;
  for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it) found.insert(it->str());
  return found;
}

TEST(HelpDocs, TheCompletionOffersExactlyTheOptionsOfHelp) {
  std::string script = read_file(kCompletion);
  std::smatch list;
  ASSERT_TRUE(std::regex_search(script, list, std::regex("_tmflash_options=\"([^\"]*)\""))) << script;
  std::set<std::string> help = long_options(usage_text());
  help.erase("--visa=replay");  // "--visa=replay:FILE" in the text of --trace
  EXPECT_EQ(long_options(list[1].str()), help);
}

TEST(HelpDocs, TheCompletionCompletesOptionsAndStopsAtTheListFile) {
  if (!std::ifstream(kBashCompletion)) GTEST_SKIP() << "bash-completion not installed";
  // What bash hands a completion function for the line typed up to its
  // end: the line, and its words split at blanks and at "=" and ":".
  auto complete = [](const std::string& line, const std::string& words, int cword) {
    std::string command = "bash -c 'source " + std::string(kBashCompletion) + "; source " + kCompletion +
                          "; compopt() { :; }; COMP_WORDS=(" + words + "); COMP_CWORD=" + std::to_string(cword) +
                          "; COMP_LINE=\"" + line + "\"; COMP_POINT=${#COMP_LINE}; _tmflash tmflash; "
                          "echo \"${COMPREPLY[*]}\"'";
    return command_output(command);
  };
  EXPECT_EQ(complete("tmflash --se", "tmflash --se", 1), "--select= --serial=\n");
  EXPECT_EQ(complete("tmflash --no-pause --re", "tmflash --no-pause --re", 2), "--report=\n");
  EXPECT_EQ(complete("tmflash --visa=re", "tmflash --visa = re", 3), "replay:\n");
  EXPECT_EQ(complete("tmflash --visa us", "tmflash --visa us", 2), "usb\n");
  EXPECT_EQ(complete("tmflash list.lst --se", "tmflash list.lst --se", 2), "\n");  // after the list file: ignored
  EXPECT_EQ(complete("tmflash --serial --se", "tmflash --serial --se", 2), "\n");  // the serial number itself
}

#ifdef TMFLASH_MAN_PAGE
TEST(HelpDocs, TheManualPageTellsEveryOptionOfHelp) {
  std::string page = read_file(TMFLASH_MAN_PAGE);
  ASSERT_FALSE(page.empty()) << TMFLASH_MAN_PAGE;
  // roff writes a minus as "\-".
  std::string plain = std::regex_replace(page, std::regex(R"(\\-)"), "-");
  for (const std::string& option : long_options(usage_text())) {
    EXPECT_NE(plain.find(option), std::string::npos) << option;
  }
  EXPECT_NE(plain.find(".SH EXAMPLES"), std::string::npos);
}
#endif

}  // namespace
