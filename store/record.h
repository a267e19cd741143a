// Internal. A record, and the list operations on records linked both ways.
//
// A record is a node followed directly by its field array of exactly the table's field count; a
// null entry is an absent field, distinct from the empty text. The list functions below are the
// only code that links or unlinks records: a list is given by its two ends, both null when empty.
#ifndef OVELT_STORE_RECORD_H
#define OVELT_STORE_RECORD_H

#include <cstddef>
#include <cstdint>

struct TChunk;

struct TRecordNode {
  TRecordNode* Next;
  TRecordNode* Prev;
  TChunk* Chunk;  // the chunk holding the record, null for a record that is a block of its own

  char** Fields() noexcept { return reinterpret_cast<char**>(this + 1); }
  char* const* Fields() const noexcept { return reinterpret_cast<char* const*>(this + 1); }
  // Makes the first count fields absent.
  void ClearFields(int count) noexcept {
    char** fields = Fields();
    for (int i = 0; i < count; ++i) {
      fields[i] = nullptr;
    }
  }
};

// Bytes of a record with fieldCount fields, node and array, or 0 when that cannot be had.
std::size_t RecordBytes(std::int64_t fieldCount) noexcept;

// Links the records from chainFirst to chainLast, already linked among themselves, after last.
inline void LinkAtEnd(TRecordNode*& first, TRecordNode*& last, TRecordNode* chainFirst,
                      TRecordNode* chainLast) noexcept {
  chainFirst->Prev = last;
  chainLast->Next = nullptr;
  if (last != nullptr) {
    last->Next = chainFirst;
  } else {
    first = chainFirst;
  }
  last = chainLast;
}

// Takes record out of the list; its own links are left as they were.
inline void Unlink(TRecordNode*& first, TRecordNode*& last, const TRecordNode* record) noexcept {
  if (record->Prev != nullptr) {
    record->Prev->Next = record->Next;
  } else {
    first = record->Next;
  }
  if (record->Next != nullptr) {
    record->Next->Prev = record->Prev;
  } else {
    last = record->Prev;
  }
}

// Puts moved, a copy of a record of the list with the same links, in the record's place.
inline void Relink(TRecordNode*& first, TRecordNode*& last, TRecordNode* moved) noexcept {
  if (moved->Prev != nullptr) {
    moved->Prev->Next = moved;
  } else {
    first = moved;
  }
  if (moved->Next != nullptr) {
    moved->Next->Prev = moved;
  } else {
    last = moved;
  }
}

// How far ahead of a walk the records it reaches next are fetched. A loaded file's records lie in
// ascending addresses, each followed by its texts, so a walk that follows the links streams through
// memory; the processor's own prefetching stops at every 4 KiB page, so a walk of short records
// would wait for memory at each page without a hint a page ahead (chosen by measurement: 1, 4 and
// 8 KiB ahead all walk and read faster than none, 4 KiB best overall).
constexpr std::ptrdiff_t kWalkAheadBytes = 4096;

// Hints that a walk from record towards the following (step > 0) or the preceding records will
// soon read the memory kWalkAheadBytes away. Only a hint: nothing is read, any address will do.
inline void WalkAhead(const TRecordNode* record, int step) noexcept {
#if defined(__GNUC__)
  const char* const at = reinterpret_cast<const char*>(record);
  __builtin_prefetch(step > 0 ? at + kWalkAheadBytes : at - kWalkAheadBytes);
#else
  static_cast<void>(record);
  static_cast<void>(step);
#endif
}

// Records linked in order, detached from any table while a loader builds them.
struct TRecordChain {
  TRecordNode* first = nullptr;
  TRecordNode* last = nullptr;
  int count = 0;

  void Append(TRecordNode* record) noexcept {
    LinkAtEnd(first, last, record, record);
    ++count;
  }
};

#endif  // OVELT_STORE_RECORD_H
