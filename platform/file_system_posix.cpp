// The platform file layer on POSIX systems.
//
// A file opened for reading, and a target held for saving, carry an exclusive flock: a second
// handle on the same file, in this process or another one using the module, is refused, as a
// Windows file opened without sharing refuses it. Opening uses O_NONBLOCK, so a FIFO or device
// without a peer never hangs the host; anything but a regular file is refused afterwards.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#if defined(__linux__)
#include <sys/xattr.h>
#endif
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/file_system.h"

namespace {

int ToDescriptor(TFileHandle file) {
  return static_cast<int>(file);
}

bool LockExclusive(int fd) {
  return flock(fd, LOCK_EX | LOCK_NB) == 0;
}

void CloseDescriptor(int fd) {
  // The descriptor is gone after close even when it reports EINTR; never retry.
  (void)close(fd);
}

// The directory part of path, with its trailing slash ("" for a bare name), and the name.
void SplitPath(const char* path, std::size_t* directoryLength, const char** name) {
  const char* slash = std::strrchr(path, '/');
  *directoryLength = slash == nullptr ? 0 : static_cast<std::size_t>(slash - path) + 1;
  *name = path + *directoryLength;
}

// The file a chain of symbolic links from path ends in, when that file does not exist: its
// directory resolved, its name as the last link gives it. False for a loop, a chain of more than
// 40 links, or a directory that does not exist.
bool WhereLinkLeads(const char* path, char (&resolved)[TSaveTarget::kPathCapacity]) {
  char current[TSaveTarget::kPathCapacity];
  if (!CopyPath(current, path)) {
    return false;
  }
  for (int hop = 0; hop < 40; ++hop) {
    std::size_t directoryLength = 0;
    const char* name = nullptr;
    SplitPath(current, &directoryLength, &name);
    struct stat info {};
    if (lstat(current, &info) != 0) {
      if (errno != ENOENT || *name == '\0') {
        return false;
      }
      char directory[TSaveTarget::kPathCapacity];
      std::memcpy(directory, current, directoryLength);
      directory[directoryLength] = '\0';
      if (realpath(directoryLength == 0 ? "." : directory, resolved) == nullptr) {
        return false;
      }
      const std::size_t used = std::strlen(resolved);
      const int n = std::snprintf(resolved + used, sizeof(resolved) - used, "%s%s",
                                  used > 0 && resolved[used - 1] == '/' ? "" : "/", name);
      return n > 0 && static_cast<std::size_t>(n) < sizeof(resolved) - used;
    }
    if (!S_ISLNK(info.st_mode)) {
      return false;  // the chain ends in a file after all: not a dangling link
    }
    char next[TSaveTarget::kPathCapacity];
    const ssize_t length = readlink(current, next, sizeof(next) - 1);
    if (length < 0) {
      return false;
    }
    next[length] = '\0';
    // A relative link is read from the directory that holds it.
    char joined[TSaveTarget::kPathCapacity];
    const int n = next[0] == '/' ? std::snprintf(joined, sizeof(joined), "%s", next)
                                 : std::snprintf(joined, sizeof(joined), "%.*s%s",
                                                 static_cast<int>(directoryLength), current, next);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof(joined)) {
      return false;
    }
    std::memcpy(current, joined, static_cast<std::size_t>(n) + 1);
  }
  return false;
}

// Whether a failed creation or rename was the directory's refusal (no write permission, or a
// sticky directory holding another user's file) rather than a fault of the device.
bool IsRefusal(int error) {
  return error == EACCES || error == EPERM;
}

bool SyncDirectoryOf(const char* path) {
  std::size_t directoryLength = 0;
  const char* name = nullptr;
  SplitPath(path, &directoryLength, &name);
  char directory[TSaveTarget::kPathCapacity];
  if (directoryLength == 0) {
    directory[0] = '.';
    directory[1] = '\0';
  } else {
    std::memcpy(directory, path, directoryLength);
    directory[directoryLength] = '\0';
  }
  const int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  const bool synced = fsync(fd) == 0;
  CloseDescriptor(fd);
  return synced;
}

class TPosixFileSystem final : public TFileSystem {
 public:
  constexpr TPosixFileSystem() = default;

  bool FileExists(const char* path) noexcept override {
    struct stat info {};
    return stat(path, &info) == 0 && !S_ISDIR(info.st_mode);
  }

