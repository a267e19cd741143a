// Test support: a file layer that forwards to another (the platform's unless told otherwise),
// counts its calls, fails a chosen call on demand and can stand in for the file's content and size
// while the loaders read.
#ifndef OVELT_TESTS_SUPPORT_FAULTY_FILE_SYSTEM_H
#define OVELT_TESTS_SUPPORT_FAULTY_FILE_SYSTEM_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/forwarding_file_system.h"

namespace dbtest {

enum class FileOp : unsigned {
  kFileExists,
  kOpenForReading,
  kGetSize,
  kRead,
  kRewind,
  kClose,
  kOpenTarget,
  kCreateTemporary,
  kCopyAttributes,
  kWriteInPlace,
  kWrite,
  kFlush,
  kCloseTemporary,
  kReplace,
  kSyncDirectory,
  kDiscard,
  kCount
};

using FileOpMask = unsigned;
constexpr FileOpMask MaskOf(FileOp op) {
  return 1U << static_cast<unsigned>(op);
}
constexpr FileOpMask kAllFileOps = (1U << static_cast<unsigned>(FileOp::kCount)) - 1U;
// Close and EndSave report nothing, so they cannot be made to fail.
constexpr FileOpMask kFailableFileOps =
    kAllFileOps & ~MaskOf(FileOp::kClose) & ~MaskOf(FileOp::kDiscard);

const char* FileOpName(FileOp op);

class FaultyFileSystem final : public ForwardingFileSystem {
 public:
  // Produces count bytes of a scripted file, starting at offset, into buffer.
  using Generator = std::function<void(std::uint64_t offset, char* buffer, std::uint32_t count)>;

  using ForwardingFileSystem::ForwardingFileSystem;

  // Fails call n, counted from now among the operations in mask (1: the next such call), by
  // returning false without making it; persistent: that call and every later one in mask.
  void FailAt(std::uint64_t n, bool persistent, FileOpMask mask = kFailableFileOps);
  // Fails nothing from now on. Failures() and FirstFailure() keep their values.
  void Heal();

  // Calls made since construction, failed ones included.
  std::uint64_t Calls(FileOp op) const { return calls_[static_cast<unsigned>(op)]; }
  std::uint64_t Calls(FileOpMask mask = kAllFileOps) const;
  // Calls failed since the last FailAt.
  std::uint64_t Failures() const { return failures_; }
  // The first call failed since the last FailAt, and how often the file being read had been
  // rewound by then (0: the count pass of a loader, 1: its build pass).
  FileOp FirstFailure() const { return firstFailure_; }
  int FirstFailurePass() const { return firstFailurePass_; }
  // What the first call failed since the last FailAt makes a loader answer: no file when the
  // existence test failed, else an access failure. Measured(): the loader's count pass had got
  // through by then (the rewind or a read of the build pass failed), so it wrote its
  // out-parameters.
  int LoaderResult() const;
  bool Measured() const;
  // What that failure makes SaveFile answer: a write failure from the first write to closing the
  // temporary file, else an access failure; only the attribute copy (unless the failure persists
  // into the writes) and the directory sync, which are best effort, leave written, the answer
  // without a failure.
  int SaveResult(int written) const;
  // Files opened for reading and not closed again.
  int OpenFiles() const { return openFiles_; }

  // Scripted reading: while a script is set, GetSize and Read answer from it instead of the file
  // (the file is still opened, locked and closed for real). Every Rewind starts the next pass.
  // ServePasses and ServeGenerated drop any earlier script, a fake size included.
  // The passes' bytes: pass k reads passes[k], the last entry for every later pass.
  void ServePasses(std::vector<std::string> passes);
  // length bytes made by generate, the same in every pass.
  void ServeGenerated(std::uint64_t length, Generator generate);
  // The size GetSize reports, whatever is read.
  void FakeSize(std::uint64_t size);
  void ClearScript();
  // From now on CreateTemporary is refused as by a directory the process may not write (the
  // refusal is not a failure: nothing counts it).
  void RefuseNewFiles() { refuseNewFiles_ = true; }

  bool FileExists(const char* path) noexcept override;
  bool OpenForReading(const char* path, TFileHandle* file) noexcept override;
  bool GetSize(TFileHandle file, std::uint64_t* size) noexcept override;
  bool Read(TFileHandle file, void* buffer, std::uint32_t size,
            std::uint32_t* got) noexcept override;
  bool Rewind(TFileHandle file) noexcept override;
  void Close(TFileHandle file) noexcept override;
  bool OpenTarget(const char* path, TSaveTarget* target) noexcept override;
  bool CreateTemporary(TSaveTarget* target) noexcept override;
  bool CopyAttributes(TSaveTarget* target, char* scratch, std::size_t size) noexcept override;
  bool WriteInPlace(TSaveTarget* target) noexcept override;
  bool Write(TSaveTarget* target, const void* data, std::uint32_t size) noexcept override;
  bool Flush(TSaveTarget* target) noexcept override;
  bool CloseTemporary(TSaveTarget* target) noexcept override;
  bool Replace(TSaveTarget* target) noexcept override;
  bool SyncDirectory(TSaveTarget* target) noexcept override;
  void EndSave(TSaveTarget* target) noexcept override;

 private:
  // Counts the call; true when it is to fail.
  bool Fails(FileOp op);
  bool Scripted() const { return !passes_.empty() || static_cast<bool>(generate_); }

  std::uint64_t calls_[static_cast<unsigned>(FileOp::kCount)] = {};
  FileOpMask failMask_ = 0;
  std::uint64_t failAt_ = 0;  // 0: fail nothing
  bool persistent_ = false;
  std::uint64_t counted_ = 0;
  std::uint64_t failures_ = 0;
  FileOp firstFailure_ = FileOp::kCount;
  int firstFailurePass_ = -1;
  int openFiles_ = 0;

  std::vector<std::string> passes_;
  Generator generate_;
  std::uint64_t generatedLength_ = 0;
  bool fakeSize_ = false;
  bool refuseNewFiles_ = false;
  std::uint64_t size_ = 0;
  int pass_ = 0;
  std::uint64_t offset_ = 0;
};

}  // namespace dbtest

#endif  // OVELT_TESTS_SUPPORT_FAULTY_FILE_SYSTEM_H
