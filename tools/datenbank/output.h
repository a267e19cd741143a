// Where the tool writes what it makes: standard output, or a file written under a temporary name
// beside its target and moved over it once complete, so a failed export leaves the target as it
// was. Everything goes through one bounded buffer, written out whenever it passes kLimit: output
// starts with the first record, and memory does not grow with the table.
#ifndef DATENBANK_TOOL_OUTPUT_H
#define DATENBANK_TOOL_OUTPUT_H

#include <cstdio>
#include <string>
#include <string_view>

namespace datenbank_tool {

class Output {
 public:
  static constexpr std::size_t kLimit = 64 * 1024;

  Output();  // standard output
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  // Writes to target instead, "-" meaning standard output. False with the reason in problem.
  bool Open(const std::string& target, std::string& problem);

  // The buffer: append to it, then call Written.
  std::string& Text() { return buffer_; }
  void Written() {
    if (buffer_.size() >= kLimit) {
      Drain();
    }
  }
  void Write(std::string_view text) {
    buffer_.append(text);
    Written();
  }

  // Writes out the rest; a file is closed and moved over its target. False with the reason in
  // problem when any write failed.
  bool Finish(std::string& problem);

  // The target's name for messages.
  const std::string& Name() const { return target_; }

 private:
  void Drain();

  std::FILE* file_ = stdout;
  std::string target_ = "standard output";
  std::string temporary_;  // the file being written, until it is moved over the target
  std::string buffer_;
  int error_ = 0;  // errno of the first failed write
};

// Copies a whole file to standard output; false with the reason in problem.
bool CopyToStandardOutput(std::FILE* file, std::string& problem);

}  // namespace datenbank_tool

#endif
