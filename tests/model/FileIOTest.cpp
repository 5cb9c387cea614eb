#include "model/FileIO.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <optional>
#include <random>

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

// The write's system calls, failing where a test says: the n-th write call
// after `budget` bytes went out, the flush, or the rename.
struct FailingCalls {
  static inline size_t budget = 0;   // bytes accepted before writes fail
  static inline size_t chunk = 0;    // at most this many bytes a call (0: all)
  static inline int writeErrno = 0;  // errno of a failing write; 0 = returns 0
  static inline bool failFsync = false;
  static inline bool failRename = false;
  static ssize_t Write(int fd, const void* bytes, size_t count) {
    if (budget == 0) {
      if (writeErrno == 0) return 0;
      errno = writeErrno;
      return -1;
    }
    count = std::min({count, budget, chunk ? chunk : count});
    budget -= count;
    return ::write(fd, bytes, count);
  }
  static int Fsync(int fd) {
    if (!failFsync) return ::fsync(fd);
    errno = EIO;
    return -1;
  }
  static int Rename(const char* from, const char* to) {
    if (!failRename) return ::rename(from, to);
    errno = EXDEV;
    return -1;
  }
  static AtomicWriteCalls Calls() { return {Write, Fsync, Rename}; }
};

int FilesIn(const TempDir& dir) {
  int files = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.Path()))
    ++files;
  return files;
}

TEST(FileIO, AtomicWriteFailingAnywhereKeepsTheOldFileAndLeavesNoTemporary) {
  const std::vector<uint8_t> data = test::PatternBytes(5000, 3);
  struct Case {
    size_t budget, chunk;
    int writeErrno;
    bool fsync, rename, ok;
  };
  const Case cases[] = {
      {0, 0, ENOSPC, false, false, false},     // disk full at the first byte
      {1, 0, EIO, false, false, false},        // an error after one byte
      {2500, 0, ENOSPC, false, false, false},  // half-way
      {4999, 0, ENOSPC, false, false, false},  // one byte short
      {4999, 0, 0, false, false, false},       // a device that stops without an error
      {5000, 0, 0, true, false, false},        // the flush fails
      {5000, 0, 0, false, true, false},        // the rename fails
      {5000, 7, 0, false, false, true},        // short writes are carried on
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string path = dir / "img.trd";
    WriteBytes(path, {7, 7, 7});
    FailingCalls::budget = c.budget;
    FailingCalls::chunk = c.chunk;
    FailingCalls::writeErrno = c.writeErrno;
    FailingCalls::failFsync = c.fsync;
    FailingCalls::failRename = c.rename;
    std::string error;
    EXPECT_EQ(WriteFileAtomic(path, data, error, FailingCalls::Calls()), c.ok) << c.budget;
    const std::vector<uint8_t> old = {7, 7, 7};
    EXPECT_EQ(ReadBytes(path), c.ok ? data : old) << c.budget;
    EXPECT_EQ(error.empty(), c.ok) << c.budget;
    EXPECT_EQ(FilesIn(dir), 1) << "a temporary file was left behind, budget " << c.budget;
  }
}

// In a batch scope a new file skips its own flush and a replaced one keeps
// it; outside the scope (and after it ends) every write flushes.
TEST(FileIO, DeferredSyncSkipsTheFlushOnlyForNewFiles) {
  static int flushes = 0;
  const AtomicWriteCalls counting{::write, [](int fd) { return ++flushes, ::fsync(fd); }, ::rename};
  TempDir dir;
  std::string error;
  const std::vector<uint8_t> data = {1, 2, 3};
  struct Step {
    bool scoped, existing;
    int flushes;
  };
  for (const Step s : {Step{true, false, 0}, Step{true, true, 1}, Step{false, false, 1}}) {
    flushes = 0;
    const std::string path = dir / (s.existing ? "old.trd" : "new.trd");
    if (s.existing) WriteBytes(path, {9});
    {
      std::optional<DeferredSyncScope> scope;
      if (s.scoped) scope.emplace();
      ASSERT_TRUE(WriteFileAtomic(path, data, error, counting)) << error;
    }
    EXPECT_EQ(flushes, s.flushes) << s.scoped << s.existing;
    EXPECT_EQ(ReadBytes(path), data);
    std::filesystem::remove(path);
  }
  EXPECT_FALSE(SyncDeferred());
  EXPECT_TRUE(SyncFileSystem(dir.Path(), error)) << error;
}

