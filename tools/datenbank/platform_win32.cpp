#include <fcntl.h>
#include <io.h>
#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include <cerrno>
#include <cstring>

#include "tools/datenbank/platform.h"

namespace datenbank_tool {

namespace {

std::string WideToUtf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) {
    return {};
  }
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(size - 1));
  return out;
}

std::wstring Utf8ToWide(const std::string& text) {
  const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.c_str(), -1, nullptr, 0);
  if (size <= 1) {
    return {};
  }
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.c_str(), -1, out.data(), size);
  out.resize(static_cast<std::size_t>(size - 1));
  return out;
}

std::string LastErrorText() {
  wchar_t* message = nullptr;
  const DWORD code = GetLastError();
  FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  std::string text = message != nullptr ? WideToUtf8(message) : std::string();
  LocalFree(message);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text + " (error " + std::to_string(code) + ")";
}

HMODULE Open(const std::wstring& path, std::string& error) {
  HMODULE handle = LoadLibraryW(path.c_str());
  if (handle == nullptr) {
    error = "cannot load " + WideToUtf8(path.c_str()) + ": " + LastErrorText();
  }
  return handle;
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) {
    return {argv, argv + argc};
  }
  std::vector<std::string> arguments;
  arguments.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    arguments.push_back(WideToUtf8(wide[i]));
  }
  LocalFree(wide);
  return arguments;
}

void PrepareOutput() {
  // Bytes go out as written: --raw and --bytes promise exact bytes, and a line ends in LF.
  _setmode(_fileno(stdout), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
  // Consoles since Windows 10 take escapes once asked to; older ones keep the plain marker.
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(console, &mode) != 0) {
    SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
}

TMainDB* LoadModule(std::string& library, std::string& error) {
  HMODULE handle = nullptr;
  const wchar_t* configured = _wgetenv(L"DATENBANK_LIBRARY");
  if (configured != nullptr && *configured != L'\0') {
    library = WideToUtf8(configured);
    handle = Open(configured, error);
  } else {
    std::wstring self(MAX_PATH, L'\0');
    DWORD length = 0;
    while ((length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()))) ==
           self.size()) {
      self.resize(self.size() * 2);
    }
    self.resize(length);
    const std::wstring beside = self.substr(0, self.find_last_of(L"\\/") + 1) + L"datenbank.dll";
    library = WideToUtf8(beside.c_str());
    handle = Open(beside, error);
  }
  if (handle == nullptr) {
    return nullptr;
  }
  return CreateTable(reinterpret_cast<Factory>(reinterpret_cast<void*>(
                         GetProcAddress(handle, "_CreateDatenbankClassInstance"))),
                     library, error);
}

bool ModuleFileName(const std::string& utf8, std::string& name, std::string& problem) {
  const std::wstring wide = Utf8ToWide(utf8);
  if (wide.empty() && !utf8.empty()) {
    problem = "the name is not valid UTF-8";
    return false;
  }
  BOOL replaced = FALSE;
  const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, nullptr, 0,
                                       nullptr, &replaced);
  if (size <= 0 || replaced) {
    problem = "the name has a character without a byte in the ANSI code page";
    return false;
  }
  name.assign(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, name.data(), size, nullptr,
                      nullptr);
  name.resize(static_cast<std::size_t>(size - 1));
  return true;
}

bool NameExists(const std::string& name) {
  return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool OutputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

int TerminalWidth() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
    return info.srWindow.Right - info.srWindow.Left + 1;
  }
  return 0;
}

