// Reading every field of a loaded table as a host does, for both benchmark programs.
#ifndef OVELT_BENCH_BENCH_WALK_H
#define OVELT_BENCH_BENCH_WALK_H

#include <cstdint>
#include <cstring>
#include <vector>

#include "datenbank.h"

// Copies every field of every record out once, walking with FirstRecord/NextRecord; the buffer
// grows when GetField reports a longer text. Only the calls are in the walk: CountFieldBytes
// counts the bytes afterwards. dbOK, or the first result of GetField that is neither 0 nor a
// length; records receives the records walked.
inline int ReadAllFields(TMainDB* db, int fieldCount, long& records, std::vector<char>& buffer) {
  records = 0;
  for (int position = db->FirstRecord(); position > 0; position = db->NextRecord()) {
    ++records;
    for (int field = 0; field < fieldCount; ++field) {
      int result = db->GetField(field, buffer.data(), static_cast<unsigned>(buffer.size()));
      if (result > 0) {
        buffer.resize(static_cast<std::size_t>(result) + 1);
        result = db->GetField(field, buffer.data(), static_cast<unsigned>(buffer.size()));
      }
      if (result != 0) {
        return result;
      }
    }
  }
  return dbOK;
}

// The bytes of field text GetField delivers for the whole table, into a buffer that ReadAllFields
// has made large enough for every text.
inline std::uint64_t CountFieldBytes(TMainDB* db, int fieldCount, std::vector<char>& buffer) {
  std::uint64_t delivered = 0;
  for (int position = db->FirstRecord(); position > 0; position = db->NextRecord()) {
    for (int field = 0; field < fieldCount; ++field) {
      if (db->GetField(field, buffer.data(), static_cast<unsigned>(buffer.size())) == 0) {
        delivered += std::strlen(buffer.data());
      }
    }
  }
  return delivered;
}

#endif  // OVELT_BENCH_BENCH_WALK_H
