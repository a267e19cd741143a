// What the peer programs of bench/compare.sh share: the clock, the process's memory figures, and
// the table every C++ peer loads into (one vector of field strings per record).
#ifndef DATENBANK_BENCH_PEER_COMMON_H
#define DATENBANK_BENCH_PEER_COMMON_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace peer {

using Table = std::vector<std::vector<std::string>>;
using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A value in kB from /proc/self/status ("VmRSS", "VmHWM"); -1 when it is not there. Read with
// stdio, so that reading it allocates nothing worth counting.
inline long StatusKb(const char* key) {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) {
    return -1;
  }
  char line[256];
  const std::size_t keyLength = std::strlen(key);
  long value = -1;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, key, keyLength) == 0 && line[keyLength] == ':') {
      value = std::strtol(line + keyLength + 1, nullptr, 10);
      break;
    }
  }
  (void)std::fclose(status);
  return value;
}

// The figures every loading peer prints: the records, the widest record, and the bytes of field
// text it holds, so that the driver can check the load against what the generator wrote.
inline void PrintTable(const Table& table) {
  std::size_t fields = 0;
  std::uint64_t fieldBytes = 0;
  for (const auto& record : table) {
    fields = record.size() > fields ? record.size() : fields;
    for (const auto& field : record) {
      fieldBytes += field.size();
    }
  }
  std::printf("records=%zu fields=%zu field_bytes=%llu", table.size(), fields,
              static_cast<unsigned long long>(fieldBytes));
}

[[noreturn]] inline void Die(const char* program, const std::string& message) {
  (void)std::fprintf(stderr, "%s: %s\n", program, message.c_str());
  std::exit(1);
}

}  // namespace peer

#endif  // DATENBANK_BENCH_PEER_COMMON_H