// Two copies of the program (two processes) saving the same path at once:
// each save is whole, so the file ends as one of them, never a mixture, and
// no temporary file is left.
TEST(FileIO, ConcurrentSavesOfOnePathLeaveOneWholeFile) {
  TempDir dir;
  const std::string path = dir / "same.udi";
  const std::vector<uint8_t> a(200000, 0xAA), b(150000, 0xBB);
  auto saves = [&path](const std::vector<uint8_t>& bytes) {
    int failures = 0;
    for (int i = 0; i < 20; ++i) {
      std::string error;
      if (!WriteFileAtomic(path, bytes, error)) ++failures;
    }
    return failures;
  };
  const pid_t other = ::fork();
  ASSERT_GE(other, 0);
  if (other == 0) ::_exit(saves(b) == 0 ? 0 : 1);
  EXPECT_EQ(saves(a), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(other, &status, 0), other);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const std::vector<uint8_t> result = ReadBytes(path);
  EXPECT_TRUE(result == a || result == b);
  EXPECT_EQ(FilesIn(dir), 1);
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

// The system's iconv as the oracle: every byte one way, and random text made
// of valid, overlong, cut and stray UTF-8 pieces the other way.
std::string IconvOracle(const char* to, const char* from, std::string in, const char* bad,
                        bool utf8In) {
  iconv_t cd = iconv_open(to, from);
  std::string out;
  char* p = in.data();
  size_t left = in.size();
  while (left > 0) {
    char buf[64];
    char* o = buf;
    size_t room = sizeof buf;
    const size_t r = iconv(cd, &p, &left, &o, &room);
    out.append(buf, static_cast<size_t>(o - buf));
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      out += bad;
      size_t n = 1;
      const auto lead = static_cast<unsigned char>(*p);
      const size_t claim = !utf8In || lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
      while (n < claim && n < left && (static_cast<unsigned char>(p[n]) & 0xC0) == 0x80)
        ++n;
      p += n;
      left -= n;
    }
  }
  iconv_close(cd);
  return out;
}

TEST(CodePage, AgreesWithIconv) {
  for (int b = 0; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    ASSERT_EQ(Cp1251ToUtf8(one), IconvOracle("UTF-8", "CP1251", one, "\xEF\xBF\xBD", false)) << b;
    ASSERT_EQ(Utf8ToCp1251(Cp1251ToUtf8(one)), b == 0x98 ? "?" : one) << b;
  }
  const char* pieces[] = {"A",
                          "\xD0\x96",
                          "\xE2\x84\x96",
                          "\xC1\x81",
                          "\xE0\x80\xAF",
                          "\xED\xA0\x80",
                          "\xF0\x9F\x98\x80",
                          "\xF4\x90\x80\x80",
                          "\x80",
                          "\xFF",
                          "\xE2\x84",
                          "\xD0",
                          "\xF8\x88\x80\x80\x80"};
  std::mt19937 rng(7);
  for (int i = 0; i < 2000; ++i) {
    std::string s;
    for (int k = static_cast<int>(rng() % 6); k >= 0; --k)
      s += pieces[rng() % std::size(pieces)];
    ASSERT_EQ(Utf8ToCp1251(s), IconvOracle("CP1251", "UTF-8", s, "?", true)) << i;
  }
}

}  // namespace
}  // namespace kelvara
