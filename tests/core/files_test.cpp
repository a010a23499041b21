// Writing a file without ever losing one that is already there.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "files/files.h"
#include "tests/core/core_test_support.h"

namespace {
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

bool WriteText(std::FILE* file, const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

Bytes BytesOf(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// Another program creates the name while the new file is being written: a
// write that may not replace must leave that file alone, whatever happens to
// be in it, and take nothing away.
TEST(WriteFile, NeverReplacesAFileCreatedWhileWriting) {
  coretest::TempDir dir;
  const fs::path target = dir / "out.bmp";
  const files::Status never = files::WriteFile(target, files::Replace::Never, [&](std::FILE* file) {
    coretest::WriteBytes(target, BytesOf("theirs"));
    return WriteText(file, "ours");
  });
  EXPECT_EQ(never, files::Status::Exists);
  EXPECT_EQ(coretest::ReadBytes(target), BytesOf("theirs"));
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.bmp"});

  // Allowed to replace, the complete new file takes the name.
  EXPECT_EQ(files::WriteFile(target, files::Replace::Allowed,
                             [&](std::FILE* file) { return WriteText(file, "ours"); }),
            files::Status::Ok);
  EXPECT_EQ(coretest::ReadBytes(target), BytesOf("ours"));

  // A failed write leaves nothing behind and the old file as it was.
  EXPECT_EQ(files::WriteFile(target, files::Replace::Allowed,
                             [&](std::FILE* file) {
                               WriteText(file, "x");
                               return false;
                             }),
            files::Status::WriteError);
  EXPECT_EQ(coretest::ReadBytes(target), BytesOf("ours"));
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.bmp"});

  // With no file there, Never places it as Allowed would.
  EXPECT_EQ(files::WriteFile(dir / "new.png", files::Replace::Never,
                             [&](std::FILE* file) { return WriteText(file, "new"); }),
            files::Status::Ok);
  EXPECT_EQ(coretest::ReadBytes(dir / "new.png"), BytesOf("new"));
}

}  // namespace
