// csv_fuzzer: the RFC 4180 reader of the datenbank tool's import, and its CSV writer.
//
// The first byte picks the reader's block size (4 to 131 bytes), the rest is the input. Checks:
//  - the reader never reads past its input, and after an error it stays at the end;
//  - the same input read in blocks of 64 KiB gives the same records, or the same error;
//  - records that were read, written again with the export's field writer (bytes unconverted)
//    and read once more, come back exactly;
//  - the one-pass writer of stored texts writes every field as the field writer does, in each
//    form and encoding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tools/datenbank/csv_reader.h"
#include "tools/datenbank/encoding.h"

namespace {

using datenbank_tool::CsvReader;

struct Reading {
  std::vector<std::vector<std::string>> records;
  std::vector<long long> lines;
  bool failed = false;
  std::string problem;
};

// Reads all of input in blocks of blockSize, as fread hands them over.
Reading Read(std::string_view input, std::size_t blockSize) {
  std::size_t offset = 0;
  CsvReader reader(
      [&](char* buffer, std::size_t size) {
        const std::size_t count = std::min(size, input.size() - offset);
        std::memcpy(buffer, input.data() + offset, count);
        offset += count;
        return count;
      },
      blockSize);
  Reading reading;
  std::vector<std::string> fields;
  for (;;) {
    const CsvReader::Result result = reader.Next(fields, reading.problem);
    if (result == CsvReader::Result::kEnd) {
      break;
    }
    if (result == CsvReader::Result::kError) {
      reading.failed = true;
      std::string after;
      if (reader.Next(fields, after) != CsvReader::Result::kEnd || !fields.empty()) {
        std::abort();  // a reader that failed must stay at the end
      }
      break;
    }
    reading.records.push_back(fields);
    reading.lines.push_back(reader.Line());
  }
  return reading;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::size_t blockSize = 4 + data[0] % 128;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);

  const Reading small = Read(input, blockSize);
  const Reading large = Read(input, 64 * 1024);
  if (small.records != large.records || small.lines != large.lines ||
      small.failed != large.failed || small.problem != large.problem) {
    std::abort();
  }
  if (small.failed) {
    return 0;
  }

  std::string written;
  const datenbank_tool::TextMode bytes{datenbank_tool::Encoding::kCp1252, true};
  for (const auto& record : small.records) {
    const std::size_t start = written.size();
    for (std::size_t i = 0; i < record.size(); ++i) {
      if (i > 0) {
        written += ',';
      }
      datenbank_tool::AppendField(written, record[i], bytes, datenbank_tool::FieldForm::kCsv);
      // The one-pass writer of stored texts (which hold no NUL) must write the same, in every
      // form and encoding.
      if (record[i].find('\0') == std::string::npos) {
        for (const auto form : {datenbank_tool::FieldForm::kCsv, datenbank_tool::FieldForm::kTsv,
                                datenbank_tool::FieldForm::kJson}) {
          for (const auto encoding :
               {datenbank_tool::Encoding::kCp1252, datenbank_tool::Encoding::kUtf8,
                datenbank_tool::Encoding::kLatin1}) {
            const datenbank_tool::TextMode mode{encoding, false};
            std::string whole;
            std::string stored;
            const std::size_t a = datenbank_tool::AppendField(whole, record[i], mode, form);
            const std::size_t b =
                datenbank_tool::AppendStoredField(stored, record[i].c_str(), mode, form);
            if (a != b || whole != stored) {
              std::abort();
            }
          }
        }
      }
    }
    datenbank_tool::EndCsvRecord(written, start);
  }
  const Reading again = Read(written, blockSize);
  if (again.failed || again.records != small.records) {
    std::abort();
  }
  return 0;
}
