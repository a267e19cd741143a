// datenbank_bench: throughput and memory of the shared library, driven as a host drives it.
//
//   datenbank_bench [--lines N] [--fields N] [--runs N] [--dir PATH] [--library PATH]
//   datenbank_bench --mode load|read|save|append|close|edit --file PATH [--out PATH]
//                   [--library PATH]
//
// Writes a semicolon-delimited file of N lines (default 1,000,000) of N fields (default 10), each
// field 3 to 15 random printable bytes and each line ended by CR LF, so that a save reproduces the
// file byte for byte. Then, in every run, it times LoadFile, one GetField of every field of every
// record (walking the records with FirstRecord/NextRecord), and SaveFile to a second file, and
// checks what it got. Throughput is the file's size in MB (10^6 bytes) divided by the time, for all
// three. The peak resident memory of a load (VmHWM) is taken in a forked child that does nothing
// but load, so the figure is not raised by the generator or by earlier runs.
//
// With --mode the program makes one measurement of an existing file and prints it as one line of
// key=value pairs, for bench/compare.sh, which starts a fresh process for every measurement:
//   load    LoadFile (seconds=), and the peak memory of the load: VmRSS before it (base_kb=) and
//           VmHWM after it (hwm_kb=)
//   read    after the load, one GetField of every field of every record (seconds=, field_bytes=)
//   save    after the load, SaveFile to --out (seconds=, out_bytes=)
//   append  after the load, AppendFile of the same file onto the loaded table (seconds=)
//   close   after the load, CloseTable (seconds=)
//   edit    after the load, 2,000,000 steps of edits and cursor moves in ten rounds (see
//           bench_edit.h): seconds= of all rounds, edit_ops=, edit_first_ns= and edit_last_ns= (per
//           operation in the first and the last round), rss_first_kb= and rss_last_kb=
// Every mode also prints the load's figures (load_s=, base_kb=, hwm_kb=, records=, fields=).
//
// The library is the shared one, loaded with dlopen: DATENBANK_LIBRARY or --library, else the
// library of the build this program belongs to.
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_edit.h"
#include "bench/bench_walk.h"
#include "datenbank.h"

#ifndef DATENBANK_BENCH_LIBRARY
#define DATENBANK_BENCH_LIBRARY "libdatenbank.so"
#endif

// The table object is never destroyed. Holding it here until the process ends keeps its block
// reachable, so leak checkers do not take it for lost.
TMainDB* g_table = nullptr;

namespace {

using Factory = TMainDB* DB_CALL (*)();
using Clock = std::chrono::steady_clock;

struct Options {
  long lines = 1000000;
  int fields = 10;
  int runs = 5;
  std::string dir;
  std::string library;
  std::string mode;  // empty: the generating benchmark above; else one measurement of --file
  std::string file;
  std::string out;
};

struct Generated {
  std::uint64_t fileBytes = 0;
  std::uint64_t fieldBytes = 0;
};

// What a failed run removes before it exits: the files it wrote, then the directory it made.
std::vector<std::filesystem::path> g_cleanup;

void CleanUp() {
  std::error_code ignored;
  for (const auto& path : g_cleanup) {
    std::filesystem::remove(path, ignored);
  }
}

[[noreturn]] void Die(const std::string& message) {
  std::cerr << "datenbank_bench: " << message << '\n';
  CleanUp();
  std::exit(1);
}

long ParsePositive(const char* text, const char* option) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 1) {
    Die(std::string(option) + " needs a positive number, not \"" + text + "\"");
  }
  return value;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (i + 1 >= argc) {
      Die("usage: datenbank_bench [--lines N] [--fields N] [--runs N] [--dir PATH] "
          "[--library PATH]\n       datenbank_bench --mode load|read|save|append|close|edit --file "
          "PATH "
          "[--out PATH] [--library PATH]");
    }
    const char* value = argv[++i];
    if (option == "--lines") {
      options.lines = ParsePositive(value, "--lines");
    } else if (option == "--fields") {
      options.fields = static_cast<int>(std::min(ParsePositive(value, "--fields"), 100000L));
    } else if (option == "--runs") {
      options.runs = static_cast<int>(std::min(ParsePositive(value, "--runs"), 1000L));
    } else if (option == "--dir") {
      options.dir = value;
    } else if (option == "--library") {
      options.library = value;
    } else if (option == "--mode") {
      options.mode = value;
    } else if (option == "--file") {
      options.file = value;
    } else if (option == "--out") {
      options.out = value;
    } else {
      Die("unknown option " + option);
    }
  }
  if (!options.mode.empty()) {
    if (options.mode != "load" && options.mode != "read" && options.mode != "save" &&
        options.mode != "append" && options.mode != "close" && options.mode != "edit") {
      Die("unknown mode " + options.mode);
    }
    if (options.file.empty() || (options.mode == "save" && options.out.empty())) {
      Die("--mode needs --file, and --mode save also --out");
    }
  }
  return options;
}