bool TerminalTakesEscapes() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0 &&
         (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace datenbank_tool

namespace datenbank_tool {

std::FILE* OpenForReading(const std::string& utf8, std::string& problem) {
  const std::wstring wide = Utf8ToWide(utf8);
  std::FILE* file = wide.empty() ? nullptr : _wfopen(wide.c_str(), L"rb");
  if (file == nullptr) {
    problem = wide.empty() ? "the name is not valid UTF-8" : std::strerror(errno);
  }
  return file;
}

std::FILE* CreateTemporaryFile(const std::string& directory, const std::string& stem,
                               bool /*shared*/, std::string& path, std::string& problem) {
  std::wstring folder = Utf8ToWide(directory);
  if (folder.empty()) {
    std::wstring buffer(MAX_PATH + 2, L'\0');
    const DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0 || length >= buffer.size()) {
      problem = "no temporary directory: " + LastErrorText();
      return nullptr;
    }
    buffer.resize(length);
    folder = buffer;
  }
  if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') {
    folder += L'\\';
  }
  const std::wstring wideStem = Utf8ToWide(stem);
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::wstring name = folder + wideStem + L"." + std::to_wstring(GetCurrentProcessId()) +
                              L"-" + std::to_wstring(GetTickCount() + attempt) + L".tmp";
    HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) {
        continue;
      }
      problem = WideToUtf8(folder.c_str()) + ": " + LastErrorText();
      return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    std::FILE* file = fd >= 0 ? _fdopen(fd, "w+b") : nullptr;
    if (file == nullptr) {
      if (fd >= 0) {
        _close(fd);
      } else {
        CloseHandle(handle);
      }
      DeleteFileW(name.c_str());
      problem = "cannot open a temporary file";
      return nullptr;
    }
    path = WideToUtf8(name.c_str());
    return file;
  }
  problem = "no free temporary file name";
  return nullptr;
}

bool MoveOver(const std::string& from, const std::string& target, std::string& problem) {
  if (MoveFileExW(Utf8ToWide(from).c_str(), Utf8ToWide(target).c_str(),
                  MOVEFILE_REPLACE_EXISTING) == 0) {
    problem = LastErrorText();
    return false;
  }
  return true;
}

void RemoveFile(const std::string& path) {
  DeleteFileW(Utf8ToWide(path).c_str());
}

std::FILE* BinaryStandardInput() {
  _setmode(_fileno(stdin), _O_BINARY);
  return stdin;
}

namespace {

std::wstring ParentOf(const std::wstring& name) {
  const std::size_t slash = name.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring(L".") : name.substr(0, slash + 1);
}

}  // namespace

std::string FileProblem(const std::string& name, bool forWriting) {
  const std::wstring wide = Utf8ToWide(name);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED) {
      return "permission denied";
    }
    if (!forWriting || error != ERROR_FILE_NOT_FOUND) {
      return error == ERROR_PATH_NOT_FOUND && forWriting ? "directory not found" : "not found";
    }
    const DWORD folder = GetFileAttributesW(ParentOf(wide).c_str());
    if (folder == INVALID_FILE_ATTRIBUTES) {
      return "directory not found";
    }
    return (folder & FILE_ATTRIBUTE_DIRECTORY) == 0 ? "not a directory" : std::string();
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return "is a directory";
  }
  if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) {
    return "not a regular file";
  }
  if (forWriting && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return "read-only file";
  }
  // The module opens without sharing: another holder shows as a sharing violation.
  HANDLE handle = CreateFileW(wide.c_str(), forWriting ? GENERIC_WRITE : GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
      return "locked by another process";
    }
    if (error == ERROR_ACCESS_DENIED) {
      return "permission denied";
    }
    return LastErrorText();
  }
  CloseHandle(handle);
  return {};
}

std::string WriteProblem(const std::string& name, unsigned long long needed) {
  ULARGE_INTEGER room{};
  if (GetDiskFreeSpaceExW(ParentOf(Utf8ToWide(name)).c_str(), &room, nullptr, nullptr) != 0 &&
      room.QuadPart < needed + 64 * 1024) {
    return "disk full (" + std::to_string(room.QuadPart) + " bytes free)";
  }
  return {};
}

unsigned long long FileSize(const std::string& name) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (GetFileAttributesExW(Utf8ToWide(name).c_str(), GetFileExInfoStandard, &data) == 0) {
    return 0;
  }
  return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace datenbank_tool
