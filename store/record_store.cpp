// Records, chunks and the blocks of their own that records and texts may be.
#include "store/record_store.h"

#include <limits>

#include "primitives/text_window.h"
#include "store/text_block.h"

namespace {

// Chunks start small, so a small table stays small, and double up to this size.
constexpr std::size_t kFirstChunkBytes = std::size_t{4} * 1024;
constexpr std::size_t kLargestChunkBytes =
    std::size_t{1} * 1024 * 1024 - 64;  // a MiB with the header

// A chunk's block: the header, the capacity, and a window's worth of bytes after it, so that even a
// text at the very end of the capacity has its window inside the block.
std::size_t ChunkBlockBytes(std::size_t capacity) noexcept {
  return sizeof(TChunk) + capacity + kTextWindow;
}

// Chunks this large come from the allocator's large blocks.
bool IsLarge(std::size_t capacity) noexcept {
  return capacity >= kLargestChunkBytes;
}

}  // namespace

std::size_t RecordBytes(std::int64_t fieldCount) noexcept {
  constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
  if (fieldCount < 0 ||
      static_cast<std::uint64_t>(fieldCount) > (kMax - sizeof(TRecordNode)) / sizeof(char*)) {
    return 0;
  }
  return sizeof(TRecordNode) + static_cast<std::size_t>(fieldCount) * sizeof(char*);
}

TRecordNode* TRecordStore::NewRecord(int fieldCount) noexcept {
  const std::size_t bytes = RecordBytes(fieldCount);
  auto* record = bytes == 0 ? nullptr : static_cast<TRecordNode*>(FAllocator->Allocate(bytes));
  if (record == nullptr) {
    return nullptr;
  }
  record->Next = nullptr;
  record->Prev = nullptr;
  record->Chunk = nullptr;
  record->ClearFields(fieldCount);
  ++FOwnBlocks;
  return record;
}

bool TRecordStore::OwnsText(const TRecordNode* record, const char* text) noexcept {
  return text != nullptr && (record->Chunk == nullptr || !record->Chunk->Holds(text));
}

void TRecordStore::ReleaseOwnTexts(TRecordNode* record, int fieldCount) noexcept {
  char** fields = record->Fields();
  for (int i = 0; i < fieldCount; ++i) {
    if (OwnsText(record, fields[i])) {
      FAllocator->Release(fields[i]);
      --FOwnBlocks;
    }
  }
}

void TRecordStore::FreeRecord(TRecordNode* record, int fieldCount) noexcept {
  ReleaseOwnTexts(record, fieldCount);
  TChunk* chunk = record->Chunk;
  if (chunk == nullptr) {
    FAllocator->Release(record);
    --FOwnBlocks;
  } else if (--chunk->live == 0) {
    DropChunk(chunk);
  }
}

bool TRecordStore::SetText(TRecordNode* record, int index, const char* text,
                           std::size_t length) noexcept {
  // Whole windows up to the one that holds the NUL, so the text can be read a window at a time.
  const std::size_t windows = length / kTextWindow + 1;
  char* copy = NewTextBlock(*FAllocator, text, length, windows * kTextWindow);
  if (copy == nullptr) {
    return false;
  }
  char*& field = record->Fields()[index];
  if (OwnsText(record, field)) {
    FAllocator->Release(field);
  } else {
    ++FOwnBlocks;
  }
  field = copy;
  return true;
}

void TRecordStore::ReleaseAll(TRecordNode* first, int fieldCount) noexcept {
  // A table that was only loaded owns nothing but chunks: no record needs a visit.
  for (TRecordNode* record = first; record != nullptr && FOwnBlocks > 0;) {
    TRecordNode* next = record->Next;
    ReleaseOwnTexts(record, fieldCount);
    if (record->Chunk == nullptr) {
      FAllocator->Release(record);
      --FOwnBlocks;
    }
    record = next;
  }
  ReleaseChunks();
  FNextChunkBytes = 0;
}

void TRecordStore::Adopt(TRecordStore& other) noexcept {
  if (other.FChunks != nullptr) {
    TChunk* last = other.FChunks;
    while (last->next != nullptr) {
      last = last->next;
    }
    last->next = FChunks;
    if (FChunks != nullptr) {
      FChunks->prev = last;
    }
    FChunks = other.FChunks;
  }
  FOwnBlocks += other.FOwnBlocks;
  if (other.FNextChunkBytes > FNextChunkBytes) {
    FNextChunkBytes = other.FNextChunkBytes;
  }
  other.FChunks = nullptr;
  other.FOwnBlocks = 0;
  other.FNextChunkBytes = 0;
}

TChunk* TRecordStore::NewChunk(std::size_t bytes) noexcept {
  std::size_t capacity = FNextChunkBytes < kFirstChunkBytes ? kFirstChunkBytes : FNextChunkBytes;
  if (capacity < bytes) {
    capacity = bytes;
  }
  if (capacity > std::numeric_limits<std::size_t>::max() - sizeof(TChunk) - kTextWindow) {
    return nullptr;
  }
  const std::size_t block = ChunkBlockBytes(capacity);
  auto* chunk = static_cast<TChunk*>(IsLarge(capacity) ? FAllocator->AllocateLarge(block)
                                                       : FAllocator->Allocate(block));
  if (chunk == nullptr) {
    return nullptr;
  }
  chunk->prev = nullptr;
  chunk->next = FChunks;
  if (FChunks != nullptr) {
    FChunks->prev = chunk;
  }
  FChunks = chunk;
  chunk->capacity = capacity;
  chunk->live = 0;
  if (FNextChunkBytes < kLargestChunkBytes) {
    FNextChunkBytes =
        FNextChunkBytes < kFirstChunkBytes ? 2 * kFirstChunkBytes : 2 * FNextChunkBytes;
    if (FNextChunkBytes > kLargestChunkBytes) {
      FNextChunkBytes = kLargestChunkBytes;
    }
  }
  return chunk;
}

void TRecordStore::Expect(std::size_t bytes) noexcept {
  std::size_t size = kFirstChunkBytes;
  while (size < bytes && size < kLargestChunkBytes) {
    size *= 2;
  }
  if (size > kLargestChunkBytes) {
    size = kLargestChunkBytes;
  }
  if (size > FNextChunkBytes) {
    FNextChunkBytes = size;
  }
}

void TRecordStore::DropChunk(TChunk* chunk) noexcept {
  if (chunk->prev != nullptr) {
    chunk->prev->next = chunk->next;
  } else {
    FChunks = chunk->next;
  }
  if (chunk->next != nullptr) {
    chunk->next->prev = chunk->prev;
  }
  FreeChunk(chunk);
}

void TRecordStore::FreeChunk(TChunk* chunk) noexcept {
  if (IsLarge(chunk->capacity)) {
    FAllocator->ReleaseLarge(chunk, ChunkBlockBytes(chunk->capacity));
  } else {
    FAllocator->Release(chunk);
  }
}

void TRecordStore::ReleaseChunks() noexcept {
  while (FChunks != nullptr) {
    TChunk* next = FChunks->next;
    FreeChunk(FChunks);
    FChunks = next;
  }
}
