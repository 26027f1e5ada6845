// The demo's package and script, cut at every length and with single bits
// flipped over every region, each run as the one job of a list against a
// fresh demo instrument. What a damaged file may do: be refused before the
// instrument's first erase, or (when the damage left a file that is whole
// in every way the updater can see) run to "Update Ok" over the right image.
// What it must never do: end "Update Ok" over a wrong or partial image, or
// end without a red message.
//
// Each sweep prints its figures by region: runs, refused before the first
// erase, "Update Ok" with the image right, "Update Ok" with the image wrong,
// failed after erasing (the instrument is left in its bootloader; a rerun of
// the right file recovers it), other.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "package/package_format.h"
#include "package/package_trailer.h"
#include "reliability/demo_bench.h"

namespace reliability {
namespace {

struct Region {
  std::string name;
  size_t begin, end;
  size_t step = 1;  // every step-th byte is flipped
};

struct Tally {
  uint32_t runs = 0, refused = 0, ok_right = 0, ok_wrong = 0, failed_after_erase = 0, other = 0;

  void add(const Outcome& o) {
    ++runs;
    if (o.status == 1 && o.red && !o.update_ok) {
      (o.erases == 0 && o.data == 0 ? refused : failed_after_erase) += 1;
    } else if (o.status == 0 && o.update_ok) {
      (o.image_ok ? ok_right : ok_wrong) += 1;
    } else {
      ++other;
    }
  }
  void print(const char* what, const std::string& file, const std::string& region) const {
    printf("%s, %-12s %-26s %4u runs: %4u refused before the first erase, %3u Update Ok (image right), "
           "%3u Update Ok (image WRONG), %3u failed after erasing, %u other\n",
           what, file.c_str(), region.c_str(), runs, refused, ok_right, ok_wrong, failed_after_erase, other);
  }
};

uint32_t le32(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)]);
  return v;
}

// The package's header fields, its section records (those the run order
// names, and the rest, which are sampled), each section's data, and what
// follows the last section (the integrity trailer, when there is one).
std::vector<Region> package_regions(const std::string& pkg) {
  std::vector<Region> out = {{"magic", kMagicOffset, kMagicOffset + 4},
                             {"b argument", kBArgumentOffset, kBArgumentOffset + 4},
                             {"run order", kRunOrderOffset, kRunOrderOffset + kRunOrderSize},
                             {"device code", kDeviceCodeOffset, kDeviceCodeOffset + kDeviceCodeSize}};
  bool named[kSectionCount] = {};
  for (int i = kRunOrderOffset; i < kRunOrderOffset + kRunOrderSize; ++i) {
    uint8_t index = static_cast<uint8_t>(pkg[static_cast<size_t>(i)]);
    if (index == kRunOrderEnd) break;
    if (index < kSectionCount) named[index] = true;
  }
  size_t data = kPtHeaderSize;
  for (int r = 0; r < kSectionCount; ++r) {
    size_t record = static_cast<size_t>(kRecordsOffset + kRecordSize * r);
    std::string section = "section " + std::to_string(r);
    if (named[r]) {
      out.push_back({section + " record", record, record + kRecordSize});
    } else {
      out.push_back({"records not run", record, record + kRecordSize, 7});
    }
    size_t length = le32(pkg, record + kRecLengthOffset);
    if (length == 0) continue;
    uint8_t flags = static_cast<uint8_t>(pkg[record + kRecFlagsOffset]);
    if (flags == kCommandSectionFlags) {
      out.push_back({section + " command text", data, data + length});
    } else if (flags & kBinarySectionBit) {
      out.push_back({section + " sub-header", data, data + kBinHeaderSize});
      out.push_back({section + " image", data + kBinHeaderSize, data + length});
    } else {
      out.push_back({section + " framed records", data, data + length});
    }
    data += length;
  }
  if (data < pkg.size()) out.push_back({"after the sections", data, pkg.size()});
  return out;
}

// The script's lines by kind: a checksum line, directive lines, command lines.
std::vector<Region> script_regions(const std::string& script) {
  std::vector<Region> out;
  for (size_t at = 0; at < script.size();) {
    size_t end = script.find('\n', at);
    end = end == std::string::npos ? script.size() : end + 1;
    std::string_view line(script.data() + at, end - at);
    std::string kind = line.starts_with("___f=") ? "checksum line"
                       : line.starts_with("___") ? "directive lines"
                                                 : "command lines";
    out.push_back({kind, at, end});
    at = end;
  }
  return out;
}

struct SweptFile {
  const char* name;
  const char* key;  // list-file key of its job
  const std::string& (*bytes)();
  std::vector<Region> (*regions)(const std::string&);
};

void PrintTo(const SweptFile& f, std::ostream* out) { *out << f.name; }

const std::string& package_bytes() { return demo_files().package; }
const std::string& script_bytes() { return demo_files().script; }

const SweptFile kPackage{"firmware.pkg", "pt", &package_bytes, &package_regions};
const SweptFile kScript{"firmware.txt", "path", &script_bytes, &script_regions};

class FileSweep : public ::testing::TestWithParam<SweptFile> {
 protected:
  void SetUp() override {
    path = dir.file(GetParam().name);
    list = one_job_list(dir, GetParam().key, path);
    write(GetParam().bytes());
    reference = clean_image(list, demo_files().instrument);
  }

