// Test support: a file layer that passes every call on to another one, the platform's unless told
// otherwise. The file layers of the tests derive from it and override only the calls they change.
// Nothing here uses GoogleTest.
#ifndef OVELT_TESTS_SUPPORT_FORWARDING_FILE_SYSTEM_H
#define OVELT_TESTS_SUPPORT_FORWARDING_FILE_SYSTEM_H

#include <cstdint>

#include "platform/file_system.h"

namespace dbtest {

class ForwardingFileSystem : public TFileSystem {
 public:
  explicit ForwardingFileSystem(TFileSystem& inner = PlatformFileSystem()) noexcept
      : inner_(inner) {}
  ForwardingFileSystem(const ForwardingFileSystem&) = delete;
  ForwardingFileSystem& operator=(const ForwardingFileSystem&) = delete;
  virtual ~ForwardingFileSystem() = default;

  bool FileExists(const char* path) noexcept override { return inner_.FileExists(path); }
  bool OpenForReading(const char* path, TFileHandle* file) noexcept override {
    return inner_.OpenForReading(path, file);
  }
  bool GetSize(TFileHandle file, std::uint64_t* size) noexcept override {
    return inner_.GetSize(file, size);
  }
  bool Read(TFileHandle file, void* buffer, std::uint32_t size,
            std::uint32_t* got) noexcept override {
    return inner_.Read(file, buffer, size, got);
  }
  bool Rewind(TFileHandle file) noexcept override { return inner_.Rewind(file); }
  void Close(TFileHandle file) noexcept override { inner_.Close(file); }
  bool OpenTarget(const char* path, TSaveTarget* target) noexcept override {
    return inner_.OpenTarget(path, target);
  }
  bool CreateTemporary(TSaveTarget* target) noexcept override {
    return inner_.CreateTemporary(target);
  }
  bool CopyAttributes(TSaveTarget* target, char* scratch, std::size_t size) noexcept override {
    return inner_.CopyAttributes(target, scratch, size);
  }
  bool WriteInPlace(TSaveTarget* target) noexcept override { return inner_.WriteInPlace(target); }
  bool Write(TSaveTarget* target, const void* data, std::uint32_t size) noexcept override {
    return inner_.Write(target, data, size);
  }
  bool Flush(TSaveTarget* target) noexcept override { return inner_.Flush(target); }
  bool CloseTemporary(TSaveTarget* target) noexcept override {
    return inner_.CloseTemporary(target);
  }
  bool Replace(TSaveTarget* target) noexcept override { return inner_.Replace(target); }
  bool SyncDirectory(TSaveTarget* target) noexcept override { return inner_.SyncDirectory(target); }
  void EndSave(TSaveTarget* target) noexcept override { inner_.EndSave(target); }

 private:
  TFileSystem& inner_;
};

}  // namespace dbtest

#endif  // OVELT_TESTS_SUPPORT_FORWARDING_FILE_SYSTEM_H
