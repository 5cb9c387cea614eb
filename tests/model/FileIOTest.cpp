#include "model/FileIO.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "model/CodePage.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

TEST(FileIO, ReadWholeFileAndLimits) {
  TempDir dir;
  WriteBytes(dir / "a.bin", {1, 2, 3});
  std::vector<uint8_t> out;
  std::string error;
  EXPECT_TRUE(ReadWholeFile(dir / "a.bin", out, error));
  EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_FALSE(ReadWholeFile(dir / "a.bin", out, error, 2));
  EXPECT_NE(error.find("too large"), std::string::npos);
  EXPECT_FALSE(ReadWholeFile(dir / "missing", out, error));
  EXPECT_FALSE(ReadWholeFile(dir.Path(), out, error));  // a folder is no file
  EXPECT_FALSE(FileExists(dir.Path()));
}

TEST(FileIO, AtomicWriteGoesThroughSymbolicLinksToTheirTarget) {
  TempDir dir;
  std::filesystem::create_directory(dir / "real");
  WriteBytes(dir / "real/disk.trd", {1});
  std::filesystem::create_symlink("real/disk.trd", dir / "link.trd");
  std::filesystem::create_symlink(dir / "link.trd", dir / "chain.trd");
  std::filesystem::create_symlink("missing.trd", dir / "dangling.trd");
  std::string error;
  const std::vector<uint8_t> bytes = {7, 8, 9};
  ASSERT_TRUE(WriteFileAtomic(dir / "chain.trd", bytes, error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "chain.trd"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.trd"));
  EXPECT_EQ(ReadBytes(dir / "real/disk.trd"), bytes);
  ASSERT_TRUE(WriteFileAtomic(dir / "dangling.trd", bytes, error)) << error;
  EXPECT_EQ(ReadBytes(dir / "missing.trd"), bytes);

  std::filesystem::create_symlink("loop2", dir / "loop1");
  std::filesystem::create_symlink("loop1", dir / "loop2");
  EXPECT_FALSE(WriteFileAtomic(dir / "loop1", bytes, error));
  EXPECT_NE(error.find("symbolic links"), std::string::npos) << error;
}

TEST(FileIO, AtomicWriteReplacesTheFileAndLeavesNoTemporaries) {
  TempDir dir;
  const std::string path = dir / "out.bin";
  WriteBytes(path, {9, 9});
  std::string error;
  const std::vector<uint8_t> data = {1, 2, 3, 4};
  ASSERT_TRUE(WriteFileAtomic(path, data, error)) << error;
  EXPECT_EQ(ReadBytes(path), data);
  int files = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.Path()))
    ++files;
  EXPECT_EQ(files, 1);
}

// A write that fails half-way (here: the file size limit, which holds for
// root too) must leave the previous file as it was.
TEST(FileIO, FailedAtomicWriteLeavesThePreviousFile) {
  TempDir dir;
  const std::string path = dir / "img.trd";
  const std::vector<uint8_t> old = {7, 7, 7};
  WriteBytes(path, old);

  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 16;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string error;
  const bool ok = WriteFileAtomic(path, std::vector<uint8_t>(4096, 1), error);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);

  EXPECT_FALSE(ok);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ReadBytes(path), old);
  int files = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.Path()))
    ++files;
  EXPECT_EQ(files, 1) << "the temporary file was left behind";
}

TEST(FileIO, AtomicWriteIntoAMissingFolderFails) {
  std::string error;
  EXPECT_FALSE(
      WriteFileAtomic("/nonexistent-kelvara-folder/x.trd", std::vector<uint8_t>{1}, error));
  EXPECT_FALSE(error.empty());
}

TEST(FileIO, PathParts) {
  EXPECT_EQ(FolderOf("/a/b.c/d.trd"), "/a/b.c/");
  EXPECT_EQ(FolderOf("d.trd"), "");
  EXPECT_EQ(FileNameOf("/a/b.c/d.trd"), "d.trd");
}

TEST(CodePage, RoundTripsRussianText) {
  const std::string utf8 = "Ошибка чтения! ABC";
  const std::string cp = Utf8ToCp1251(utf8);
  EXPECT_EQ(cp.size(), utf8.size() - 12);        // 12 Cyrillic letters, two bytes each in UTF-8
  EXPECT_EQ(static_cast<uint8_t>(cp[0]), 0xCE);  // О
  EXPECT_EQ(Cp1251ToUtf8(cp), utf8);
}

TEST(CodePage, UnmappableCharactersAreReplacedNotLost) {
  EXPECT_EQ(Cp1251ToUtf8(std::string("A\x98"
                                     "B")),
            "A\xEF\xBF\xBD"
            "B");
  EXPECT_EQ(Utf8ToCp1251("A\xE4\xB8\xADZ"), "A?Z");  // a CJK character
  EXPECT_EQ(Utf8ToCp1251("A\xD0"), "A?");            // cut sequence at the end
}

}  // namespace
}  // namespace kelvara
