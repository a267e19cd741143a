// Internal. The memory of one table's records.
//
// Records made by the loaders are packed, with their texts, into chunks: large blocks holding many
// records one after another, so a loaded file costs a few allocations and almost no allocator
// overhead. A chunk is returned as soon as the last of its records is deleted. Records made by
// AddRecord, and texts set by SetField, are blocks of their own. A text inside a chunk that
// SetField replaces is simply no longer referenced; its bytes go with the chunk.
//
// Every stored text can be read a window (kTextWindow bytes) at a time, from its first byte up to
// and including the window that holds its NUL: a text of its own has a block of whole windows,
// zero after the NUL, and chunks keep a window's bytes past their capacity and the bytes after
// their texts written (see TChunk and TChunkWriter). The store and its chunk writer are the only
// code that makes text pointers.
#ifndef OVELT_STORE_RECORD_STORE_H
#define OVELT_STORE_RECORD_STORE_H

#include <cstddef>
#include <cstdint>

#include "platform/allocator.h"
#include "store/record.h"

// The memory of one table's records: its chunks, and a count of the blocks of their own that
// records and texts hold, so that closing a freshly loaded table needs no walk over its records.
class TRecordStore {
 public:
  explicit TRecordStore(TAllocator* allocator) noexcept : FAllocator(allocator) {}
  ~TRecordStore() { ReleaseChunks(); }
  TRecordStore(const TRecordStore&) = delete;
  TRecordStore& operator=(const TRecordStore&) = delete;

  // A new record, a block of its own, with fieldCount absent fields; null (nothing left allocated)
  // when memory runs out or fieldCount is negative.
  TRecordNode* NewRecord(int fieldCount) noexcept;
  // Releases the record's own texts and the record; a chunk left without records goes too.
  void FreeRecord(TRecordNode* record, int fieldCount) noexcept;
  // Replaces field index of record with a copy of the length bytes at text (a block of its own).
  // False, with the field unchanged, when memory runs out.
  bool SetText(TRecordNode* record, int index, const char* text, std::size_t length) noexcept;
  // Releases every record from first on and every chunk.
  void ReleaseAll(TRecordNode* first, int fieldCount) noexcept;
  // Takes over the chunks and blocks of other, which is left empty.
  void Adopt(TRecordStore& other) noexcept;

 private:
  friend class TChunkWriter;
  // A chunk with room for at least bytes, linked into this store. Null when memory runs out.
  // Chunks grow with the store, up to a cap, unless a record needs more.
  TChunk* NewChunk(std::size_t bytes) noexcept;
  // Tells how many bytes of records are about to be placed, so the chunks start at a fitting size.
  void Expect(std::size_t bytes) noexcept;
  // Returns chunk, which must hold no record, at once.
  void DropChunk(TChunk* chunk) noexcept;

  static bool OwnsText(const TRecordNode* record, const char* text) noexcept;
  void ReleaseOwnTexts(TRecordNode* record, int fieldCount) noexcept;
  void FreeChunk(TChunk* chunk) noexcept;
  void ReleaseChunks() noexcept;

  TAllocator* FAllocator;
  TChunk* FChunks = nullptr;
  std::size_t FNextChunkBytes = 0;
  std::size_t FOwnBlocks = 0;  // records and texts that are blocks of their own
};

// A block of many records, placed one after another from Data() on by a TChunkWriter. The block
// reaches a window's bytes (kTextWindow) past the capacity, and every byte from Data() on up to a
// window's bytes past the last record placed is written, padding included, so every text's window
// can be read whole.
struct TChunk {
  TChunk* next;
  TChunk* prev;
  std::size_t capacity;  // bytes from Data() on
  std::size_t live;      // records placed here and not yet freed

  char* Data() noexcept { return reinterpret_cast<char*>(this + 1); }
  bool Holds(const char* p) const noexcept {
    const auto begin = reinterpret_cast<std::uintptr_t>(this + 1);
    const auto address = reinterpret_cast<std::uintptr_t>(p);
    return address >= begin && address - begin < capacity;
  }
};

static_assert(sizeof(TChunk) % alignof(TRecordNode) == 0, "records start aligned");

#endif  // OVELT_STORE_RECORD_STORE_H
