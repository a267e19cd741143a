#include "fuzz/fuzz_support.h"

#include "engines/environment.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// printf-style, so that the compiler checks every message's arguments against its format.
// NOLINTNEXTLINE(cert-dcl50-cpp)
void FuzzFail(const char* file, int line, const char* condition, const char* format, ...) {
  (void)std::fprintf(stderr, "\n*** fuzz check failed at %s:%d: %s\n*** ", file, line, condition);
  va_list args;
  va_start(args, format);
  (void)std::vfprintf(stderr, format, args);
  va_end(args);
  (void)std::fprintf(stderr, "\n");
  (void)std::fflush(stderr);
  std::abort();
}

namespace {

std::string gScratch;  // NOLINT(cert-err58-cpp): set once, read for the life of the process

std::vector<std::string> Entries(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = opendir(path.c_str());
  FUZZ_CHECK(dir != nullptr, "cannot list %s: %s", path.c_str(), std::strerror(errno));
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") {
      names.push_back(name);
    }
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

void RemoveTree(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    return;
  }
  if (S_ISDIR(info.st_mode)) {
    for (const std::string& name : Entries(path)) {
      std::string child = path;
      child += '/';
      child += name;
      RemoveTree(child);
    }
    (void)rmdir(path.c_str());
  } else {
    (void)unlink(path.c_str());
  }
}

void RemoveScratch() {
  if (!gScratch.empty()) {
    RemoveTree(gScratch);
  }
}

bool Writable(const char* dir) {
  return dir != nullptr && dir[0] != '\0' && access(dir, W_OK | X_OK) == 0;
}

}  // namespace

const std::string& ScratchDirectory() {
  if (gScratch.empty()) {
    const char* base = std::getenv("DATENBANK_FUZZ_TMPDIR");
    if (!Writable(base)) {
      base = Writable("/dev/shm") ? "/dev/shm" : std::getenv("TMPDIR");
    }
    if (!Writable(base)) {
      base = "/tmp";
    }
    std::string pattern = std::string(base) + "/datenbank-fuzz-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    FUZZ_CHECK(mkdtemp(name.data()) != nullptr, "mkdtemp %s: %s", pattern.c_str(),
               std::strerror(errno));
    gScratch = name.data();
    FUZZ_CHECK(std::atexit(RemoveScratch) == 0, "%s", "atexit failed");
  }
  return gScratch;
}

void WriteWholeFile(const std::string& path, const void* data, std::size_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  FUZZ_CHECK(fd >= 0, "cannot create %s: %s", path.c_str(), std::strerror(errno));
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, bytes, size);
    FUZZ_CHECK(n > 0 || errno == EINTR, "cannot write %s: %s", path.c_str(), std::strerror(errno));
    if (n > 0) {
      bytes += n;
      size -= static_cast<std::size_t>(n);
    }
  }
  FUZZ_CHECK(close(fd) == 0, "cannot close %s", path.c_str());
}

std::string ReadWholeFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  FUZZ_CHECK(fd >= 0, "cannot open %s: %s", path.c_str(), std::strerror(errno));
  std::string content;
  char block[65536];
  for (;;) {
    const ssize_t n = read(fd, block, sizeof(block));
    FUZZ_CHECK(n >= 0 || errno == EINTR, "cannot read %s: %s", path.c_str(), std::strerror(errno));
    if (n == 0) {
      break;
    }
    if (n > 0) {
      content.append(block, static_cast<std::size_t>(n));
    }
  }
  close(fd);
  return content;
}

void RemoveFile(const std::string& path) {
  FUZZ_CHECK(unlink(path.c_str()) == 0 || errno == ENOENT, "cannot remove %s: %s", path.c_str(),
             std::strerror(errno));
}

std::string ListDirectory(const std::string& path) {
  std::string list;
  for (const std::string& name : Entries(path)) {
    list += list.empty() ? name : " " + name;
  }
  return list;
}

void CheckTextOut(const TCallName& call, const char* buffer, std::size_t size, int result,
                  int expectedCode, const char* expectedText, std::size_t expectedLength,
                  bool textKnown) {
  // The message is only built when a check fails: this runs for every field the fuzzers read.
#define TEXT_OUT_CHECK(condition, format, ...)                                              \
  FUZZ_CHECK(condition, "%s (record %d, field %d), buffer of %zu: " format, call.operation, \
             call.record, call.field, size, __VA_ARGS__)
  std::size_t written = 0;  // bytes the call may have written: the leading NUL, or text and NUL
  if (expectedText == nullptr) {
    TEXT_OUT_CHECK(result == expectedCode, "result %d, expected %d", result, expectedCode);
    written = size >= 1 ? 1 : 0;
  } else if (size >= 1 && expectedLength <= size - 1) {
    TEXT_OUT_CHECK(result == 0, "result %d for a text of %zu bytes", result, expectedLength);
    written = expectedLength + 1;
    if (textKnown) {
      TEXT_OUT_CHECK(std::memcmp(buffer, expectedText, expectedLength) == 0, "%s",
                     "the copied text differs");
    } else {
      TEXT_OUT_CHECK(std::memchr(buffer, '\0', expectedLength) == nullptr,
                     "the copied text is shorter than %zu bytes", expectedLength);
    }
    TEXT_OUT_CHECK(buffer[expectedLength] == '\0', "%s", "the copy has no NUL");
  } else {
    TEXT_OUT_CHECK(result == static_cast<int>(expectedLength), "result %d for a text of %zu bytes",
                   result, expectedLength);
    written = size >= 1 ? 1 : 0;
  }
  if (written == 1 && (expectedText == nullptr || result != 0)) {
    TEXT_OUT_CHECK(buffer[0] == '\0', "%s", "the buffer is not left as the empty text");
  }
  for (std::size_t i = written; i < size; ++i) {
    TEXT_OUT_CHECK(static_cast<unsigned char>(buffer[i]) == kFiller, "byte %zu was written", i);
  }
#undef TEXT_OUT_CHECK
}

std::uint32_t ReadBlockSizeFor(unsigned char selector) {
  if (selector < 128) {
    return selector + 1U;
  }
  if (selector == 128) {
    return 3999;
  }
  if (selector == 255) {
    return kReadBlockSize;
  }
  return 4000U - (254U - selector) * 25U;
}
