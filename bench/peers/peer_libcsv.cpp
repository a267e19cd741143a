// bench_peer_libcsv FILE: loads FILE with libcsv (csv_parse, ';' between fields, CSV_APPEND_NULL,
// no byte taken for white space) into one vector of strings per record, and prints the load time,
// the process's VmRSS before and VmHWM after the load, and what it loaded.
#include <csv.h>

#include <cstddef>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "peer_common.h"

namespace {

struct Builder {
  peer::Table table;
  std::vector<std::string> record;
};

void OnField(void* text, std::size_t length, void* data) {
  static_cast<Builder*>(data)->record.emplace_back(static_cast<const char*>(text), length);
}

void OnRecordEnd(int /*terminator*/, void* data) {
  auto* builder = static_cast<Builder*>(data);
  const std::size_t width = builder->record.size();
  builder->table.push_back(std::move(builder->record));
  builder->record = std::vector<std::string>();
  builder->record.reserve(width);  // the next record is most likely as wide
}

// By default libcsv trims blanks and tabs around unquoted fields; the module keeps every byte.
int NoSpace(unsigned char /*c*/) {
  return 0;
}

peer::Table Load(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    peer::Die("bench_peer_libcsv", std::string("cannot open ") + path);
  }
  csv_parser parser{};
  if (csv_init(&parser, CSV_APPEND_NULL) != 0) {
    peer::Die("bench_peer_libcsv", "csv_init failed");
  }
  csv_set_delim(&parser, ';');
  csv_set_space_func(&parser, NoSpace);
  Builder builder;
  std::vector<char> block(std::size_t{1} << 16);
  std::size_t got = 0;
  while ((got = std::fread(block.data(), 1, block.size(), file)) > 0) {
    if (csv_parse(&parser, block.data(), got, OnField, OnRecordEnd, &builder) != got) {
      peer::Die("bench_peer_libcsv", csv_strerror(csv_error(&parser)));
    }
  }
  csv_fini(&parser, OnField, OnRecordEnd, &builder);
  csv_free(&parser);
  (void)std::fclose(file);
  return std::move(builder.table);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    peer::Die("bench_peer_libcsv", "usage: bench_peer_libcsv FILE");
  }
  const long baseKb = peer::StatusKb("VmRSS");
  const auto start = peer::Clock::now();
  const peer::Table table = Load(argv[1]);
  const double seconds = peer::Seconds(start);
  const long hwmKb = peer::StatusKb("VmHWM");
  std::printf("seconds=%.6f base_kb=%ld hwm_kb=%ld ", seconds, baseKb, hwmKb);
  peer::PrintTable(table);
  std::printf("\n");
  return 0;
}
