// Reading RFC 4180 CSV for import: records of fields separated by commas and ended by CR LF (a
// lone LF or CR ends one too); a field in double quotes may hold commas, line ends and quotes,
// the last doubled. A quote inside an unquoted field is taken as it is; text after a closing
// quote, and a quote left open at the end, are errors. A UTF-8 byte order mark at the start is
// skipped. The input is read in blocks, so only one record is held at a time.
#ifndef DATENBANK_TOOL_CSV_READER_H
#define DATENBANK_TOOL_CSV_READER_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace datenbank_tool {

class CsvReader {
 public:
  // Fills a buffer and returns the bytes it wrote: all it was asked for except at the end of the
  // input, as fread does; 0 at the end.
  using Source = std::function<std::size_t(char*, std::size_t)>;

  // blockSize: at least 4.
  explicit CsvReader(Source source, std::size_t blockSize = 64 * 1024);

  enum class Result { kRecord, kEnd, kError };
  // The next record's fields. kError with the reason in problem; the reader then stays at the end.
  Result Next(std::vector<std::string>& fields, std::string& problem);

  // The line the last record started on, from 1; also the line an error names.
  long long Line() const { return recordLine_; }

 private:
  int Peek();  // the next byte, or -1 at the end
  void Skip() { ++position_; }

  Source source_;
  std::vector<char> block_;
  std::size_t position_ = 0;
  std::size_t size_ = 0;
  bool atEnd_ = false;
  bool started_ = false;
  long long line_ = 1;
  long long recordLine_ = 1;
};

// Ends a CSV record that began at recordStart in out: a record of one empty field is written as
// "" (an empty line reads as no record in many readers), then CR LF.
void EndCsvRecord(std::string& out, std::size_t recordStart);

}  // namespace datenbank_tool

#endif
