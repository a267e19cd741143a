#include "tools/datenbank/output.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "tools/datenbank/platform.h"

namespace datenbank_tool {

namespace {

std::string Directory(const std::string& name) {
  const std::size_t slash = name.find_last_of("/\\");
  return slash == std::string::npos ? "." : name.substr(0, slash + 1);
}

std::string Base(const std::string& name) {
  const std::size_t slash = name.find_last_of("/\\");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

}  // namespace

Output::Output() {
  buffer_.reserve(kLimit + 4096);
}

Output::~Output() {
  if (!temporary_.empty()) {
    static_cast<void>(std::fclose(file_));  // unfinished: removed
    RemoveFile(temporary_);
  }
}

bool Output::Open(const std::string& target, std::string& problem) {
  if (target == "-") {
    return true;
  }
  std::string path;
  std::FILE* file = CreateTemporaryFile(Directory(target), "." + Base(target), true, path, problem);
  if (file == nullptr) {
    return false;
  }
  file_ = file;
  temporary_ = path;
  target_ = target;
  return true;
}

void Output::Drain() {
  if (!buffer_.empty() && error_ == 0 &&
      std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
    error_ = errno != 0 ? errno : EIO;
  }
  buffer_.clear();
}

bool Output::Finish(std::string& problem) {
  Drain();
  if (std::fflush(file_) != 0 && error_ == 0) {
    error_ = errno != 0 ? errno : EIO;
  }
  if (!temporary_.empty()) {
    const bool closed = std::fclose(file_) == 0;
    file_ = stdout;
    if (!closed && error_ == 0) {
      error_ = errno != 0 ? errno : EIO;
    }
    if (error_ == 0 && !MoveOver(temporary_, target_, problem)) {
      RemoveFile(temporary_);
      temporary_.clear();
      return false;
    }
    if (error_ != 0) {
      RemoveFile(temporary_);
    }
    temporary_.clear();
  }
  if (error_ != 0) {
    problem = std::strerror(error_);
    return false;
  }
  return true;
}

bool CopyToStandardOutput(std::FILE* file, std::string& problem) {
  std::vector<char> block(Output::kLimit);
  std::size_t count = 0;
  while ((count = std::fread(block.data(), 1, block.size(), file)) > 0) {
    if (std::fwrite(block.data(), 1, count, stdout) != count) {
      problem = std::strerror(errno);
      return false;
    }
  }
  if (std::ferror(file) != 0) {
    problem = std::strerror(errno);
    return false;
  }
  return std::fflush(stdout) == 0;
}

}  // namespace datenbank_tool
