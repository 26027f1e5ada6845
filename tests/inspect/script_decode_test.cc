// Reading scripts back into their source: every script our writer made
// decodes to a source that compiles to the same bytes, a script made by
// hand too, and the lines a run would refuse carry the run's message.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "script/script.h"
#include "script/script_decode.h"
#include "script/script_writer.h"
#include "support/temp_dir.h"
#include "support/text_files.h"

namespace {

std::string compiled(const std::string& source) {
  std::string script, error;
  EXPECT_TRUE(compile_script(source, &script, &error)) << error << "\n" << source;
  return script;
}

// Decodes script and compiles the source again: the bytes must come back.
void expect_round_trip(const std::string& script, const std::string& what) {
  SCOPED_TRACE(what);
  ScriptDecode decoded = decode_script(script, what);
  EXPECT_TRUE(decoded.exact) << decoded.source;
  EXPECT_EQ(compiled(decoded.source), script) << decoded.source;
}

// The source lines of a decoded script that are not notes.
std::vector<std::string> said_lines(const std::string& source) {
  std::vector<std::string> out;
  for (const std::string& line : lines_of(source)) {
    if (line.rfind("@#", 0) != 0) out.push_back(line);
  }
  return out;
}

std::vector<std::string> files_in(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().filename() != "README.md") out.push_back(entry.path().string());
  }
  return out;
}

TEST(ScriptDecode, EveryScriptOurWriterMadeComesBackByteForByte) {
  // The example's source, the fuzz seeds' sources, and the seeds' scripts
  // (after their setup byte), and the demo's built script.
  std::vector<std::string> sources = files_in(std::string(TMFLASH_FUZZ_DIR) + "/seeds/script_source");
  sources.push_back(std::string(TMFLASH_SOURCE_DIR) + "/examples/demo/firmware.src");
  for (const std::string& path : sources) expect_round_trip(compiled(read_file(path)), path);
  for (const std::string& path : files_in(std::string(TMFLASH_FUZZ_DIR) + "/seeds/script")) {
    expect_round_trip(read_file(path).substr(1), path);
  }
  std::string demo = read_file(std::string(TMFLASH_BUILD_DIR) + "/demo/firmware.txt");
  ASSERT_FALSE(demo.empty());
  expect_round_trip(demo, "build/demo/firmware.txt");
}