// Random printable ASCII bytes without the delimiter: no byte the loader treats specially.
Generated GenerateFile(const std::string& path, const Options& options) {
  // A fixed seed: every invocation measures the same file.
  std::mt19937_64 random(20240601U);  // NOLINT(cert-msc32-c,cert-msc51-cpp)
  std::uniform_int_distribution<int> length(3, 15);
  std::uniform_int_distribution<int> byte(0x21, 0x7E);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    Die("cannot create " + path);
  }
  Generated generated;
  std::string block;
  constexpr std::size_t kBlock = std::size_t{1} << 22;
  block.reserve(kBlock + 4096);
  for (long line = 0; line < options.lines; ++line) {
    for (int field = 0; field < options.fields; ++field) {
      if (field > 0) {
        block += ';';
      }
      const int n = length(random);
      for (int k = 0; k < n; ++k) {
        int c = byte(random);
        while (c == ';') {
          c = byte(random);
        }
        block += static_cast<char>(c);
      }
      generated.fieldBytes += static_cast<std::uint64_t>(n);
    }
    block += "\r\n";
    if (block.size() >= kBlock) {
      generated.fileBytes += std::fwrite(block.data(), 1, block.size(), file);
      block.clear();
    }
  }
  generated.fileBytes += std::fwrite(block.data(), 1, block.size(), file);
  if (std::fclose(file) != 0 || generated.fileBytes != std::filesystem::file_size(path)) {
    Die("cannot write " + path);
  }
  return generated;
}

// A value in kB from /proc/self/status ("VmHWM", "VmRSS"); -1 when it is not there.
long StatusKb(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(status, line)) {
    if (line.compare(0, prefix.size(), prefix) == 0) {
      return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    }
  }
  return -1;
}

std::string Message(TMainDB* db, int code) {
  char buffer[DB_MESSAGE_BUFFER_SIZE];
  if (db->GetErrorText(code, buffer, sizeof buffer) != 0) {
    return "code " + std::to_string(code);
  }
  return buffer;  // Windows-1252; only for error output
}

int Load(TMainDB* db, const std::string& path, int& fieldCount, DB_BOOL& same) {
  if (db->SetFileName(path.c_str()) != 1 || db->SetDelimiter(';') != 1) {
    Die("SetFileName failed");
  }
  fieldCount = 0;
  same = 0;
  return db->LoadFile(&fieldCount, 0, &same);
}

struct PeakMemory {
  long baselineKb = -1;  // VmRSS just before LoadFile
  long peakKb = -1;      // VmHWM just after LoadFile
};

// Loads the file once in a forked child and reports the child's peak resident memory.
PeakMemory MeasurePeak(Factory factory, const std::string& path) {
  int fds[2];
  if (pipe(fds) != 0) {
    Die("pipe failed");
  }
  const pid_t child = fork();
  if (child < 0) {
    Die("fork failed");
  }
  if (child == 0) {
    close(fds[0]);
    PeakMemory peak;
    TMainDB* db = factory();
    int fieldCount = 0;
    DB_BOOL same = 0;
    if (db != nullptr) {
      peak.baselineKb = StatusKb("VmRSS");
      if (Load(db, path, fieldCount, same) > 0) {
        peak.peakKb = StatusKb("VmHWM");
      }
    }
    const ssize_t written = write(fds[1], &peak, sizeof peak);
    _exit(written == static_cast<ssize_t>(sizeof peak) ? 0 : 1);
  }
  close(fds[1]);
  PeakMemory peak;
  const ssize_t got = read(fds[0], &peak, sizeof peak);
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (got != static_cast<ssize_t>(sizeof peak) || peak.peakKb < 0) {
    Die("the measuring child did not load the file");
  }
  return peak;
}

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool SameBytes(const std::string& a, const std::string& b) {
  std::ifstream fa(a, std::ios::binary);
  std::ifstream fb(b, std::ios::binary);
  std::vector<char> ba(std::size_t{1} << 20);
  std::vector<char> bb(ba.size());
  while (fa && fb) {
    fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
    fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
    if (fa.gcount() != fb.gcount() ||
        std::memcmp(ba.data(), bb.data(), static_cast<std::size_t>(fa.gcount())) != 0) {
      return false;
    }
  }
  return !fa && !fb;
}
struct RunTimes {
  double load = 0;
  double walk = 0;
  double save = 0;
};

