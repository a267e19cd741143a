#include "tools/datenbank/csv_reader.h"

namespace datenbank_tool {

CsvReader::CsvReader(Source source, std::size_t blockSize)
    : source_(std::move(source)), block_(blockSize < 4 ? 4 : blockSize) {}

int CsvReader::Peek() {
  if (position_ == size_) {
    if (atEnd_) {
      return -1;
    }
    size_ = source_(block_.data(), block_.size());
    position_ = 0;
    if (size_ == 0) {
      atEnd_ = true;
      return -1;
    }
  }
  return static_cast<unsigned char>(block_[position_]);
}

CsvReader::Result CsvReader::Next(std::vector<std::string>& fields, std::string& problem) {
  fields.clear();
  if (!started_) {
    started_ = true;
    // The source fills whole blocks, and a block holds at least four bytes: the mark, when there,
    // is in the first.
    if (Peek() == 0xEF && size_ >= 3 && static_cast<unsigned char>(block_[1]) == 0xBB &&
        static_cast<unsigned char>(block_[2]) == 0xBF) {
      position_ = 3;
    }
  }
  if (Peek() < 0) {
    return Result::kEnd;
  }
  recordLine_ = line_;
  const auto fail = [&](const std::string& what) {
    problem = "line " + std::to_string(recordLine_) + ", field " +
              std::to_string(fields.size() + 1) + ": " + what;
    atEnd_ = true;
    position_ = size_;
    return Result::kError;
  };
  const auto endLine = [&]() {  // after a CR or LF: a CR LF pair is one line end
    const int c = Peek();
    Skip();
    if (c == '\r' && Peek() == '\n') {
      Skip();
    }
    ++line_;
  };
  std::string text;
  for (;;) {
    text.clear();
    int c = Peek();
    if (c == '"') {
      Skip();
      const long long opened = line_;
      for (;;) {
        c = Peek();
        if (c < 0) {
          return fail("the quote opened on line " + std::to_string(opened) + " is never closed");
        }
        Skip();
        if (c == '"') {
          if (Peek() != '"') {
            break;
          }
          Skip();
        } else if (c == '\n' || (c == '\r' && Peek() != '\n')) {
          ++line_;
        }
        text += static_cast<char>(c);
      }
      c = Peek();
      if (c >= 0 && c != ',' && c != '\r' && c != '\n') {
        return fail("text after the closing quote");
      }
    } else {
      while (c >= 0 && c != ',' && c != '\r' && c != '\n') {
        text += static_cast<char>(c);
        Skip();
        c = Peek();
      }
    }
    fields.push_back(text);
    if (c == ',') {
      Skip();
      continue;
    }
    if (c >= 0) {
      endLine();
    }
    return Result::kRecord;
  }
}

void EndCsvRecord(std::string& out, std::size_t recordStart) {
  if (out.size() == recordStart) {
    out += "\"\"";
  }
  out += "\r\n";
}

}  // namespace datenbank_tool
