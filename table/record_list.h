// Internal. The record node and the few operations that make, fill and release records.
//
// A record owns its node, its field array of exactly the table's field count and every non-null
// text in it. A null entry is an absent field, distinct from the empty text.
#ifndef OVELT_TABLE_RECORD_LIST_H
#define OVELT_TABLE_RECORD_LIST_H

#include <cstddef>

#include "table/allocator.h"

struct TRecordNode {
  TRecordNode* Next;
  TRecordNode* Prev;
  char** Fields;
};

// A new record, unlinked, with fieldCount absent fields; null (and nothing left allocated) when
// memory runs out or fieldCount is negative.
TRecordNode* NewRecord(TAllocator& allocator, int fieldCount) noexcept;

// Releases the record's texts, its field array and the node.
void FreeRecord(TAllocator& allocator, TRecordNode* record, int fieldCount) noexcept;

// Releases last and every record before it, following Prev.
void FreeRecordsBackwards(TAllocator& allocator, TRecordNode* last, int fieldCount) noexcept;

// A NUL-terminated copy of the length bytes at text, or null when memory runs out.
char* CopyText(TAllocator& allocator, const char* text, std::size_t length) noexcept;

// Records linked in order, detached from any table while a loader builds them.
struct TRecordChain {
  TRecordNode* first = nullptr;
  TRecordNode* last = nullptr;
  int count = 0;

  // Links record after last.
  void Append(TRecordNode* record) noexcept;
};

#endif  // OVELT_TABLE_RECORD_LIST_H