RunTimes Run(TMainDB* db, const std::string& input, const std::string& output,
             const Options& options, const Generated& generated, bool compare) {
  RunTimes times;
  int fieldCount = 0;
  DB_BOOL same = 0;
  auto start = Clock::now();
  const int loaded = Load(db, input, fieldCount, same);
  times.load = Seconds(start);
  if (loaded != options.lines || fieldCount != options.fields || same != 1) {
    Die("LoadFile gave " + std::to_string(loaded) + " (" + Message(db, loaded) + "), " +
        std::to_string(fieldCount) + " fields");
  }

  std::vector<char> buffer(64);
  long records = 0;
  start = Clock::now();
  const int walked = ReadAllFields(db, fieldCount, records, buffer);
  times.walk = Seconds(start);
  if (walked != dbOK) {
    Die("GetField gave " + std::to_string(walked) + " (" + Message(db, walked) + ")");
  }
  const std::uint64_t delivered = CountFieldBytes(db, fieldCount, buffer);
  if (records != options.lines || delivered != generated.fieldBytes) {
    Die("the walk met " + std::to_string(records) + " records and " + std::to_string(delivered) +
        " field bytes");
  }

  if (db->SetFileName(output.c_str()) != 1) {
    Die("SetFileName failed");
  }
  start = Clock::now();
  const int saved = db->SaveFile();
  times.save = Seconds(start);
  if (saved != options.lines || std::filesystem::file_size(output) != generated.fileBytes) {
    Die("SaveFile gave " + std::to_string(saved) + " (" + Message(db, saved) + ")");
  }
  if (compare && !SameBytes(input, output)) {
    Die("the saved file differs from the loaded one");
  }
  db->CloseTable();
  return times;
}

