// Internal. The platform file layer: the one place where the module touches the operating system.
//
// The loaders and the writer reach files only through TFileSystem. There is one implementation per
// platform (file_system_posix.cpp, file_system_win32.cpp; the build picks one), and tests wrap an
// implementation to fail any call on demand. Every call reports failure by its result; none throws,
// allocates or blocks on another process.
#ifndef OVELT_PLATFORM_FILE_SYSTEM_H
#define OVELT_PLATFORM_FILE_SYSTEM_H

#include <cstddef>
#include <cstdint>
#include <cstring>

// An open file: a POSIX descriptor or a Win32 handle, widened to an integer.
using TFileHandle = std::intptr_t;
constexpr TFileHandle kNoFile = -1;

// What a save holds between its calls. The writer creates it empty and passes it to every call;
// only the platform implementation reads or fills its members.
struct TSaveTarget {
  static constexpr std::size_t kPathCapacity = 4096 + 1;
  char path[kPathCapacity];       // the file that is replaced, links resolved
  char temporary[kPathCapacity];  // the new content, beside the target; empty while none exists
  TFileHandle held = kNoFile;     // the existing target, held against other writers
  TFileHandle temp = kNoFile;     // the temporary file while it is open
  std::uint32_t mode = 0;         // permission bits the new file gets
  std::uint32_t owner = 0;        // owner and group the new file gets, where the platform has them
  std::uint32_t group = 0;
  bool exists = false;        // the target existed when the save began
  bool refused = false;       // the directory refused a new file or a rename in it
  std::uint64_t written = 0;  // bytes written to the temporary file so far
  std::uint64_t started = 0;  // of those, the bytes whose writeback has been started
};

// Copies the NUL-terminated path into buffer; false, with buffer unchanged, when it does not fit.
template <std::size_t N>
bool CopyPath(char (&buffer)[N], const char* path) noexcept {
  const std::size_t length = std::strlen(path);
  if (length >= N) {
    return false;
  }
  std::memcpy(buffer, path, length + 1);
  return true;
}

class TFileSystem {
 public:
  // --- Reading ---
  // True when path names an existing entry that is not a directory.
  virtual bool FileExists(const char* path) noexcept = 0;
  // Opens an existing regular file for reading, exclusively: a file another handle holds is
  // refused, and so is anything but a regular file. Never blocks.
  virtual bool OpenForReading(const char* path, TFileHandle* file) noexcept = 0;
  // The file's whole size in bytes.
  virtual bool GetSize(TFileHandle file, std::uint64_t* size) noexcept = 0;
  // Reads up to size bytes; fewer only at the end of the file. False when the read fails.
  virtual bool Read(TFileHandle file, void* buffer, std::uint32_t size,
                    std::uint32_t* got) noexcept = 0;
  // Moves back to the first byte.
  virtual bool Rewind(TFileHandle file) noexcept = 0;
  virtual void Close(TFileHandle file) noexcept = 0;

  // --- Saving by replacement ---
  // A save runs OpenTarget, CreateTemporary, CopyAttributes, Write..., Flush, CloseTemporary,
  // Replace, SyncDirectory, and always ends with EndSave, which removes a temporary file that was
  // not moved into place and lets go of the target. Until Replace succeeds the target keeps its
  // bytes. Where the directory refuses the temporary file or the rename (refused), an existing
  // target may instead be written in place: WriteInPlace, Write..., Flush, CloseTemporary.
  //
  // Resolves path and, if the file exists, checks that it may be replaced (a regular, writable file
  // no other handle holds) and holds it. False: the target cannot be written; nothing was touched.
  virtual bool OpenTarget(const char* path, TSaveTarget* target) noexcept = 0;
  // Creates the new, empty temporary file beside the target, with the old file's permissions
  // (and owner, where the process may give it). Sets refused when the directory does not allow it.
  virtual bool CreateTemporary(TSaveTarget* target) noexcept = 0;
  // Gives the temporary file what else the old one carries: its extended attributes, POSIX ACLs
  // among them (Linux), or its security descriptor (Windows). scratch, of size bytes, is memory
  // the call may use meanwhile. Best effort, like SyncDirectory: false when something could not
  // be copied, and the save goes on with what could.
  virtual bool CopyAttributes(TSaveTarget* target, char* scratch, std::size_t size) noexcept = 0;
  // Makes the writes go to the existing target itself, emptied first, where the directory refused
  // the temporary file or the rename (refused) and the target is held. Not atomic: a save that
  // fails after this leaves the target incomplete. False, with nothing changed, otherwise.
  virtual bool WriteInPlace(TSaveTarget* target) noexcept = 0;
  // Writes all size bytes to the temporary file.
  virtual bool Write(TSaveTarget* target, const void* data, std::uint32_t size) noexcept = 0;
  // Forces the temporary file's content to the device.
  virtual bool Flush(TSaveTarget* target) noexcept = 0;
  virtual bool CloseTemporary(TSaveTarget* target) noexcept = 0;
  // Puts the temporary file in the target's place in one step. Sets refused when the directory
  // does not allow it.
  virtual bool Replace(TSaveTarget* target) noexcept = 0;
  // Makes the replacement itself durable where the platform needs a separate step for it. Best
  // effort: the new content is in place either way, so the writer ignores a failure.
  virtual bool SyncDirectory(TSaveTarget* target) noexcept = 0;
  virtual void EndSave(TSaveTarget* target) noexcept = 0;

 protected:
  TFileSystem() = default;
  ~TFileSystem() = default;
  TFileSystem(const TFileSystem&) = default;
  TFileSystem& operator=(const TFileSystem&) = default;
};

// This platform's file layer. Stateless.
TFileSystem& PlatformFileSystem() noexcept;

#endif  // OVELT_PLATFORM_FILE_SYSTEM_H
