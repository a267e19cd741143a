#include "fuzz/format_model.h"

#include <cstdio>
#include <utility>

#include "fuzz/fuzz_support.h"

namespace {

constexpr char kLineFeed = '\n';
constexpr char kCarriageReturn = '\r';

// The stored form of a field's bytes: every CR dropped, cut at the first NUL.
std::string StoredText(const std::string& bytes) {
  std::string text;
  for (const char c : bytes) {
    if (c == '\0') {
      break;
    }
    if (c != kCarriageReturn) {
      text += c;
    }
  }
  return text;
}

// The pieces of a line between delimiters. The line feed that ends the line is not part of it.
std::vector<std::string> SplitFields(const std::string& line, char delimiter) {
  std::vector<std::string> pieces(1);
  for (const char c : line) {
    if (c == delimiter) {
      pieces.emplace_back();
    } else {
      pieces.back() += c;
    }
  }
  return pieces;
}

// Every line feed ends a line; bytes after the last one form a last line without a line end.
// Calls line(begin, end, ended) for each line, the line feed left out.
template <typename LineFunction>
void ForEachLine(const std::string& bytes, LineFunction line) {
  std::size_t begin = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == kLineFeed) {
      line(begin, i, true);
      begin = i + 1;
    }
  }
  if (begin < bytes.size()) {
    line(begin, bytes.size(), false);
  }
}

}  // namespace

TModelFile MeasureModel(const std::string& bytes, char delimiter) {
  TModelFile model;
  if (bytes.empty()) {
    return model;
  }
  model.empty = false;
  // Field counts as the count pass takes them: one more than the line's delimiters. A line feed
  // used as the delimiter is counted as a delimiter of the line it starts, so every line after the
  // first then counts one field more than it holds.
  int firstLineFields = 0;
  ForEachLine(bytes, [&](std::size_t begin, std::size_t end, bool ended) {
    int fields = 1;
    for (std::size_t i = begin; i < end; ++i) {
      fields += bytes[i] == delimiter ? 1 : 0;
    }
    if (delimiter == kLineFeed && model.lineCount > 0) {
      ++fields;
    }
    if (model.lineCount == 0) {
      firstLineFields = fields;
    }
    if (ended && fields != firstLineFields) {
      model.consistent = false;
    }
    if (fields > model.maxFieldCount) {
      model.maxFieldCount = fields;
    }
    ++model.lineCount;
  });
  return model;
}

TModelFile ReadModel(const std::string& bytes, char delimiter) {
  TModelFile model = MeasureModel(bytes, delimiter);
  if (model.empty) {
    return model;
  }
  model.records.reserve(static_cast<std::size_t>(model.lineCount));
  // One record per line. In a line ended by a line feed every field is stored, empty ones as the
  // empty text; in a last line without one, an empty last field stays absent. Fields past a line's
  // own stay absent.
  ForEachLine(bytes, [&](std::size_t begin, std::size_t end, bool ended) {
    TModelRecord record(static_cast<std::size_t>(model.maxFieldCount));
    const std::vector<std::string> pieces =
        SplitFields(bytes.substr(begin, end - begin), delimiter);
    FUZZ_CHECK(pieces.size() <= record.size(), "model: a line of %zu fields, %d counted",
               pieces.size(), model.maxFieldCount);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      std::string stored = StoredText(pieces[i]);
      const bool last = i + 1 == pieces.size();
      if (ended || !last || !stored.empty()) {
        record[i] = std::move(stored);
      }
    }
    model.records.push_back(std::move(record));
  });
  return model;
}

std::string WriteModel(const std::vector<TModelRecord>& records, int fieldCount, char delimiter) {
  std::string bytes;
  for (const TModelRecord& record : records) {
    for (int i = 0; i < fieldCount; ++i) {
      const TModelField& field = record[static_cast<std::size_t>(i)];
      if (field) {
        bytes += *field;
      }
      if (i < fieldCount - 1) {
        bytes += delimiter;
      }
    }
    bytes += "\r\n";
  }
  return bytes;
}

std::string Describe(const TModelField& field) {
  if (!field) {
    return "(absent)";
  }
  std::string shown = "\"";
  for (const char c : *field) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\') {
      char escaped[8];
      (void)std::snprintf(escaped, sizeof(escaped), "\\x%02X", byte);
      shown += escaped;
    } else {
      shown += c;
    }
  }
  return shown + "\"";
}