  bool OpenForReading(const char* path, TFileHandle* file) noexcept override {
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
      return false;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !LockExclusive(fd)) {
      CloseDescriptor(fd);
      return false;
    }
    *file = fd;
    return true;
  }

  bool GetSize(TFileHandle file, std::uint64_t* size) noexcept override {
    struct stat info {};
    if (fstat(ToDescriptor(file), &info) != 0 || info.st_size < 0) {
      return false;
    }
    *size = static_cast<std::uint64_t>(info.st_size);
    return true;
  }

  bool Read(TFileHandle file, void* buffer, std::uint32_t size,
            std::uint32_t* got) noexcept override {
    auto* bytes = static_cast<char*>(buffer);
    std::uint32_t total = 0;
    while (total < size) {
      const ssize_t n = read(ToDescriptor(file), bytes + total, size - total);
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n < 0) {
        return false;
      }
      if (n == 0) {
        break;
      }
      total += static_cast<std::uint32_t>(n);
    }
    *got = total;
    return true;
  }

  bool Rewind(TFileHandle file) noexcept override {
    return lseek(ToDescriptor(file), 0, SEEK_SET) == 0;
  }

  void Close(TFileHandle file) noexcept override { CloseDescriptor(ToDescriptor(file)); }

  bool OpenTarget(const char* path, TSaveTarget* target) noexcept override {
    const std::size_t length = std::strlen(path);
    if (length == 0 || path[length - 1] == '/') {
      return false;
    }
    struct stat link {};
    if (lstat(path, &link) == 0 && S_ISLNK(link.st_mode)) {
      // The link is followed: the file it names is replaced, the link stays. A dangling link
      // gets the file it names, as a plain write would create it; a loop is refused.
      static_assert(TSaveTarget::kPathCapacity > PATH_MAX, "realpath needs PATH_MAX bytes");
      if (realpath(path, target->path) == nullptr &&
          (errno != ENOENT || !WhereLinkLeads(path, target->path))) {
        return false;
      }
    } else if (!CopyPath(target->path, path)) {
      return false;
    }

    struct stat info {};
    if (stat(target->path, &info) != 0) {
      if (errno != ENOENT) {
        return false;
      }
      target->exists = false;
      target->mode = 0666;  // a new file: the process's umask applies
      return true;
    }
    if (S_ISDIR(info.st_mode)) {
      return false;
    }
    const int fd = open(target->path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
      return false;
    }
    // A file without any write bit is read-only, also for a process that could write it anyway.
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || (info.st_mode & 0222) == 0 ||
        !LockExclusive(fd)) {
      CloseDescriptor(fd);
      return false;
    }
    target->held = fd;
    target->exists = true;
    target->mode = info.st_mode & 07777;
    target->owner = info.st_uid;
    target->group = info.st_gid;
    return true;
  }

  bool CreateTemporary(TSaveTarget* target) noexcept override {
    std::size_t directoryLength = 0;
    const char* name = nullptr;
    SplitPath(target->path, &directoryLength, &name);
    // Long names are shortened in the temporary name, down to nothing for a path near PATH_MAX;
    // O_EXCL keeps the name unique either way.
    constexpr std::size_t kSuffixRoom = 48;  // ".", ".", pid, stamp, attempt, ".tmp"
    const std::size_t room =
        directoryLength + kSuffixRoom < PATH_MAX ? PATH_MAX - 1 - directoryLength - kSuffixRoom : 0;
    std::size_t kept = std::strlen(name);
    kept = kept > 100 ? 100 : kept;
    const int nameLength = static_cast<int>(kept > room ? room : kept);
    timespec now{};
    (void)clock_gettime(CLOCK_MONOTONIC, &now);
    const unsigned long stamp = static_cast<unsigned long>(now.tv_sec) * 1000000000UL +
                                static_cast<unsigned long>(now.tv_nsec);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
      const int n =
          std::snprintf(target->temporary, sizeof(target->temporary), "%.*s.%.*s.%ld-%lx-%u.tmp",
                        static_cast<int>(directoryLength), target->path, nameLength, name,
                        static_cast<long>(getpid()), stamp, attempt);
      if (n < 0 || static_cast<std::size_t>(n) >= sizeof(target->temporary)) {
        target->temporary[0] = '\0';
        return false;
      }
      const int fd = open(target->temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC,
                          target->exists ? 0600 : 0666);
      if (fd < 0) {
        target->temporary[0] = '\0';
        if (errno == EEXIST) {
          continue;
        }
        target->refused = IsRefusal(errno);
        return false;
      }
      target->temp = fd;
      if (target->exists) {
        // The new file keeps the old one's owner where this process may give it, and its mode.
        // An unprivileged process cannot give a file away: it then keeps its own ownership.
        [[maybe_unused]] const bool ownerKept = fchown(fd, target->owner, target->group) == 0;
        if (fchmod(fd, target->mode) != 0) {
          return false;
        }
      }
      return true;
    }
    return false;
  }

  bool CopyAttributes(TSaveTarget* target, char* scratch, std::size_t size) noexcept override {
#if defined(__linux__)
    if (!target->exists) {
      return true;  // a new file: nothing to keep
    }
    // The names first, then each value in the room after them.
    const int from = ToDescriptor(target->held);
    const ssize_t listed = flistxattr(from, scratch, size / 2);
    if (listed < 0) {
      return errno == ENOTSUP;  // a file system without extended attributes: nothing to copy
    }
    char* const value = scratch + listed;
    const std::size_t room = size - static_cast<std::size_t>(listed);
    bool all = true;
    for (const char* name = scratch; name < scratch + listed; name += std::strlen(name) + 1) {
      const ssize_t length = fgetxattr(from, name, value, room);
      if (length < 0 || fsetxattr(ToDescriptor(target->temp), name, value,
                                  static_cast<std::size_t>(length), 0) != 0) {
        all = false;  // one this process may not read or set (trusted.*, say): the others go on
      }
    }
    return all;
#else
    static_cast<void>(target);
    static_cast<void>(scratch);
    static_cast<void>(size);
    return true;
#endif
  }

  bool WriteInPlace(TSaveTarget* target) noexcept override {
    if (!target->refused || !target->exists || target->held == kNoFile) {
      return false;
    }
    const int fd = fcntl(ToDescriptor(target->held), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
      return false;
    }
    if (lseek(fd, 0, SEEK_SET) != 0 || ftruncate(fd, 0) != 0) {
      CloseDescriptor(fd);
      return false;
    }
    target->temp = fd;
    target->written = 0;
    target->started = 0;
    return true;
  }

  bool Write(TSaveTarget* target, const void* data, std::uint32_t size) noexcept override {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
      const ssize_t n = write(ToDescriptor(target->temp), bytes, size);
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n <= 0) {
        return false;
      }
      bytes += n;
      size -= static_cast<std::uint32_t>(n);
      target->written += static_cast<std::uint64_t>(n);
    }
    StartWriteback(target);
    return true;
  }

  // Hands what is written so far to the disk in steps of kWritebackStep, without waiting, so the
  // disk works while the rest is written and Flush waits only for the tail. Only a hint: Flush
  // reports every failure.
  static void StartWriteback(TSaveTarget* target) noexcept {
#if defined(__linux__)
    constexpr std::uint64_t kWritebackStep = std::uint64_t{8} << 20;
    if (target->written - target->started >= kWritebackStep) {
      (void)sync_file_range(ToDescriptor(target->temp), static_cast<off_t>(target->started),
                            static_cast<off_t>(target->written - target->started),
                            SYNC_FILE_RANGE_WRITE);
      target->started = target->written;
    }
#else
    (void)target;
#endif
  }

  bool Flush(TSaveTarget* target) noexcept override {
    return fsync(ToDescriptor(target->temp)) == 0;
  }

  bool CloseTemporary(TSaveTarget* target) noexcept override {
    const int result = close(ToDescriptor(target->temp));
    target->temp = kNoFile;
    return result == 0 || errno == EINTR;
  }

  bool Replace(TSaveTarget* target) noexcept override {
    if (rename(target->temporary, target->path) != 0) {
      target->refused = IsRefusal(errno);
      return false;
    }
    target->temporary[0] = '\0';
    return true;
  }

  bool SyncDirectory(TSaveTarget* target) noexcept override {
    return SyncDirectoryOf(target->path);
  }

  void EndSave(TSaveTarget* target) noexcept override {
    if (target->temp != kNoFile) {
      CloseDescriptor(ToDescriptor(target->temp));
      target->temp = kNoFile;
    }
    if (target->temporary[0] != '\0') {
      (void)unlink(target->temporary);
      target->temporary[0] = '\0';
    }
    if (target->held != kNoFile) {
      CloseDescriptor(ToDescriptor(target->held));  // lets go of the lock
      target->held = kNoFile;
    }
  }
};

TPosixFileSystem gPosixFileSystem;  // stateless: no mutable global state

}  // namespace

TFileSystem& PlatformFileSystem() noexcept {
  return gPosixFileSystem;
}
