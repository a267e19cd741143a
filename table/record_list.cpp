// Making, filling and releasing records.
#include "table/record_list.h"

#include <cstring>

TRecordNode* NewRecord(TAllocator& allocator, int fieldCount) noexcept {
  auto* record = static_cast<TRecordNode*>(allocator.Allocate(sizeof(TRecordNode)));
  if (record == nullptr) {
    return nullptr;
  }
  auto* fields = static_cast<char**>(AllocateArray(allocator, fieldCount, sizeof(char*)));
  if (fields == nullptr) {
    allocator.Release(record);
    return nullptr;
  }
  for (int i = 0; i < fieldCount; ++i) {
    fields[i] = nullptr;
  }
  record->Next = nullptr;
  record->Prev = nullptr;
  record->Fields = fields;
  return record;
}

void FreeRecord(TAllocator& allocator, TRecordNode* record, int fieldCount) noexcept {
  for (int i = 0; i < fieldCount; ++i) {
    allocator.Release(record->Fields[i]);
  }
  allocator.Release(record->Fields);
  allocator.Release(record);
}

void FreeRecordsBackwards(TAllocator& allocator, TRecordNode* last, int fieldCount) noexcept {
  while (last != nullptr) {
    TRecordNode* prev = last->Prev;
    FreeRecord(allocator, last, fieldCount);
    last = prev;
  }
}

char* CopyText(TAllocator& allocator, const char* text, std::size_t length) noexcept {
  if (length == static_cast<std::size_t>(-1)) {
    return nullptr;
  }
  auto* copy = static_cast<char*>(allocator.Allocate(length + 1));
  if (copy == nullptr) {
    return nullptr;
  }
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

void TRecordChain::Append(TRecordNode* record) noexcept {
  record->Next = nullptr;
  record->Prev = last;
  if (last != nullptr) {
    last->Next = record;
  } else {
    first = record;
  }
  last = record;
  ++count;
}
