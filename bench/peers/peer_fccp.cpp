// bench_peer_fccp FILE FIELDS: loads FILE with fast-cpp-csv-parser (io::CSVReader, no quoting,
// ';' between fields, nothing trimmed) into one vector of strings per record, and prints the load
// time, the process's VmRSS before and VmHWM after the load, and what it loaded.
//
// The reader's column count is a template argument, so the counts 1 to kMaxFields are built in.
// GCC sees the header's strncpy of a file name into its error object only after inlining, where a
// system header no longer silences it.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wstringop-truncation"
#endif
#include <libfccp/csv.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include <cstddef>
#include <cstdio>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "peer_common.h"

namespace {

constexpr std::size_t kMaxFields = 12;

template <unsigned N>
using Reader = io::CSVReader<N, io::trim_chars<>, io::no_quote_escape<';'>>;

template <unsigned N, std::size_t... I>
bool ReadRow(Reader<N>& reader, std::vector<std::string>& row, std::index_sequence<I...> /*i*/) {
  return reader.read_row(row[I]...);
}

template <unsigned N>
peer::Table Load(const char* path) {
  Reader<N> reader(path);
  peer::Table table;
  for (;;) {
    std::vector<std::string> row(N);
    if (!ReadRow<N>(reader, row, std::make_index_sequence<N>{})) {
      break;
    }
    table.push_back(std::move(row));
  }
  return table;
}

template <std::size_t... K>
bool LoadWithCount(std::size_t fields, const char* path, peer::Table& table,
                   std::index_sequence<K...> /*k*/) {
  return ((fields == K + 1 && (table = Load<static_cast<unsigned>(K + 1)>(path), true)) || ...);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    peer::Die("bench_peer_fccp", "usage: bench_peer_fccp FILE FIELDS");
  }
  const std::size_t fields = std::strtoul(argv[2], nullptr, 10);
  if (fields < 1 || fields > kMaxFields) {
    peer::Die("bench_peer_fccp", "FIELDS must be 1 to " + std::to_string(kMaxFields));
  }
  const long baseKb = peer::StatusKb("VmRSS");
  peer::Table table;
  const auto start = peer::Clock::now();
  try {
    LoadWithCount(fields, argv[1], table, std::make_index_sequence<kMaxFields>{});
  } catch (const std::exception& error) {
    peer::Die("bench_peer_fccp", error.what());
  }
  const double seconds = peer::Seconds(start);
  const long hwmKb = peer::StatusKb("VmHWM");
  std::printf("seconds=%.6f base_kb=%ld hwm_kb=%ld ", seconds, baseKb, hwmKb);
  peer::PrintTable(table);
  std::printf("\n");
  return 0;
}
