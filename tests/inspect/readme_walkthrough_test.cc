// The README cannot go stale where people copy from it: its walkthrough
// "Your first update files" is run as written, its package description is
// built, and the outputs it shows under "Inspecting update files" are the
// tools' outputs.
//
// The README marks what a test reads with an HTML comment on the line
// before an indented block:
//   <!-- walkthrough: file NAME -->   the block is the file NAME
//   <!-- walkthrough: run -->         the block is shell commands that succeed
//   <!-- walkthrough: fails "TEXT" --> shell commands that fail, TEXT in their output
//   <!-- walkthrough: output -->      what a terminal shows of the run before
//   <!-- example: package description --> a description tmpack builds
//   <!-- inspect: COMMAND -->         the output of COMMAND, run in build/demo
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "package/package_description.h"
#include "package/package_writer.h"
#include "support/temp_dir.h"
#include "support/text_files.h"

namespace {

struct Block {
  std::string marker;  // what follows "<!-- " up to " -->"
  std::string text;    // the block, its indent removed, each line with its '\n'
};

// Every marked block of the README, in order.
std::vector<Block> marked_blocks() {
  std::vector<std::string> lines = lines_of(read_file(std::string(TMFLASH_SOURCE_DIR) + "/README.md"));
  std::vector<Block> blocks;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.rfind("<!-- ", 0) != 0 || line.size() < 9 || line.compare(line.size() - 4, 4, " -->") != 0) continue;
    Block b{line.substr(5, line.size() - 9), ""};
    size_t j = i + 1;
    while (j < lines.size() && lines[j].empty()) ++j;
    // The block: indented lines, with blank lines inside it.
    for (; j < lines.size() && (lines[j].rfind("    ", 0) == 0 || lines[j].empty()); ++j) {
      b.text += (lines[j].empty() ? "" : lines[j].substr(4)) + "\n";
    }
    while (b.text.size() >= 2 && b.text.compare(b.text.size() - 2, 2, "\n\n") == 0) b.text.pop_back();
    blocks.push_back(std::move(b));
  }
  return blocks;
}

std::vector<Block> blocks_marked(const std::string& prefix) {
  std::vector<Block> out;
  for (Block& b : marked_blocks()) {
    if (b.marker.rfind(prefix, 0) == 0) out.push_back(std::move(b));
  }
  return out;
}

// What a terminal shows of text: a "\r" returns to the start of the line,
// and what follows overwrites what was there.
std::string screen(const std::string& text) {
  std::string out, line;
  size_t column = 0;
  for (char c : text) {
    if (c == '\n') {
      out += line + "\n";
      line.clear();
      column = 0;
    } else if (c == '\r') {
      column = 0;
    } else {
      if (column < line.size()) line[column] = c;
      else line += c;
      ++column;
    }
  }
  return out + line;
}

std::string quoted_for_shell(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The walkthrough as one shell script: files are written where the
// commands before them left the working directory.
std::string walkthrough_script(const std::string& out_dir, std::vector<std::string>* outputs) {
  std::string script = "set -e\nexport PATH=" + quoted_for_shell(std::string(TMFLASH_BUILD_DIR)) + ":\"$PATH\"\n";
  int runs = 0;
  for (const Block& b : blocks_marked("walkthrough: ")) {
    std::string what = b.marker.substr(13);
    std::string log = quoted_for_shell(out_dir + "/run" + std::to_string(runs));
    if (what.rfind("file ", 0) == 0) {
      script += "printf '%s' " + quoted_for_shell(b.text) + " > " + quoted_for_shell(what.substr(5)) + "\n";
    } else if (what == "run") {
      script += "{\n" + b.text + "} > " + log + " 2>&1 || { cat " + log + "; exit 1; }\n";
      ++runs;
    } else if (what.rfind("fails \"", 0) == 0) {
      std::string expected = what.substr(7, what.size() - 8);
      script += "if (\n" + b.text + ") > " + log + " 2>&1; then echo 'succeeded: " + std::to_string(runs) +
                "'; exit 1; fi\n" + "grep -qF " + quoted_for_shell(expected) + " " + log +
                " || { echo 'no " + expected + "'; cat " + log + "; exit 1; }\n";
      ++runs;
    } else if (what == "output") {
      outputs->resize(static_cast<size_t>(runs));
      outputs->back() = b.text;
    } else {
      ADD_FAILURE() << "unknown walkthrough marker: " << b.marker;
    }
  }
  return script;
}

TEST(ReadmeWalkthrough, RunsAsWrittenAndEndsUpdateOk) {
  TempDir dir;
  std::vector<std::string> outputs;
  std::string script = dir.write("walkthrough.sh", walkthrough_script(dir.path(), &outputs));
  ASSERT_FALSE(outputs.empty()) << "the README shows no walkthrough output";
  std::string command = "cd " + quoted_for_shell(dir.path()) + " && sh walkthrough.sh > walkthrough.log 2>&1";
  int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << read_file(dir.file("walkthrough.log"))
                                                             << "\n--- script:\n" << read_file(script);
  for (size_t run = 0; run < outputs.size(); ++run) {
    if (outputs[run].empty()) continue;
    EXPECT_EQ(screen(read_file(dir.file("run" + std::to_string(run)))), outputs[run]) << "run " << run;
  }
  std::string last = read_file(dir.file("run" + std::to_string(outputs.size() - 1)));
  const std::string end = "\nUpdate Ok\n";
  ASSERT_GE(last.size(), end.size());
  EXPECT_EQ(last.substr(last.size() - end.size()), end);
}

TEST(ReadmeWalkthrough, ThePackageDescriptionOfTheReadmeBuilds) {
  std::vector<Block> blocks = blocks_marked("example: package description");
  ASSERT_EQ(blocks.size(), 1u);
  PackagePlan plan;
  std::string error;
  auto no_files = [](const std::string&, std::vector<uint8_t>*) { return false; };
  ASSERT_TRUE(parse_package_description(blocks[0].text, no_files, &plan, &error)) << error;
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(build_package(plan, &bytes, &error)) << error;
}

TEST(ReadmeInspecting, ShowsWhatTheToolsSayOfTheDemo) {
  std::vector<Block> blocks = blocks_marked("inspect: ");
  ASSERT_EQ(blocks.size(), 2u);
  for (const Block& b : blocks) {
    std::string command = b.marker.substr(9);
    SCOPED_TRACE(command);
    std::string out = command_output("cd " + quoted_for_shell(std::string(TMFLASH_BUILD_DIR) + "/demo") + " && " +
                                     quoted_for_shell(std::string(TMFLASH_BUILD_DIR) + "/") + command);
    EXPECT_EQ(out, b.text);
  }
}

}  // namespace
