// bench_peer_ofstream FILE OUT [--fsync]: the plain writer the module's SaveFile is compared with.
// Reads FILE into one vector of strings per record (untimed), then times writing that table to
// OUT through a std::ofstream: every field with <<, ';' between fields, "\r\n" after each record,
// up to and including close. With --fsync the time also covers an fsync of OUT afterwards, for a
// comparison with a save that makes its file durable.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "peer_common.h"

namespace {

// A line feed ends the line, a trailing CR is dropped, ';' separates fields.
peer::Table Read(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    peer::Die("bench_peer_ofstream", std::string("cannot open ") + path);
  }
  peer::Table table;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    std::vector<std::string> record;
    std::size_t begin = 0;
    for (;;) {
      const std::size_t end = line.find(';', begin);
      record.emplace_back(line, begin, end == std::string::npos ? std::string::npos : end - begin);
      if (end == std::string::npos) {
        break;
      }
      begin = end + 1;
    }
    table.push_back(std::move(record));
  }
  return table;
}

void Write(const peer::Table& table, const char* path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const auto& record : table) {
    for (std::size_t i = 0; i < record.size(); ++i) {
      if (i > 0) {
        out << ';';
      }
      out << record[i];
    }
    out << "\r\n";
  }
  out.close();
  if (!out) {
    peer::Die("bench_peer_ofstream", std::string("cannot write ") + path);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool sync = argc == 4 && std::string(argv[3]) == "--fsync";
  if (argc != 3 && !sync) {
    peer::Die("bench_peer_ofstream", "usage: bench_peer_ofstream FILE OUT [--fsync]");
  }
  const peer::Table table = Read(argv[1]);
  const auto start = peer::Clock::now();
  Write(table, argv[2]);
  if (sync) {
    const int fd = open(argv[2], O_WRONLY | O_CLOEXEC);
    if (fd < 0 || fsync(fd) != 0) {
      peer::Die("bench_peer_ofstream", std::string("cannot sync ") + argv[2]);
    }
    close(fd);
  }
  const double seconds = peer::Seconds(start);
  std::printf("seconds=%.6f ", seconds);
  peer::PrintTable(table);
  std::printf("\n");
  return 0;
}
