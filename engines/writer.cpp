// The writer: records as a delimited file, through a buffer, by replacement.
#include "engines/writer.h"

#include <cstring>

#include "primitives/simd.h"
#include "primitives/text_window.h"
#include "primitives/text_window_sse2.h"

namespace {

// Large writes let the file system take the new file's pages in large pieces: a 1 MiB buffer
// saved a 100 MB table of long fields in about three quarters of the time a 64 KiB one took.
constexpr std::size_t kWriteBufferSize = std::size_t{1024} * 1024;
constexpr std::size_t kFallbackBufferSize = 512;

// Collects output and hands it to the file layer in large writes. Once a write fails, everything
// after it is dropped and the failure is remembered.
class TOutputBuffer {
 public:
  TOutputBuffer(TFileSystem& files, TSaveTarget* target, char* buffer, std::size_t capacity)
      : FFiles(files), FTarget(target), FBuffer(buffer), FCapacity(capacity) {}

  void Append(const char* data, std::size_t length) noexcept {
    if (length <= FCapacity - FUsed) {
      char* out = FBuffer + FUsed;
      if (length < 16) {
        for (std::size_t i = 0; i < length; ++i) {  // most fields are short: no library call
          out[i] = data[i];
        }
      } else {
        std::memcpy(out, data, length);
      }
      FUsed += length;
      return;
    }
    Drain();
    if (length < FCapacity) {
      std::memcpy(FBuffer, data, length);
      FUsed = length;
      return;
    }
    WriteThrough(data, length);
  }

  // Room for a window's bytes at the end of what is held: where they go, or null when there is
  // less. Bytes written there count once Advance says so.
  char* WindowRoom() noexcept {
    return FCapacity - FUsed >= kTextWindow ? FBuffer + FUsed : nullptr;
  }
  void Advance(std::size_t count) noexcept { FUsed += count; }

  void AppendByte(char byte) noexcept {
    if (FUsed == FCapacity) {
      Drain();
    }
    FBuffer[FUsed++] = byte;
  }

  // Writes what is held back. False when any write failed.
  bool Finish() noexcept {
    Drain();
    return FOk;
  }

 private:
  void Drain() noexcept {
    WriteThrough(FBuffer, FUsed);
    FUsed = 0;
  }

  void WriteThrough(const char* data, std::size_t length) noexcept {
    constexpr std::size_t kMaxWrite = 1U << 30;
    while (FOk && length > 0) {
      const std::size_t chunk = length < kMaxWrite ? length : kMaxWrite;
      FOk = FFiles.Write(FTarget, data, static_cast<std::uint32_t>(chunk));
      data += chunk;
      length -= chunk;
    }
  }

  TFileSystem& FFiles;
  TSaveTarget* FTarget;
  char* FBuffer;
  std::size_t FCapacity;
  std::size_t FUsed = 0;
  bool FOk = true;
};

}  // namespace

// The loop over every field, once with each kernel set: the same source, distinct names.
namespace portable {
namespace {
#include "engines/writer_records.inc"
}  // namespace
}  // namespace portable

#if DB_SSE2_VARIANT
DB_SSE2_BEGIN
namespace sse2 {
namespace {
#include "engines/writer_records.inc"  // NOLINT(readability-duplicate-include): the SSE2 copy
}  // namespace
}  // namespace sse2
DB_SSE2_END
#endif

namespace {

int WriteRecords(TKernelSet kernels, TOutputBuffer& out, const TRecordNode* first, int fieldCount,
                 char delimiter) noexcept {
#if DB_SSE2_VARIANT
  if (kernels == TKernelSet::kSse2) {
    return sse2::WriteRecords(out, first, fieldCount, delimiter);
  }
#endif
  static_cast<void>(kernels);
  return portable::WriteRecords(out, first, fieldCount, delimiter);
}

// Writes every record to the open temporary file (or the target, in place) and closes it: the
// count of records written, or dbErrWriteFailed.
int WriteAndClose(const TModuleEnv& env, TSaveTarget& target, char* buffer, std::size_t capacity,
                  const TRecordNode* first, int fieldCount, char delimiter) noexcept {
  TFileSystem& files = *env.files;
  TOutputBuffer out(files, &target, buffer, capacity);
  const int written = WriteRecords(env.kernels, out, first, fieldCount, delimiter);
  const bool complete = out.Finish();
  if (!complete || !files.Flush(&target) || !files.CloseTemporary(&target)) {
    return dbErrWriteFailed;
  }
  return written;
}

}  // namespace

int WriteRecordsToFile(const TModuleEnv& env, const char* path, const TRecordNode* first,
                       int fieldCount, char delimiter) noexcept {
  TFileSystem& files = *env.files;
  TSaveTarget target;
  target.path[0] = '\0';
  target.temporary[0] = '\0';
  if (!files.OpenTarget(path, &target)) {
    files.EndSave(&target);
    return dbErrFileAccess;
  }
  const bool beside = files.CreateTemporary(&target);
  if (!beside && !files.WriteInPlace(&target)) {
    files.EndSave(&target);
    return dbErrFileAccess;
  }

  // Without memory for the large buffer the save still goes through, in small writes.
  char fallback[kFallbackBufferSize];
  auto* large = static_cast<char*>(env.allocator->Allocate(kWriteBufferSize));
  char* const buffer = large != nullptr ? large : fallback;
  const std::size_t capacity = large != nullptr ? kWriteBufferSize : sizeof(fallback);
  if (beside) {
    (void)files.CopyAttributes(&target, buffer, capacity);  // best effort, as documented
  }
  int result = WriteAndClose(env, target, buffer, capacity, first, fieldCount, delimiter);
  if (result >= 0 && beside && !files.Replace(&target)) {
    // A directory that refuses the rename (a sticky one, holding another user's file) may
    // still let the file itself be written.
    result = files.WriteInPlace(&target)
                 ? WriteAndClose(env, target, buffer, capacity, first, fieldCount, delimiter)
                 : dbErrFileAccess;
  } else if (result >= 0 && beside) {
    (void)files.SyncDirectory(&target);  // best effort: the new content is in place
  }
  env.allocator->Release(large);
  files.EndSave(&target);
  return result;
}