TEST(ScriptDecode, DirectivesShowTheirSourceFormOnlyWhereItWritesThemBack) {
  const std::string header = scramble_text(":FW:UPD");
  std::string lower = header;
  for (char& c : lower) c = static_cast<char>(tolower(c));
  struct {
    std::string line;          // a script line
    std::string said;          // its source line
    std::string note;          // a note that must stand before it ("" for none)
  } cases[] = {
      {"___h=" + header + "\n", "@header :FW:UPD", ""},
      {"___h=\n", "@header", ""},
      {"___j=" + scramble_text("SYST:BOOT") + "\n", "@jump SYST:BOOT", ""},
      {"___l=" + scramble_text("2.10") + "\n", "@boot 2.10", ""},
      {"___m=" + scramble_text(",1.02,1.03,") + "\n", "@main ,1.02,1.03,", ""},
      {"___w=" + scramble_text("HW3") + "\n", "@hw HW3", ""},
      {"___v=1.04\n", "@version 1.04", ""},
      {"___c= TMSIM \n", "@company  TMSIM ", ""},
      {"___u=" + u_directive_value(2, 1, 1, 5000) + "\n", "@u mode=2 binary=1 comm_reset=1 delay=5000", ""},
      // What the writer would write differently stays as it stands.
      {"___h=" + lower + "\n", "___h=" + lower, "the run reads command header \":FW:UPD\""},
      {"___v=1.04\r\n", "___v=1.04\r", "the run reads version \"1.04\""},
      {"___h:" + header + "\n", "___h:" + header, "the run reads command header \":FW:UPD\""},
      {"___h=" + header + "ZZ\n", "___h=" + header + "ZZ", "the run reads command header \":FW:UPD\""},
      {"___u=D0ZZZZZZZZ\n", "___u=D0ZZZZZZZZ", "the run reads mode=0 binary=1 comm_reset=1 delay=-1245674501"},
      {"___x=1\n", "___x=1", "warning: directive \"___x=1\" has no known letter; the run ignores it"},
      // A text longer than its setting: said, with what the run keeps.
      {"___v=" + std::string(40, 'v') + "\n", "@version " + std::string(40, 'v'),
       "the run keeps only the version \"" + std::string(29, 'v') + "\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    std::string script = c.line + "&x$\n";
    ScriptDecode decoded = decode_script(script, "t.txt");
    std::vector<std::string> said = said_lines(decoded.source);
    ASSERT_EQ(said.size(), 2u) << decoded.source;
    EXPECT_EQ(said[0], c.said);
    EXPECT_EQ(said[1], "&x$");
    if (!c.note.empty()) {
      EXPECT_NE(decoded.source.find(c.note), std::string::npos) << decoded.source;
    }
    EXPECT_TRUE(decoded.exact);
    EXPECT_EQ(compiled(decoded.source), script);
  }
}

TEST(ScriptDecode, AChecksumLineIsShownWithWhetherItHolds) {
  const std::string body = "&e@00010000$\n&x$\n";
  const std::string good = "___f=" + checksum_value(body) + "\n" + body;
  ScriptDecode decoded = decode_script(good, "good.txt");
  EXPECT_EQ(said_lines(decoded.source)[0], "@checksum");
  EXPECT_NE(decoded.source.find("@# checksum: holds for the lines after it\n@checksum\n"), std::string::npos);
  EXPECT_NE(decoded.source.find("checksum: the file's checksum (line 1) holds"), std::string::npos);
  EXPECT_EQ(decoded.faults, 0);
  EXPECT_EQ(compiled(decoded.source), good);

  std::string bad = good;
  bad.replace(bad.size() - 4, 3, "&q$");  // changed after the checksum was written
  decoded = decode_script(bad, "bad.txt");
  EXPECT_EQ(said_lines(decoded.source)[0], "___f=" + checksum_value(body));
  EXPECT_NE(decoded.source.find("does not hold for the lines after it (they need \"___f=" +
                                checksum_value("&e@00010000$\n&q$\n") + "\")"),
            std::string::npos)
      << decoded.source;
  EXPECT_NE(decoded.source.find("checksum: the file's checksum (line 1) does NOT hold"), std::string::npos);
  // The run refuses it for that, as --check says.
  EXPECT_EQ(decoded.faults, 1);
  EXPECT_NE(decoded.source.find("@# line 1: fault [Corrupted Update File. (11)]"), std::string::npos)
      << decoded.source;
  EXPECT_EQ(compiled(decoded.source), bad);

  decoded = decode_script(body, "none.txt");
  EXPECT_NE(decoded.source.find("checksum: the script has no checksum line"), std::string::npos);
  // tmscript would put one first: the note says so.
  EXPECT_NE(decoded.source.find("tmscript puts a checksum line before the first line"), std::string::npos);
}

TEST(ScriptDecode, LinesTheRunWouldRefuseCarryItsMessage) {
  const std::string script = "___u=" + u_directive_value(0, 0, 0, 3000) + "\n&e@00001000$\n&d#DEADBEE$\n&x$\n";
  ScriptDecode decoded = decode_script(script, "fw.txt");
  EXPECT_EQ(decoded.faults, 1);
  EXPECT_NE(decoded.source.find("@# line 3: fault [Corrupted Update File. (2)]: the command line \"&d#DEADBEE$\" is "
                                "refused in text mode: a payload pair is not two hex digits, or its '$' is missing\n"
                                "&d#DEADBEE$\n"),
            std::string::npos)
      << decoded.source;
  EXPECT_NE(decoded.source.find("1 faults, 0 warnings"), std::string::npos);
  EXPECT_EQ(compiled(decoded.source), script);

  // In binary mode the same line gives the binary framing's message.
  const std::string binary = "___u=" + u_directive_value(0, 1, 0, 3000) + "\n&d#DEADBEE$\n";
  decoded = decode_script(binary, "fw.txt");
  EXPECT_NE(decoded.source.find("@# line 2: fault [Corrupted Update File. (1)]"), std::string::npos);
}

// Written by hand, in the ways people write scripts that no writer of ours
// writes: CR LF line ends, lower-case hex, a checksum in the middle, a blank
// line, an unknown directive, a last line without its line end.
TEST(ScriptDecode, AScriptMadeByHandDecodesToASourceThatRebuildsIt) {
  const std::string script =
      "___v=2.0\r\n"
      "___h=ff8392ff909581\r\n"
      "___u=E05B2E66AC\n"
      "___q=whatever\n"
      "&t$\r\n"
      "___f=00000000\n"
      "\n"
      "&e@0001F000$\r\n"
      "&d#0a1b$\n"
      "___v=2.0";
  ScriptDecode decoded = decode_script(script, "hand.txt");
  EXPECT_TRUE(decoded.exact);
  EXPECT_EQ(compiled(decoded.source), script) << decoded.source;
  // The one directive the writer writes the same way is said as a directive.
  EXPECT_NE(decoded.source.find("\n@u mode=0 binary=0 comm_reset=0 delay=3000\n"), std::string::npos)
      << decoded.source;
  EXPECT_NE(decoded.source.find("the run reads command header \":FW:UPD\""), std::string::npos);
  // The blank line is a command line the run refuses.
  EXPECT_NE(decoded.source.find("@# line 7: fault [Corrupted Update File. (2)]"), std::string::npos);
}

TEST(ScriptDecode, ACommandLineThatBeginsWithAtCannotBeSaidAndIsNamed) {
  const std::string script = "&e@00001000$\n@u mode=3\n&x$\n";
  ScriptDecode decoded = decode_script(script, "at.txt");
  EXPECT_FALSE(decoded.exact);
  EXPECT_EQ(decoded.unsaid, std::vector<int>{2});
  EXPECT_NE(decoded.source.find("@# line 2 cannot be said in a source (it begins with '@') and is left out: "
                                "\"@u mode=3\""),
            std::string::npos)
      << decoded.source;
  EXPECT_NE(decoded.source.find("Not every line can be said in a source"), std::string::npos);
  // Everything else comes back.
  EXPECT_EQ(compiled(decoded.source), "&e@00001000$\n&x$\n");
}

TEST(ScriptDecode, NotesWriteNothing) {
  EXPECT_EQ(compiled("@# a note\n&x$\n@#\n"), "&x$\n");
}

}  // namespace
