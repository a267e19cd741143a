// datenbank_bench_win32: one measurement of the Windows DLL (32- or 64-bit, as this program is
// built), loaded with LoadLibraryA as a Windows host loads it; the counterpart of datenbank_bench
// --mode for bench/wine_bench.py.
//
//   datenbank_bench_win32 --mode load|read|save|append|close --file PATH [--out PATH]
//                         [--library PATH] [--delete N] [--append-file PATH]
//
// Prints one line of key=value pairs: records=, fields=, load_s=, base_kb= and hwm_kb= (the
// process's working set before the load and its peak after it), commit_kb= (its peak commit
// charge after the load) and seconds= of the mode's operation (for load, the load itself; read
// also prints field_bytes=; append also commit_kb_after=). --delete N deletes record N after the
// load, before the mode's operation; --append-file makes append read PATH instead of --file. The
// library defaults to datenbank.dll next to this program.
#include <windows.h>
// after windows.h, which it needs
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_walk.h"
#include "datenbank.h"

namespace {

using Factory = TMainDB* DB_CALL (*)();

[[noreturn]] void Die(const std::string& message) {
  std::fprintf(stderr, "datenbank_bench_win32: %s\n", message.c_str());
  std::exit(1);
}

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The process's working set now (peak false) or at its peak (peak true), or its peak commit
// charge (commit true), in kB; 0 when unknown.
unsigned long long WorkingSetKb(bool peak, bool commit = false) {
  PROCESS_MEMORY_COUNTERS counters;
  std::memset(&counters, 0, sizeof counters);
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
    return 0;
  }
  if (commit) {
    return static_cast<unsigned long long>(counters.PeakPagefileUsage) / 1024;
  }
  return static_cast<unsigned long long>(peak ? counters.PeakWorkingSetSize
                                              : counters.WorkingSetSize) /
         1024;
}

std::string LibraryNextToProgram() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string program(path, length);
  const std::size_t slash = program.find_last_of("\\/");
  return (slash == std::string::npos ? std::string() : program.substr(0, slash + 1)) +
         "datenbank.dll";
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode;
  std::string file;
  std::string out;
  std::string library;
  std::string appendFile;
  int deleteRecord = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--mode") {
      mode = argv[i + 1];
    } else if (option == "--file") {
      file = argv[i + 1];
    } else if (option == "--out") {
      out = argv[i + 1];
    } else if (option == "--library") {
      library = argv[i + 1];
    } else if (option == "--append-file") {
      appendFile = argv[i + 1];
    } else if (option == "--delete") {
      deleteRecord = std::atoi(argv[i + 1]);
    } else {
      Die("unknown option " + option);
    }
  }
  if (mode.empty() || file.empty() || (mode == "save" && out.empty())) {
    Die("usage: datenbank_bench_win32 --mode load|read|save|append|close --file PATH [--out PATH] "
        "[--library PATH]");
  }
  HMODULE module = LoadLibraryA(library.empty() ? LibraryNextToProgram().c_str() : library.c_str());
  if (module == nullptr) {
    Die("LoadLibraryA failed");
  }
  const FARPROC symbol = GetProcAddress(module, "_CreateDatenbankClassInstance");
  Factory factory = nullptr;
  static_assert(sizeof factory == sizeof symbol, "a function pointer is a function pointer");
  std::memcpy(&factory, &symbol, sizeof factory);
  TMainDB* db = factory != nullptr ? factory() : nullptr;
  if (db == nullptr) {
    Die("no table object");
  }
  db->SetFileName(file.c_str());
  db->SetDelimiter(';');
  int fieldCount = 0;
  DB_BOOL same = 0;
  const unsigned long long baseKb = WorkingSetKb(false);
  double start = Now();
  const int loaded = db->LoadFile(&fieldCount, 0, &same);
  const double loadSeconds = Now() - start;
  if (loaded <= 0) {
    Die("LoadFile gave " + std::to_string(loaded));
  }
  std::printf("mode=%s records=%d fields=%d load_s=%.6f base_kb=%llu hwm_kb=%llu commit_kb=%llu",
              mode.c_str(), loaded, fieldCount, loadSeconds, baseKb, WorkingSetKb(true),
              WorkingSetKb(true, true));
  if (deleteRecord > 0) {
    int at = db->FirstRecord();
    while (at > 0 && at < deleteRecord) {
      at = db->NextRecord();
    }
    if (at != deleteRecord || db->DeleteRecord() < 0) {
      Die("cannot delete record " + std::to_string(deleteRecord));
    }
  }
  double seconds = loadSeconds;
  if (mode == "read") {
    std::vector<char> buffer(4096);
    long records = 0;
    start = Now();
    const int walked = ReadAllFields(db, fieldCount, records, buffer);
    seconds = Now() - start;
    if (walked != dbOK) {
      Die("GetField gave " + std::to_string(walked));
    }
    const auto bytes = static_cast<unsigned long long>(CountFieldBytes(db, fieldCount, buffer));
    std::printf(" field_bytes=%llu", bytes);
  } else if (mode == "save") {
    db->SetFileName(out.c_str());
    start = Now();
    const int saved = db->SaveFile();
    seconds = Now() - start;
    if (saved != loaded) {
      Die("SaveFile gave " + std::to_string(saved));
    }
  } else if (mode == "append") {
    if (!appendFile.empty()) {
      db->SetFileName(appendFile.c_str());
    }
    start = Now();
    const int appended = db->AppendFile(&fieldCount, 0, &same);
    seconds = Now() - start;
    if (appendFile.empty() ? appended != loaded : appended <= 0) {
      Die("AppendFile gave " + std::to_string(appended));
    }
    std::printf(" commit_kb_after=%llu", WorkingSetKb(true, true));
  } else if (mode == "close") {
    start = Now();
    db->CloseTable();
    seconds = Now() - start;
  } else if (mode != "load") {
    Die("unknown mode " + mode);
  }
  std::printf(" seconds=%.6f\n", seconds);
  db->CloseTable();
  db->FreeFileName();
  return 0;
}
