#include <dlfcn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

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

void PrepareOutput() {}

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

}  // namespace datenbank_tool
