// Records, chunks and the blocks of their own that records and texts may be.
#include "store/record_store.h"

#include <cstring>
#include <limits>

#include "primitives/text_window.h"
#include "store/text_block.h"

namespace {

// A chunk's block: the header, the capacity, and a window's worth of bytes after it, so that even a
// text at the very end of the capacity has its window inside the block.
std::size_t ChunkBlockBytes(std::size_t capacity) noexcept {
  return sizeof(TChunk) + capacity + kTextWindow;
}

// Blocks this large come from the allocator's large blocks (on Linux mapped with their pages
// present, and unmapped when released): a chunk is written from end to end right away.
constexpr std::size_t kLargeBlockBytes = std::size_t{64} * 1024;

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
  const std::size_t block = (length / kTextWindow + 1) * kTextWindow;
  char* copy = NewTextBlock(*FAllocator, text, length, block);
  if (copy == nullptr) {
    return false;
  }
  CheckHandedOutText(copy, copy, copy + block);
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
  other.FChunks = nullptr;
  other.FOwnBlocks = 0;
}

const char* TRecordStore::CheckTexts(const TRecordNode* first, int fieldCount) const noexcept {
  for (const TRecordNode* record = first; record != nullptr; record = record->Next) {
    const TChunk* chunk = record->Chunk;
    const auto* node = reinterpret_cast<const char*>(record);
    if (chunk != nullptr && (!chunk->Holds(node) || chunk->live == 0)) {
      return "a record lies outside its chunk";
    }
    const char* const* fields = record->Fields();
    for (int i = 0; i < fieldCount; ++i) {
      const char* text = fields[i];
      if (text == nullptr) {
        continue;
      }
      if (chunk != nullptr && chunk->Holds(text)) {
        const char* end = chunk->BlockEnd();
        if (!WindowInside(text, chunk->Data(), end)) {
          return "a text's window leaves its chunk";
        }
        const void* nul = std::memchr(text, '\0', static_cast<std::size_t>(end - text));
        if (nul == nullptr) {
          return "a text in a chunk has no NUL inside the chunk";
        }
        // The window that holds the NUL is read whole too.
        const auto length = static_cast<std::size_t>(static_cast<const char*>(nul) - text);
        if (!WindowInside(text + length / kTextWindow * kTextWindow, chunk->Data(), end)) {
          return "the window with a text's NUL leaves its chunk";
        }
      } else {
        for (const TChunk* other = FChunks; other != nullptr; other = other->next) {
          if (other->Holds(text)) {
            return "a text lies in a chunk other than its record's";
          }
        }
        // A block of its own holds the text in whole windows, zeros after the NUL.
        const std::size_t length = std::strlen(text);
        for (std::size_t j = length; j < (length / kTextWindow + 1) * kTextWindow; ++j) {
          if (text[j] != '\0') {
            return "a text of its own is not followed by zeros up to a window";
          }
        }
      }
    }
  }
  return nullptr;
}

TChunk* TRecordStore::NewChunk(std::size_t capacity, bool lazy) noexcept {
  if (capacity > std::numeric_limits<std::size_t>::max() - sizeof(TChunk) - kTextWindow) {
    return nullptr;
  }
  const std::size_t block = ChunkBlockBytes(capacity);
  const bool large = !lazy && block >= kLargeBlockBytes;
  auto* chunk =
      static_cast<TChunk*>(large ? FAllocator->AllocateLarge(block) : FAllocator->Allocate(block));
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
  chunk->large = large ? 1 : 0;
  return chunk;
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
  if (chunk->large != 0) {
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
