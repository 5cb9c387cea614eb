// File reading and atomic writing. Image files are read whole before parsing
// (the plain sector dumps a track at a time) and built whole in memory before
// writing; a write goes to a temporary file beside the target that is renamed
// over it only once every byte is on disk, so a failed or interrupted save
// leaves the old file intact.
#pragma once

#include <stdio.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelvara {

// Larger files are refused: no disk image comes near this size.
inline constexpr size_t kMaxImageFileSize = 64u * 1024 * 1024;

bool FileExists(const std::string& path);
// A regular file read front to back in pieces, for readers that need not
// hold a whole file at once.
class FileReader {
 public:
  static constexpr size_t kReadFailed = SIZE_MAX;

  FileReader() = default;
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;
  ~FileReader();

  // Opens a regular file of at most maxSize bytes; false with the reason.
  bool Open(const std::string& path, std::string& error, size_t maxSize = kMaxImageFileSize);
  // The file's size when it was opened.
  size_t Size() const { return size_; }
  // Fills `into` from where the last read stopped. Returns the bytes read:
  // fewer at the end of the file, kReadFailed (with the reason) on an error.
  size_t Read(std::span<uint8_t> into, std::string& error);

 private:
  int fd_ = -1;
  size_t size_ = 0;
  std::string path_;
};

// Reads a whole regular file. On failure returns false with a reason in error.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, std::string& error,
                   size_t maxSize = kMaxImageFileSize);
// Writes bytes to path atomically. On failure returns false with a reason in
// error; the file at path, if any, is unchanged and no temporary file is left.
bool WriteFileAtomic(const std::string& path, std::span<const uint8_t> bytes, std::string& error);

// The system calls an atomic write makes once its temporary file is open;
// tests replace them to fail the write at any byte, fill the disk, or fail
// the flush or the rename.
struct AtomicWriteCalls {
  ssize_t (*write)(int fd, const void* bytes, size_t count) = ::write;
  int (*fsync)(int fd) = ::fsync;
  int (*rename)(const char* from, const char* to) = ::rename;
};
bool WriteFileAtomic(const std::string& path, std::span<const uint8_t> bytes, std::string& error,
                     const AtomicWriteCalls& calls);

// Durability of a batch of new files. While a scope is alive on a thread, an
// atomic write from that thread that creates a new file skips its own fsync
// (the rename still makes the file appear whole or not at all); a write that
// replaces an existing file keeps its fsync, so an old file is never traded
// for one whose bytes may not be on disk yet. The batch then syncs its
// output file system once, with SyncFileSystem, before it reports success.
class DeferredSyncScope {
 public:
  DeferredSyncScope();
  ~DeferredSyncScope();
  DeferredSyncScope(const DeferredSyncScope&) = delete;
  DeferredSyncScope& operator=(const DeferredSyncScope&) = delete;

 private:
  bool outer_;
};
// Whether atomic writes of new files on this thread defer their sync.
bool SyncDeferred();
// Flushes the whole file system that holds `path` (a file or a folder) to
// its device; false with the reason.
bool SyncFileSystem(const std::string& path, std::string& error);

// The folder part of a path with a trailing "/", or "" for a bare name.
std::string FolderOf(const std::string& path);
// The file-name part of a path.
std::string FileNameOf(const std::string& path);

}  // namespace kelvara
