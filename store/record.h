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
