// Fuzz support: the delimited file format read straight from its rules, line by line and field by
// field, without blocks, passes or scratch buffers; and the bytes a save must produce. The fuzz
// targets hold the module's loaders and writer against these.
#ifndef OVELT_FUZZ_FORMAT_MODEL_H
#define OVELT_FUZZ_FORMAT_MODEL_H

#include <optional>
#include <string>
#include <vector>

// A field: absent (no value), or its text, which may be empty.
using TModelField = std::optional<std::string>;
using TModelRecord = std::vector<TModelField>;

struct TModelFile {
  bool empty = true;  // zero bytes: a load reads nothing
  int lineCount = 0;
  int maxFieldCount = 0;
  // Every line ended by a line feed has the field count of the first line.
  bool consistent = true;
  // One record per line, each of maxFieldCount fields.
  std::vector<TModelRecord> records;
};

// What a load of these file bytes with this delimiter yields.
TModelFile ReadModel(const std::string& bytes, char delimiter);
// The same without the records: the counts only, at no cost beyond one look at every byte.
TModelFile MeasureModel(const std::string& bytes, char delimiter);

// The bytes a save of these records writes: per record the field texts (an absent field gives no
// bytes), the delimiter between consecutive fields, then CR LF.
std::string WriteModel(const std::vector<TModelRecord>& records, int fieldCount, char delimiter);

// Printable form of a field, for failure messages.
std::string Describe(const TModelField& field);

#endif  // OVELT_FUZZ_FORMAT_MODEL_H
