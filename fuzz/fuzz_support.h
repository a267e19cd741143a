// Fuzz support: the check that turns a broken expectation into a crash the fuzzer records, the
// private scratch directory of a fuzzer process, and whole-file helpers.
#ifndef OVELT_FUZZ_FUZZ_SUPPORT_H
#define OVELT_FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>

// Prints where and why, then aborts: libFuzzer saves the input that got here as a crash.
[[noreturn]] void FuzzFail(const char* file, int line, const char* condition, const char* format,
                           ...) __attribute__((format(printf, 4, 5)));

#define FUZZ_CHECK(condition, ...)                           \
  do {                                                       \
    if (!(condition)) {                                      \
      FuzzFail(__FILE__, __LINE__, #condition, __VA_ARGS__); \
    }                                                        \
  } while (false)

// A directory of this process's own, made on first use (on tmpfs where /dev/shm is writable, so
// the writer's fsync calls cost nothing) and removed with everything in it when the process exits.
// DATENBANK_FUZZ_TMPDIR chooses where it is made.
const std::string& ScratchDirectory();

// Replaces the file's content with size bytes. Aborts on failure: the fuzzer's own set-up failing
// says nothing about the module.
void WriteWholeFile(const std::string& path, const void* data, std::size_t size);
// The file's bytes; aborts when it cannot be read.
std::string ReadWholeFile(const std::string& path);
// Removes the file if it is there.
void RemoveFile(const std::string& path);
// The names in the directory, "." and ".." left out, sorted.
std::string ListDirectory(const std::string& path);

// What the module must not overwrite: text-out buffers are filled with it before each call.
constexpr unsigned char kFiller = 0xA5;

// Names a call in failure messages: the operation, and the record and field where they apply
// (-1 where they do not).
struct TCallName {
  const char* operation;
  int record;
  int field;
};

// Checks the outcome of a text-out call (GetField, GetErrorText, the information texts). buffer
// held size bytes of kFiller before the call; size is 0 for a null buffer. With expectedText null
// the call must have failed with expectedCode and left at most the leading NUL. Otherwise the text
// is expectedLength bytes, compared byte for byte when textKnown (else only its length is known):
// it is copied with its NUL when it fits, else the result is its length and only the leading NUL is
// written; a size of 0 writes nothing. No byte past what the convention allows may change.
void CheckTextOut(const TCallName& call, const char* buffer, std::size_t size, int result,
                  int expectedCode, const char* expectedText, std::size_t expectedLength,
                  bool textKnown);

// The loaders' read block size a selector byte stands for: 1 to 128 for 0 to 127 (every small size,
// so records and CR LF pairs meet block ends in every position), 3999 for 128, and from 129 up
// sizes from 875 to 4000 in steps of 25, and 255 for kReadBlockSize, the size the module uses.
std::uint32_t ReadBlockSizeFor(unsigned char selector);

#endif  // OVELT_FUZZ_FUZZ_SUPPORT_H
