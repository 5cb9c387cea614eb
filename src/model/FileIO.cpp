#include "model/FileIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kelvara {

namespace {

thread_local bool deferSync = false;

std::string ErrnoText(const char* what, const std::string& path) {
  return std::string(what) + " " + path + ": " + std::strerror(errno);
}

bool WriteAll(int fd, std::span<const uint8_t> bytes, const AtomicWriteCalls& calls) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = calls.write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {  // no progress: a full device that does not say so
      errno = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// The mode a new file gets: 0666 less the umask.
mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// The file a path names once its symbolic links are followed, so that a
// save through a link replaces the target, not the link. A link whose
// target does not exist yet names that target; a loop of links is an error.
// `mode` gets the mode the written file is to have: the old file's, or a new
// file's.
// `exists` tells whether the target is there already.
bool ResolveLinks(std::string path, std::string& target, mode_t& mode, bool& exists,
                  std::string& error) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    exists = ::lstat(path.c_str(), &st) == 0;
    if (!exists || !S_ISLNK(st.st_mode)) {
      target = path;
      mode = exists ? st.st_mode & 07777 : NewFileMode();
      return true;
    }
    std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
    if (n < 0) {
      error = ErrnoText("Cannot read the link", path);
      return false;
    }
    link.resize(static_cast<size_t>(n));
    path = link.starts_with('/') ? link : FolderOf(path) + link;
  }
  error = "Too many levels of symbolic links: " + path;
  return false;
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

FileReader::~FileReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool FileReader::Open(const std::string& path, std::string& error, size_t maxSize) {
  if (fd_ >= 0) ::close(fd_);
  path_ = path;
  size_ = 0;
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    error = ErrnoText("Cannot open", path);
    return false;
  }
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "Not a regular file: " + path;
  } else if (static_cast<uint64_t>(st.st_size) > maxSize) {
    error = "File too large: " + path;
  } else {
    size_ = static_cast<size_t>(st.st_size);
    return true;
  }
  ::close(fd_);
  fd_ = -1;
  return false;
}

size_t FileReader::Read(std::span<uint8_t> into, std::string& error) {
  size_t done = 0;
  while (fd_ >= 0 && done < into.size()) {
    const ssize_t n = ::read(fd_, into.data() + done, into.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = ErrnoText("Cannot read", path_);
      return kReadFailed;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, std::string& error,
                   size_t maxSize) {
  out.clear();
  FileReader file;
  if (!file.Open(path, error, maxSize)) return false;
  out.resize(file.Size());
  const size_t done = file.Read(out, error);
  if (done == FileReader::kReadFailed) {
    out.clear();
    return false;
  }
  out.resize(done);  // the file shrank while it was read: take what is there
  return true;
}

bool WriteFileAtomic(const std::string& named, std::span<const uint8_t> bytes, std::string& error) {
  return WriteFileAtomic(named, bytes, error, AtomicWriteCalls{});
}

bool WriteFileAtomic(const std::string& named, std::span<const uint8_t> bytes, std::string& error,
                     const AtomicWriteCalls& calls) {
  if (named.empty()) {
    error = "No file name";
    return false;
  }
  std::string path;
  mode_t mode = 0;
  bool exists = false;
  if (!ResolveLinks(named, path, mode, exists, error)) return false;
  const bool sync = exists || !deferSync;
  const std::string folder = FolderOf(path);
  std::string tmpl = (folder.empty() ? std::string("./") : folder) + ".kelvara-XXXXXX";
  const int fd = ::mkstemp(tmpl.data());
  if (fd < 0) {
    error = ErrnoText("Cannot create a file in", folder.empty() ? "." : folder);
    return false;
  }
  const bool ok =
      WriteAll(fd, bytes, calls) && ::fchmod(fd, mode) == 0 && (!sync || calls.fsync(fd) == 0);
  const int savedErrno = errno;
  if (::close(fd) != 0 || !ok) {
    errno = ok ? errno : savedErrno;
    error = ErrnoText("Cannot write", path);
    ::unlink(tmpl.c_str());
    return false;
  }
  if (calls.rename(tmpl.c_str(), path.c_str()) != 0) {
    error = ErrnoText("Cannot replace", path);
    ::unlink(tmpl.c_str());
    return false;
  }
  return true;
}

DeferredSyncScope::DeferredSyncScope() : outer_(deferSync) {
  deferSync = true;
}

DeferredSyncScope::~DeferredSyncScope() {
  deferSync = outer_;
}

bool SyncDeferred() {
  return deferSync;
}

bool SyncFileSystem(const std::string& path, std::string& error) {
  const int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = ErrnoText("Cannot open", path);
    return false;
  }
  const bool ok = ::syncfs(fd) == 0;
  if (!ok) error = ErrnoText("Cannot sync the file system of", path);
  ::close(fd);
  return ok;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace kelvara
