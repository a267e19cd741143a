// Test support: the file layer that fails on demand.
#include "tests/support/faulty_file_system.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "datenbank.h"

namespace dbtest {

const char* FileOpName(FileOp op) {
  static const char* const kNames[] = {
      "FileExists",     "OpenForReading",  "GetSize",        "Read",         "Rewind", "Close",
      "OpenTarget",     "CreateTemporary", "CopyAttributes", "WriteInPlace", "Write",  "Flush",
      "CloseTemporary", "Replace",         "SyncDirectory",  "EndSave",      "none"};
  return kNames[static_cast<unsigned>(op)];
}

void FaultyFileSystem::FailAt(std::uint64_t n, bool persistent, FileOpMask mask) {
  failMask_ = mask;
  failAt_ = n;
  persistent_ = persistent;
  counted_ = 0;
  failures_ = 0;
  firstFailure_ = FileOp::kCount;
  firstFailurePass_ = -1;
}

void FaultyFileSystem::Heal() {
  failAt_ = 0;
  failMask_ = 0;
}

std::uint64_t FaultyFileSystem::Calls(FileOpMask mask) const {
  std::uint64_t total = 0;
  for (unsigned op = 0; op < static_cast<unsigned>(FileOp::kCount); ++op) {
    if ((mask & (1U << op)) != 0) {
      total += calls_[op];
    }
  }
  return total;
}

bool FaultyFileSystem::Fails(FileOp op) {
  ++calls_[static_cast<unsigned>(op)];
  if (failAt_ == 0 || (failMask_ & MaskOf(op)) == 0) {
    return false;
  }
  ++counted_;
  if (counted_ != failAt_ && !(persistent_ && counted_ > failAt_)) {
    return false;
  }
  if (failures_++ == 0) {
    firstFailure_ = op;
    firstFailurePass_ = pass_;
  }
  return true;
}

int FaultyFileSystem::LoaderResult() const {
  return firstFailure_ == FileOp::kFileExists ? dbErrFileNotFound : dbErrFileAccess;
}

bool FaultyFileSystem::Measured() const {
  return firstFailure_ == FileOp::kRewind ||
         (firstFailure_ == FileOp::kRead && firstFailurePass_ > 0);
}

int FaultyFileSystem::SaveResult(int written) const {
  switch (firstFailure_) {
    case FileOp::kWrite:
    case FileOp::kFlush:
    case FileOp::kCloseTemporary:
      return dbErrWriteFailed;
    case FileOp::kCopyAttributes:  // then the writes fail too, when the failure persists
      return persistent_ ? dbErrWriteFailed : written;
    case FileOp::kSyncDirectory:
      return written;
    default:
      return dbErrFileAccess;
  }
}

void FaultyFileSystem::ServePasses(std::vector<std::string> passes) {
  ClearScript();
  passes_ = std::move(passes);
}

void FaultyFileSystem::ServeGenerated(std::uint64_t length, Generator generate) {
  ClearScript();
  generatedLength_ = length;
  generate_ = std::move(generate);
}

void FaultyFileSystem::FakeSize(std::uint64_t size) {
  fakeSize_ = true;
  size_ = size;
}

void FaultyFileSystem::ClearScript() {
  passes_.clear();
  generate_ = nullptr;
  generatedLength_ = 0;
  fakeSize_ = false;
}

bool FaultyFileSystem::FileExists(const char* path) noexcept {
  return !Fails(FileOp::kFileExists) && ForwardingFileSystem::FileExists(path);
}

bool FaultyFileSystem::OpenForReading(const char* path, TFileHandle* file) noexcept {
  if (Fails(FileOp::kOpenForReading) || !ForwardingFileSystem::OpenForReading(path, file)) {
    return false;
  }
  ++openFiles_;
  pass_ = 0;
  offset_ = 0;
  return true;
}

bool FaultyFileSystem::GetSize(TFileHandle file, std::uint64_t* size) noexcept {
  if (Fails(FileOp::kGetSize)) {
    return false;
  }
  if (fakeSize_) {
    *size = size_;
    return true;
  }
  if (!passes_.empty()) {
    *size = passes_.front().size();
    return true;
  }
  if (generate_) {
    *size = generatedLength_;
    return true;
  }
  return ForwardingFileSystem::GetSize(file, size);
}

bool FaultyFileSystem::Read(TFileHandle file, void* buffer, std::uint32_t size,
                            std::uint32_t* got) noexcept {
  if (Fails(FileOp::kRead)) {
    return false;
  }
  if (!Scripted()) {
    return ForwardingFileSystem::Read(file, buffer, size, got);
  }
  const std::uint64_t length =
      passes_.empty()
          ? generatedLength_
          : passes_[std::min(static_cast<std::size_t>(pass_), passes_.size() - 1)].size();
  const std::uint64_t left = offset_ < length ? length - offset_ : 0;
  const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, size));
  if (passes_.empty()) {
    generate_(offset_, static_cast<char*>(buffer), count);
  } else {
    const std::string& bytes =
        passes_[std::min(static_cast<std::size_t>(pass_), passes_.size() - 1)];
    std::memcpy(buffer, bytes.data() + offset_, count);
  }
  offset_ += count;
  *got = count;
  return true;
}

