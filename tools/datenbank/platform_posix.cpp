#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "tools/datenbank/platform.h"

namespace datenbank_tool {

namespace {

// The name the library is installed under; the search path (LD_LIBRARY_PATH, this executable's
// run path, the system's cache) finds it.
constexpr const char* kLibraryName = "libdatenbank.so.1";

std::string ExecutableDirectory() {
  std::vector<char> self(4096);
  const ssize_t length = readlink("/proc/self/exe", self.data(), self.size() - 1);
  if (length <= 0) {
    return {};
  }
  std::string path(self.data(), static_cast<std::size_t>(length));
  return path.substr(0, path.find_last_of('/'));
}

void* Open(const std::string& path, std::string& error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    error = reason != nullptr ? reason : "cannot load " + path;
  }
  return handle;
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return {argv, argv + argc};
}

void PrepareOutput() {
  // A write past the file size limit fails with EFBIG instead of ending the process, so the
  // module removes its temporary file and reports the failed write.
  static_cast<void>(std::signal(SIGXFSZ, SIG_IGN));
}

TMainDB* LoadModule(std::string& library, std::string& error) {
  void* handle = nullptr;
  const char* configured = std::getenv("DATENBANK_LIBRARY");
  if (configured != nullptr && *configured != '\0') {
    library = configured;
    handle = Open(library, error);
  } else {
    const std::string beside = ExecutableDirectory() + "/libdatenbank.so";
    struct stat info {};
    if (stat(beside.c_str(), &info) == 0) {
      library = beside;
      handle = Open(library, error);
    } else {
      library = kLibraryName;
      handle = Open(library, error);
    }
  }
  if (handle == nullptr) {
    return nullptr;
  }
  // The handle stays open for the life of the process: the table object lives in the library.
  return CreateTable(reinterpret_cast<Factory>(dlsym(handle, "_CreateDatenbankClassInstance")),
                     library, error);
}

bool ModuleFileName(const std::string& utf8, std::string& name, std::string& /*problem*/) {
  name = utf8;
  return true;
}

bool NameExists(const std::string& name) {
  struct stat info {};
  return lstat(name.c_str(), &info) == 0;
}

bool OutputIsTerminal() {
  return isatty(STDOUT_FILENO) == 1;
}

int TerminalWidth() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    return size.ws_col;
  }
  return 0;
}

bool TerminalTakesEscapes() {
  return isatty(STDOUT_FILENO) == 1;
}

std::FILE* OpenForReading(const std::string& utf8, std::string& problem) {
  // O_NONBLOCK: a FIFO without a writer must not hang the tool.
  const int fd = open(utf8.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  std::FILE* file = fd >= 0 ? fdopen(fd, "rb") : nullptr;
  if (file == nullptr) {
    problem = std::strerror(errno);
    if (fd >= 0) {
      close(fd);
    }
  }
  return file;
}

std::FILE* CreateTemporaryFile(const std::string& directory, const std::string& stem, bool shared,
                               std::string& path, std::string& problem) {
  std::string folder = directory;
  if (folder.empty()) {
    const char* configured = std::getenv("TMPDIR");
    folder = configured != nullptr && *configured != '\0' ? configured : "/tmp";
  }
  std::string name = folder + "/" + stem + ".XXXXXX";
  const int fd = mkstemp(name.data());  // mode 0600
  if (fd < 0) {
    problem = folder + ": " + std::strerror(errno);
    return nullptr;
  }
  if (shared) {
    const mode_t mask = umask(0);  // read, then put back at once
    umask(mask);
    fchmod(fd, 0666 & ~mask);
  }
  std::FILE* file = fdopen(fd, "w+b");
  if (file == nullptr) {
    problem = std::strerror(errno);
    close(fd);
    unlink(name.c_str());
    return nullptr;
  }
  path = name;
  return file;
}

bool MoveOver(const std::string& from, const std::string& target, std::string& problem) {
  if (rename(from.c_str(), target.c_str()) != 0) {
    problem = std::strerror(errno);
    return false;
  }
  return true;
}

void RemoveFile(const std::string& path) {
  unlink(path.c_str());
}

std::FILE* BinaryStandardInput() {
  return stdin;
}

namespace {

std::string Parent(const std::string& name) {
  const std::size_t slash = name.find_last_of('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : name.substr(0, slash);
}

// Takes the exclusive lock the module takes, for a moment: true when another holds it.
bool LockedElsewhere(const std::string& name) {
  const int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  const bool locked = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);  // releases the lock if it was taken
  return locked;
}

std::string MissingProblem(const std::string& name, int error) {
  struct stat link {};
  if (error == ENOENT && lstat(name.c_str(), &link) == 0) {
    return "dangling symbolic link";
  }
  switch (error) {
    case ENOENT:
      return "not found";
    case ENOTDIR:
      return "a part of the path is not a directory";
    case EACCES:
      return "permission denied (a directory on the path)";
    case ENAMETOOLONG:
      return "name too long";
    case ELOOP:
      return "too many symbolic links";
    default:
      return std::strerror(error);
  }
}

}  // namespace

std::string FileProblem(const std::string& name, bool forWriting) {
  struct stat info {};
  if (stat(name.c_str(), &info) != 0) {
    const int error = errno;
    if (!forWriting || error != ENOENT) {
      return MissingProblem(name, error);
    }
    // A new file: its directory decides.
    const std::string directory = Parent(name);
    struct stat folder {};
    if (stat(directory.c_str(), &folder) != 0) {
      const int problem = errno;
      return problem == ENOENT
                 ? "directory '" + directory + "' not found"
                 : "directory '" + directory + "': " + MissingProblem(directory, problem);
    }
    if (!S_ISDIR(folder.st_mode)) {
      return "'" + directory + "' is not a directory";
    }
    if (access(directory.c_str(), W_OK | X_OK) != 0) {
      return "directory not writable";
    }
    return {};
  }
  if (S_ISDIR(info.st_mode)) {
    return "is a directory";
  }
  if (!S_ISREG(info.st_mode)) {
    return "not a regular file";
  }
  if (forWriting && (info.st_mode & 0222) == 0) {
    return "read-only file";
  }
  if (access(name.c_str(), forWriting ? W_OK : R_OK) != 0 && errno == EACCES) {
    if (forWriting && access(Parent(name).c_str(), W_OK | X_OK) != 0) {
      return "permission denied (file and directory not writable)";
    }
    return "permission denied";
  }
  if (LockedElsewhere(name)) {
    return "locked by another process";
  }
  return {};
}

std::string WriteProblem(const std::string& name, unsigned long long needed) {
  // The module removes what it wrote once a write fails, so the room it lacked is free again.
  struct statvfs space {};
  if (statvfs(Parent(name).c_str(), &space) == 0) {
    const unsigned long long room =
        static_cast<unsigned long long>(space.f_bavail) * space.f_frsize;
    if (room < needed + 64ULL * 1024) {
      return "disk full (" + std::to_string(room) + " bytes free)";
    }
  }
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      limit.rlim_cur < needed + 64ULL * 1024) {
    return "file size limit of the process (" + std::to_string(limit.rlim_cur) + " bytes)";
  }
  return {};
}

unsigned long long FileSize(const std::string& name) {
  struct stat info {};
  return stat(name.c_str(), &info) == 0 ? static_cast<unsigned long long>(info.st_size) : 0;
}

}  // namespace datenbank_tool
