#include <fcntl.h>
#include <io.h>
#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

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
