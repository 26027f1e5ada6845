#include "platform/regular_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "support/temp_dir.h"

namespace {

// Each kind of path a list file may name, refused or opened at once: none
// of these blocks (a FIFO without a writer) or is read (a device).
TEST(RegularFile, OnlyARegularFileIsOpened) {
  TempDir dir;
  std::string regular = dir.write("fw.txt", "&x$\n");
  std::string fifo = dir.file("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string path;
    bool opens;
    FileKind kind;
    int error;
    const char* text;
  } cases[] = {
      {regular, true, FileKind::kRegular, 0, ""},
      {dir.path(), false, FileKind::kDirectory, 0, "a folder, not a regular file"},
      {fifo, false, FileKind::kFifo, 0, "a FIFO, not a regular file"},
      {"/dev/zero", false, FileKind::kCharacterDevice, 0, "a character device, not a regular file"},
      {"/dev/null", false, FileKind::kCharacterDevice, 0, "a character device, not a regular file"},
      {dir.file("absent"), false, FileKind::kRegular, ENOENT, "No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    FileRefusal why;
    FILE* file = open_regular_file(c.path.c_str(), &why);
    EXPECT_EQ(file != nullptr, c.opens);
    EXPECT_EQ(why.kind, c.kind);
    EXPECT_EQ(why.error, c.error);
    if (file != nullptr) {
      char line[8] = {};
      EXPECT_NE(fgets(line, sizeof line, file), nullptr);  // reads as an ordinary file
      EXPECT_STREQ(line, "&x$\n");
      fclose(file);
    } else {
      EXPECT_STREQ(refusal_text(why), c.text);
    }
  }
  EXPECT_EQ(open_regular_file(fifo.c_str(), nullptr), nullptr);  // why may be null
}

}  // namespace
