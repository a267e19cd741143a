// The platform file layer on Windows (ANSI calls of KERNEL32; paths pass through unconverted).
//
// Files are opened with share mode 0: while the module holds a file for reading or as a save
// target, every other handle is refused, and a file that another handle holds cannot be opened
// (dbErrFileAccess). A save writes a temporary file beside the target and moves it into place with
// MoveFileExA. ReplaceFileA is not used: it fails on a missing target and, under Wine, removes the
// target before it renames. The replaced file keeps the old one's attributes and its security
// descriptor (ADVAPI32).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/file_system.h"

namespace {

// Attributes a replaced file takes over from the old one. Read-only never gets this far.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// MoveFileExA is refused while another process has the target open for a moment (a virus
// scanner, an indexer); such refusals are tried again this often, this far apart.
constexpr int kReplaceAttempts = 3;
constexpr DWORD kReplaceRetryMilliseconds = 10;

// Longest path the ANSI calls take, its NUL not counted.
constexpr std::size_t kMaxAnsiPath = MAX_PATH - 1;

// The held target is read for its security descriptor; the temporary file gets it.
constexpr DWORD kHeldAccess = GENERIC_WRITE | READ_CONTROL;
constexpr DWORD kTemporaryAccess = GENERIC_WRITE | WRITE_DAC | WRITE_OWNER;

// What CopyAttributes gives the temporary file, each part set on its own.
constexpr SECURITY_INFORMATION kKeptSecurity =
    DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION;

HANDLE ToHandle(TFileHandle file) {
  // A handle travels through the shared code as an integer; this is where it turns back.
  return reinterpret_cast<HANDLE>(file);  // NOLINT(performance-no-int-to-ptr)
}

TFileHandle FromHandle(HANDLE handle) {
  return reinterpret_cast<TFileHandle>(handle);
}

void CloseFile(TFileHandle* file) {
  if (*file != kNoFile) {
    (void)CloseHandle(ToHandle(*file));
    *file = kNoFile;
  }
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// Only a file on a disk is read or replaced: a pipe, a console or a device is refused.
bool IsDiskFile(HANDLE handle) {
  return GetFileType(handle) == FILE_TYPE_DISK;
}

bool IsRefusalWorthRetrying(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_LOCK_VIOLATION;
}

// An existing file of the save, opened without sharing; null when it cannot be, or is no disk file.
HANDLE OpenHeld(const char* path) {
  HANDLE held = CreateFileA(path, kHeldAccess, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (held == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  if (!IsDiskFile(held)) {
    (void)CloseHandle(held);
    SetLastError(ERROR_BAD_FILE_TYPE);
    return nullptr;
  }
  return held;
}

// A symbolic link is followed: the file it names is replaced and the link stays. The open handle
// knows the file it reached; false, with the path as it was given, without an answer.
bool FollowLink(HANDLE held, TSaveTarget* target) {
  char resolved[TSaveTarget::kPathCapacity];
  const DWORD length = GetFinalPathNameByHandleA(
      held, resolved, static_cast<DWORD>(sizeof(resolved)), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= sizeof(resolved)) {
    return false;
  }
  // The answer is "\\?\C:\dir\name" or "\\?\UNC\server\share\name".
  const char* path = resolved;
  std::string_view rest(resolved, length);
  if (rest.rfind("\\\\?\\UNC\\", 0) == 0) {
    resolved[6] = '\\';
    path = resolved + 6;
  } else if (rest.rfind("\\\\?\\", 0) == 0) {
    path = resolved + 4;
  }
  return CopyPath(target->path, path);
}

// Whether Wine shows path as a symbolic link whose file is missing. Windows reports such a link
// itself, with FILE_ATTRIBUTE_REPARSE_POINT; Wine 8 reports only the missing file
// (ERROR_FILE_NOT_FOUND) and the link never as a reparse point, but its search for the exact name
// finds the entry without a file to describe (ERROR_NO_MORE_FILES, where a name that is not there
// gives ERROR_FILE_NOT_FOUND).
bool IsEntryWithoutFile(const char* path) {
  if (std::strpbrk(path, "*?<>\"") != nullptr) {
    return false;  // a pattern: the search would match other names
  }
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(path, &entry);
  if (search != INVALID_HANDLE_VALUE) {
    (void)FindClose(search);
    return false;
  }
  return GetLastError() == ERROR_NO_MORE_FILES;
}

// A symbolic link whose file is missing gets that file, as a plain write would create it. Opening
// the link with OPEN_ALWAYS creates the file it names, and the handle tells where that is: the save
// goes on beside it as for a new file. The created file is marked for deletion at once, so it goes
// when the handle is let go of: Replace then moves the temporary file into its place, and a save
// that fails leaves nothing behind. False for a link into a missing directory or a loop.
bool HoldLinkedFile(TSaveTarget* target) {
  HANDLE created =
      CreateFileA(target->path, GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (created == INVALID_HANDLE_VALUE) {
    return false;
  }
  // Wine answers ERROR_ALREADY_EXISTS also when it created the file a link names: a file that has
  // bytes is one another writer made meanwhile, and is left alone.
  LARGE_INTEGER size;
  if (!IsDiskFile(created) || !GetFileSizeEx(created, &size) || size.QuadPart != 0) {
    (void)CloseHandle(created);
    return false;
  }
  FILE_DISPOSITION_INFO disposition;
  disposition.DeleteFile = TRUE;
  const bool followed = FollowLink(created, target);
  const bool marked =
      SetFileInformationByHandle(created, FileDispositionInfo, &disposition, sizeof(disposition));
  if (!marked || !followed) {
    (void)CloseHandle(created);  // a marked file goes with its handle
    if (followed) {
      (void)DeleteFileA(target->path);  // the file the link names; never the link itself
    }
    return false;
  }
  target->held = FromHandle(created);
  target->exists = false;
  target->mode = FILE_ATTRIBUTE_NORMAL;
  return true;
}

// "<directory>~<name>.<pid>-<tick>-<attempt>.tmp", the name part shortened so that the whole path
// stays within what the ANSI calls take. Where not even the suffix fits, an 8.3-sized
// "<directory>~<7 hex digits>.tmp". False when that does not fit either. CREATE_NEW keeps both
// unique.
bool NameTemporary(TSaveTarget* target, std::size_t directoryLength, const char* name,
                   DWORD process, DWORD tick, unsigned attempt) {
  char suffix[64];
  const int suffixLength =
      std::snprintf(suffix, sizeof(suffix), ".%lx-%lx-%u.tmp", static_cast<unsigned long>(process),
                    static_cast<unsigned long>(tick), attempt);
  if (suffixLength < 0) {
    return false;
  }
  const std::size_t fixed = directoryLength + 1 + static_cast<std::size_t>(suffixLength);
  if (fixed <= kMaxAnsiPath) {
    std::size_t nameLength = std::strlen(name);
    if (fixed + nameLength > kMaxAnsiPath) {
      nameLength = kMaxAnsiPath - fixed;
    }
    (void)std::snprintf(target->temporary, sizeof(target->temporary), "%.*s~%.*s%s",
                        static_cast<int>(directoryLength), target->path,
                        static_cast<int>(nameLength), name, suffix);
    return true;
  }
  constexpr std::size_t kShortName = 12;  // "~1234567.tmp"
  if (directoryLength + kShortName > kMaxAnsiPath) {
    return false;
  }
  const unsigned long mixed =
      (static_cast<unsigned long>(process) * 0x9E3779B1UL + tick + attempt) & 0xFFFFFFFUL;
  (void)std::snprintf(target->temporary, sizeof(target->temporary), "%.*s~%07lx.tmp",
                      static_cast<int>(directoryLength), target->path, mixed);
  return true;
}

class TWin32FileSystem final : public TFileSystem {
 public:
  constexpr TWin32FileSystem() = default;

  bool FileExists(const char* path) noexcept override {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(path, &entry);
    if (search == INVALID_HANDLE_VALUE) {
      return false;
    }
    (void)FindClose(search);
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }

  bool OpenForReading(const char* path, TFileHandle* file) noexcept override {
    HANDLE handle = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      return false;
    }
    if (!IsDiskFile(handle)) {
      (void)CloseHandle(handle);
      return false;
    }
    *file = FromHandle(handle);
    return true;
  }

  bool GetSize(TFileHandle file, std::uint64_t* size) noexcept override {
    // A size of exactly INVALID_FILE_SIZE is valid; only the error code tells a failure apart.
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(ToHandle(file), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
      return false;
    }
    *size = (static_cast<std::uint64_t>(high) << 32) | low;
    return true;
  }

  bool Read(TFileHandle file, void* buffer, std::uint32_t size,
            std::uint32_t* got) noexcept override {
    auto* bytes = static_cast<char*>(buffer);
    std::uint32_t total = 0;
    while (total < size) {
      DWORD n = 0;
      if (!ReadFile(ToHandle(file), bytes + total, size - total, &n, nullptr)) {
        return false;
      }
      if (n == 0) {
        break;
      }
      total += n;
    }
    *got = total;
    return true;
  }

  bool Rewind(TFileHandle file) noexcept override {
    return SetFilePointer(ToHandle(file), 0, nullptr, FILE_BEGIN) == 0;
  }

  void Close(TFileHandle file) noexcept override { (void)CloseHandle(ToHandle(file)); }

  bool OpenTarget(const char* path, TSaveTarget* target) noexcept override {
    const std::size_t length = std::strlen(path);
    if (length == 0 || IsSeparator(path[length - 1])) {
      return false;
    }
    // The full path fixes the directory of the temporary file, also for a relative or
    // drive-relative name, and stays valid if the current directory changes.
    const DWORD full =
        GetFullPathNameA(path, static_cast<DWORD>(sizeof(target->path)), target->path, nullptr);
    if (full == 0 || full >= sizeof(target->path)) {
      target->path[0] = '\0';
      return false;
    }

    const DWORD attributes = GetFileAttributesA(target->path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      // A missing file is a new file; a missing directory is refused here.
      if (GetLastError() != ERROR_FILE_NOT_FOUND) {
        return false;
      }
      if (IsEntryWithoutFile(target->path)) {
        return HoldLinkedFile(target);
      }
      target->exists = false;
      target->mode = FILE_ATTRIBUTE_NORMAL;
      return true;
    }
    // Checked here rather than left to CreateFileA: Wine opens a read-only file for writing.
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
      return false;
    }
    HANDLE held = OpenHeld(target->path);
    if (held == nullptr) {
      // On Windows a symbolic link shows its own attributes; one whose file is missing is only
      // found out by opening it.
      if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
          GetLastError() == ERROR_FILE_NOT_FOUND) {
        return HoldLinkedFile(target);
      }
      return false;
    }
    target->held = FromHandle(held);
    target->exists = true;
    (void)FollowLink(held, target);
    const DWORD kept = attributes & kKeptAttributes;
    target->mode = kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL;
    return true;
  }

  bool CreateTemporary(TSaveTarget* target) noexcept override {
    const char* name = target->path;
    for (const char* p = target->path; *p != '\0'; ++p) {
      if (IsSeparator(*p)) {
        name = p + 1;
      }
    }
    const std::size_t directoryLength = static_cast<std::size_t>(name - target->path);
    const DWORD attributes = target->exists ? target->mode : FILE_ATTRIBUTE_NORMAL;
    const DWORD process = GetCurrentProcessId();
    const DWORD tick = GetTickCount();
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
      if (!NameTemporary(target, directoryLength, name, process, tick, attempt)) {
        target->temporary[0] = '\0';
        return false;
      }
      HANDLE handle =
          CreateFileA(target->temporary, target->exists ? kTemporaryAccess : GENERIC_WRITE, 0,
                      nullptr, CREATE_NEW, attributes, nullptr);
      if (handle == INVALID_HANDLE_VALUE && target->exists &&
          GetLastError() == ERROR_ACCESS_DENIED) {
        // The rights on the descriptor only serve CopyAttributes: without them the file is made
        // all the same, and keeps the descriptor it gets.
        handle = CreateFileA(target->temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes,
                             nullptr);
      }
      if (handle != INVALID_HANDLE_VALUE) {
        target->temp = FromHandle(handle);
        return true;
      }
      const DWORD error = GetLastError();
      target->temporary[0] = '\0';
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
        target->refused = error == ERROR_ACCESS_DENIED;
        return false;
      }
    }
    return false;
  }