bool FaultyFileSystem::Rewind(TFileHandle file) noexcept {
  if (Fails(FileOp::kRewind) || !ForwardingFileSystem::Rewind(file)) {
    return false;
  }
  ++pass_;
  offset_ = 0;
  return true;
}

void FaultyFileSystem::Close(TFileHandle file) noexcept {
  ++calls_[static_cast<unsigned>(FileOp::kClose)];
  --openFiles_;
  ForwardingFileSystem::Close(file);
}

bool FaultyFileSystem::OpenTarget(const char* path, TSaveTarget* target) noexcept {
  return !Fails(FileOp::kOpenTarget) && ForwardingFileSystem::OpenTarget(path, target);
}

bool FaultyFileSystem::CreateTemporary(TSaveTarget* target) noexcept {
  if (Fails(FileOp::kCreateTemporary)) {
    return false;
  }
  if (refuseNewFiles_) {
    target->refused = true;
    return false;
  }
  return ForwardingFileSystem::CreateTemporary(target);
}

bool FaultyFileSystem::CopyAttributes(TSaveTarget* target, char* scratch,
                                      std::size_t size) noexcept {
  return !Fails(FileOp::kCopyAttributes) &&
         ForwardingFileSystem::CopyAttributes(target, scratch, size);
}

bool FaultyFileSystem::WriteInPlace(TSaveTarget* target) noexcept {
  return !Fails(FileOp::kWriteInPlace) && ForwardingFileSystem::WriteInPlace(target);
}

bool FaultyFileSystem::Write(TSaveTarget* target, const void* data, std::uint32_t size) noexcept {
  return !Fails(FileOp::kWrite) && ForwardingFileSystem::Write(target, data, size);
}

bool FaultyFileSystem::Flush(TSaveTarget* target) noexcept {
  return !Fails(FileOp::kFlush) && ForwardingFileSystem::Flush(target);
}

bool FaultyFileSystem::CloseTemporary(TSaveTarget* target) noexcept {
  return !Fails(FileOp::kCloseTemporary) && ForwardingFileSystem::CloseTemporary(target);
}

bool FaultyFileSystem::Replace(TSaveTarget* target) noexcept {
  return !Fails(FileOp::kReplace) && ForwardingFileSystem::Replace(target);
}

bool FaultyFileSystem::SyncDirectory(TSaveTarget* target) noexcept {
  return !Fails(FileOp::kSyncDirectory) && ForwardingFileSystem::SyncDirectory(target);
}

void FaultyFileSystem::EndSave(TSaveTarget* target) noexcept {
  ++calls_[static_cast<unsigned>(FileOp::kDiscard)];
  ForwardingFileSystem::EndSave(target);
}

}  // namespace dbtest