  void write(const std::string& bytes) { dir.write(GetParam().name, bytes); }

  // Runs the file's bytes as the one job of a list on a fresh instrument.
  Outcome run(const std::string& bytes) {
    write(bytes);
    Station station(demo_files().instrument);
    station.reference = reference;
    return station.run(list);
  }

  TempDir dir;
  std::string path, list;
  FlashImage reference;
};

// The demo's files carry what protects them: the script a checksum line
// first (it covers every line after it), the package its trailer.
bool protected_file(const SweptFile& f) {
  const std::string& bytes = f.bytes();
  if (f.key == std::string("path")) return bytes.starts_with("___f=");
  const std::string marker(kTrailerMarker, sizeof kTrailerMarker);
  return bytes.size() >= kTrailerSize && bytes.compare(bytes.size() - kTrailerSize, marker.size(), marker) == 0;
}

// Whether a cut of the script leaves no command line at all: then it is a
// script that does nothing, which stays valid (only --strict refuses it).
bool no_command_left(std::string_view cut) {
  for (size_t at = 0; at < cut.size();) {
    size_t end = cut.find('\n', at);
    end = end == std::string_view::npos ? cut.size() : end + 1;
    if (!cut.substr(at, end - at).starts_with("___") && !std::string_view("___").starts_with(cut.substr(at, end - at)))
      return false;
    at = end;
  }
  return true;
}

// Cut at every length from 0 to one byte short of the whole file, without
// and with --strict. A cut is refused before the first erase, except where
// the cut leaves a file that is whole as far as anyone can tell: the
// package without its trailer (which packages may lack) and a script with
// no command left (which does nothing); --strict refuses those too.
TEST_P(FileSweep, EveryTruncationIsRefusedBeforeTheFirstErase) {
  ASSERT_TRUE(protected_file(GetParam()));
  const std::string& whole = GetParam().bytes();
  for (bool strict : {false, true}) {
    Tally t;
    uint32_t whole_as_far_as_seen = 0;
    int shown = 0;
    // Under --strict every cut of the package loses its trailer first, and
    // that alone refuses it: every 7th length and the last 16 keep the
    // sanitizer build of this sweep fast.
    bool sampled = strict && GetParam().key == std::string("pt");
    for (size_t n = 0; n < whole.size(); ++n) {
      if (sampled && n % 7 != 0 && n + kTrailerSize < whole.size()) continue;
      std::string cut = whole.substr(0, n);
      write(cut);
      Station station(demo_files().instrument);
      station.reference = reference;
      station.integrity.strict = strict;
      Outcome o = station.run(list);
      t.add(o);
      bool refused = o.status == 1 && o.red && o.erases == 0 && o.data == 0;
      bool seen_whole = !strict && (GetParam().key == std::string("pt") ? n == whole.size() - kTrailerSize
                                                                         : no_command_left(cut));
      // The package without its trailer writes the whole image; the script
      // with no command sends nothing.
      bool ran_whole = seen_whole && o.status == 0 && o.update_ok &&
                       (GetParam().key == std::string("pt") ? o.image_ok : o.erases == 0 && o.data == 0);
      whole_as_far_as_seen += ran_whole ? 1 : 0;
      if (!refused && !ran_whole && shown++ < 3) {
        ADD_FAILURE() << GetParam().name << (strict ? " --strict" : "") << " cut at " << n << " bytes: " << describe(o);
      }
    }
    t.print(strict ? "truncations, --strict" : "truncations", GetParam().name,
            "0 .. " + std::to_string(whole.size() - 1) + " bytes");
    if (!strict) printf("  of these, %u ran as the whole files they still are\n", whole_as_far_as_seen);
    EXPECT_EQ(t.refused + whole_as_far_as_seen, t.runs);
  }
}

// One bit flipped per byte, the bit moving with the offset, over every
// region of the file (every 7th byte of the records the run order does not
// name).
TEST_P(FileSweep, BitFlipSampleNeverEndsUpdateOkOverAWrongImage) {
  ASSERT_TRUE(protected_file(GetParam()));
  const std::string& whole = GetParam().bytes();
  std::vector<std::pair<std::string, Tally>> by_region;  // in the file's order
  Tally all;
  for (const Region& region : GetParam().regions(whole)) {
    if (by_region.empty() || by_region.back().first != region.name) by_region.emplace_back(region.name, Tally{});
    Tally& t = by_region.back().second;
    for (size_t at = region.begin; at < region.end; at += region.step) {
      std::string flipped = whole;
      flipped[at] = static_cast<char>(flipped[at] ^ (1 << (at % 8)));
      Outcome o = run(flipped);
      t.add(o);
      all.add(o);
      if (!ended_well(o) && o.status == 0 && t.ok_wrong <= 2)
        printf("  bit %zu of byte %zu: Update Ok over a wrong image\n", at % 8, at);
    }
  }
  for (const auto& [name, t] : by_region) t.print("bit flips", GetParam().name, name);
  all.print("bit flips", GetParam().name, "all regions");
  EXPECT_EQ(all.ok_wrong, 0u);
  EXPECT_EQ(all.other, 0u);
}

INSTANTIATE_TEST_SUITE_P(Demo, FileSweep, ::testing::Values(kPackage, kScript),
                         [](const auto& info) { return std::string(info.index == 0 ? "Package" : "Script"); });

}  // namespace
}  // namespace reliability