// One measurement of --file in this process (see the top of this file); prints one line.
int RunMode(Factory factory, const Options& options) {
  g_table = factory();
  TMainDB* db = g_table;
  if (db == nullptr) {
    Die("no table object");
  }
  int fieldCount = 0;
  DB_BOOL same = 0;
  const long baseKb = StatusKb("VmRSS");
  auto start = Clock::now();
  const int loaded = Load(db, options.file, fieldCount, same);
  const double loadSeconds = Seconds(start);
  const long hwmKb = StatusKb("VmHWM");
  if (loaded <= 0) {
    Die("LoadFile gave " + std::to_string(loaded) + " (" + Message(db, loaded) + ")");
  }
  std::printf("mode=%s records=%d fields=%d load_s=%.6f base_kb=%ld hwm_kb=%ld",
              options.mode.c_str(), loaded, fieldCount, loadSeconds, baseKb, hwmKb);
  double seconds = loadSeconds;
  if (options.mode == "read") {
    long records = 0;
    std::vector<char> buffer(4096);
    start = Clock::now();
    const int walked = ReadAllFields(db, fieldCount, records, buffer);
    seconds = Seconds(start);
    if (walked != dbOK) {
      Die("GetField gave " + std::to_string(walked) + " (" + Message(db, walked) + ")");
    }
    const std::uint64_t delivered = CountFieldBytes(db, fieldCount, buffer);
    if (records != loaded) {
      Die("the walk met " + std::to_string(records) + " records");
    }
    std::printf(" field_bytes=%llu", static_cast<unsigned long long>(delivered));
  } else if (options.mode == "save") {
    if (db->SetFileName(options.out.c_str()) != 1) {
      Die("SetFileName failed");
    }
    start = Clock::now();
    const int saved = db->SaveFile();
    seconds = Seconds(start);
    if (saved != loaded) {
      Die("SaveFile gave " + std::to_string(saved) + " (" + Message(db, saved) + ")");
    }
    std::printf(" out_bytes=%llu",
                static_cast<unsigned long long>(std::filesystem::file_size(options.out)));
  } else if (options.mode == "append") {
    int appendedFields = 0;
    DB_BOOL appendedSame = 0;
    start = Clock::now();
    const int appended = db->AppendFile(&appendedFields, 0, &appendedSame);
    seconds = Seconds(start);
    if (appended != loaded || db->GetRecordCount() != 2 * loaded) {
      Die("AppendFile gave " + std::to_string(appended) + " (" + Message(db, appended) + ")");
    }
    std::printf(" appended=%d", appended);
  } else if (options.mode == "close") {
    start = Clock::now();
    const DB_BOOL closed = db->CloseTable();
    seconds = Seconds(start);
    if (closed != 1 || db->GetRecordCount() != dbErrNotOpen) {
      Die("CloseTable left the table open");
    }
  } else if (options.mode == "edit") {
    const TEditFigures edits = RunEdits(db, loaded, fieldCount, 10, 200000, StatusKb);
    if (!edits.problem.empty()) {
      Die("edits: " + edits.problem);
    }
    seconds = edits.seconds;
  }
  std::printf(" seconds=%.6f\n", seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options = ParseOptions(argc, argv);
  if (options.library.empty()) {
    const char* configured = std::getenv("DATENBANK_LIBRARY");
    options.library =
        configured != nullptr && *configured != '\0' ? configured : DATENBANK_BENCH_LIBRARY;
  }
  void* library = dlopen(options.library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    Die(std::string("dlopen: ") + dlerror());
  }
  void* symbol = dlsym(library, "_CreateDatenbankClassInstance");
  if (symbol == nullptr) {
    Die(options.library + " does not export _CreateDatenbankClassInstance");
  }
  const auto factory = reinterpret_cast<Factory>(symbol);
  if (!options.mode.empty()) {
    return RunMode(factory, options);
  }

  std::filesystem::path dir;
  bool ownDir = false;
  if (options.dir.empty()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "datenbank_bench.XXXXXX");
    if (mkdtemp(pattern.data()) == nullptr) {
      Die("mkdtemp failed");
    }
    dir = pattern;
    ownDir = true;
  } else {
    dir = options.dir;
    std::filesystem::create_directories(dir);
  }
  const std::string input = (dir / "bench_input.csv").string();
  const std::string output = (dir / "bench_output.csv").string();
  g_cleanup = {input, output};
  if (ownDir) {
    g_cleanup.push_back(dir);
  }

  std::cout << "Generating " << options.lines << " lines x " << options.fields << " fields in "
            << input << " ..." << std::endl;
  const Generated generated = GenerateFile(input, options);
  const double megabytes = static_cast<double>(generated.fileBytes) / 1e6;
  std::cout << "File: " << generated.fileBytes << " bytes (" << megabytes << " MB)\n";

  const PeakMemory peak = MeasurePeak(factory, input);

  g_table = factory();
  TMainDB* db = g_table;
  if (db == nullptr) {
    Die("no table object");
  }
  std::vector<double> load;
  std::vector<double> walk;
  std::vector<double> save;
  for (int run = 1; run <= options.runs; ++run) {
    const RunTimes times = Run(db, input, output, options, generated, run == 1);
    load.push_back(megabytes / times.load);
    walk.push_back(megabytes / times.walk);
    save.push_back(megabytes / times.save);
    std::printf("run %d: LoadFile %.3f s, GetField walk %.3f s, SaveFile %.3f s\n", run, times.load,
                times.walk, times.save);
  }
  db->FreeFileName();

  const auto row = [](const char* name, const std::vector<double>& values) {
    std::printf("| %s | %.1f | %.1f | %.1f |\n", name, Median(values),
                *std::min_element(values.begin(), values.end()),
                *std::max_element(values.begin(), values.end()));
  };
  std::printf("\n%ld lines x %d fields, %.1f MB, %d runs\n\n", options.lines, options.fields,
              megabytes, options.runs);
  std::printf("| Operation | median MB/s | min MB/s | max MB/s |\n|---|---|---|---|\n");
  row("LoadFile", load);
  row("GetField, every field once", walk);
  row("SaveFile", save);
  const double peakBytes = static_cast<double>(peak.peakKb) * 1024.0;
  const double baseBytes = static_cast<double>(peak.baselineKb) * 1024.0;
  const double fileBytes = static_cast<double>(generated.fileBytes);
  std::printf(
      "\n| Peak resident memory after LoadFile (VmHWM) | %.1f MB | %.2f x file size |\n"
      "|---|---|---|\n"
      "| of which the loaded table (VmHWM - VmRSS before the load) | %.1f MB | %.2f x file size "
      "|\n",
      peakBytes / 1e6, peakBytes / fileBytes, (peakBytes - baseBytes) / 1e6,
      (peakBytes - baseBytes) / fileBytes);

  CleanUp();
  return 0;
}