  bool CopyAttributes(TSaveTarget* target, char* scratch, std::size_t size) noexcept override {
    if (!target->exists) {
      return true;  // a new file: nothing to keep
    }
    // The descriptor comes back self-relative, its fields aligned as in memory.
    void* descriptor = scratch;
    std::size_t room = size;
    if (std::align(alignof(SECURITY_DESCRIPTOR_RELATIVE), sizeof(SECURITY_DESCRIPTOR_RELATIVE),
                   descriptor, room) == nullptr) {
      return false;
    }
    const DWORD capacity = room > MAXDWORD ? MAXDWORD : static_cast<DWORD>(room);
    DWORD needed = 0;
    if (!GetKernelObjectSecurity(ToHandle(target->held), kKeptSecurity, descriptor, capacity,
                                 &needed)) {
      return false;
    }
    // One part at a time: an owner this process may not give (another user's file) leaves the
    // DACL and the group.
    bool all = true;
    for (const SECURITY_INFORMATION part :
         {DACL_SECURITY_INFORMATION, OWNER_SECURITY_INFORMATION, GROUP_SECURITY_INFORMATION}) {
      if (!SetKernelObjectSecurity(ToHandle(target->temp), part, descriptor)) {
        all = false;
      }
    }
    return all;
  }

  bool WriteInPlace(TSaveTarget* target) noexcept override {
    if (!target->refused || !target->exists || target->held == kNoFile) {
      return false;
    }
    // A second handle on the held file: CloseTemporary closes it, EndSave the held one.
    HANDLE self = GetCurrentProcess();
    HANDLE file = nullptr;
    if (!DuplicateHandle(self, ToHandle(target->held), self, &file, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
      return false;
    }
    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) != 0 || !SetEndOfFile(file)) {
      (void)CloseHandle(file);
      return false;
    }
    target->temp = FromHandle(file);
    return true;
  }

  bool Write(TSaveTarget* target, const void* data, std::uint32_t size) noexcept override {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
      DWORD written = 0;
      if (!WriteFile(ToHandle(target->temp), bytes, size, &written, nullptr) || written == 0) {
        return false;
      }
      bytes += written;
      size -= written;
    }
    return true;
  }

  bool Flush(TSaveTarget* target) noexcept override {
    return FlushFileBuffers(ToHandle(target->temp)) != 0;
  }

  bool CloseTemporary(TSaveTarget* target) noexcept override {
    const BOOL closed = CloseHandle(ToHandle(target->temp));
    target->temp = kNoFile;
    return closed != 0;
  }

  bool Replace(TSaveTarget* target) noexcept override {
    // A file that is open anywhere, the held handle included, cannot be replaced: let go of it
    // first. Another process may open the target in between; that refusal is tried again.
    CloseFile(&target->held);
    for (int attempt = 1;; ++attempt) {
      if (MoveFileExA(target->temporary, target->path,
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        target->temporary[0] = '\0';
        return true;
      }
      const DWORD error = GetLastError();
      if (attempt == kReplaceAttempts || !IsRefusalWorthRetrying(error)) {
        if (error == ERROR_ACCESS_DENIED) {
          // The directory refuses the rename: the target is held again for WriteInPlace, as
          // OpenTarget holds it (a read-only one, which Wine would open for writing, is not).
          target->refused = true;
          const DWORD attributes =
              target->exists ? GetFileAttributesA(target->path) : INVALID_FILE_ATTRIBUTES;
          HANDLE held = (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0
                            ? OpenHeld(target->path)
                            : nullptr;
          target->held = held != nullptr ? FromHandle(held) : kNoFile;
        }
        return false;
      }
      Sleep(kReplaceRetryMilliseconds);
    }
  }

  // MOVEFILE_WRITE_THROUGH returns only once the move is on the disk: nothing is left to do.
  bool SyncDirectory(TSaveTarget* /*target*/) noexcept override { return true; }

  void EndSave(TSaveTarget* target) noexcept override {
    CloseFile(&target->temp);
    if (target->temporary[0] != '\0') {
      (void)DeleteFileA(target->temporary);
      target->temporary[0] = '\0';
    }
    CloseFile(&target->held);
  }
};

TWin32FileSystem gWin32FileSystem;  // stateless: no mutable global state

}  // namespace

TFileSystem& PlatformFileSystem() noexcept {
  return gWin32FileSystem;
}
