// Internal. The memory of one table's records.
//
// Records made by the loaders live in chunks. Short records are packed, with their texts, into
// shared chunks of about a MiB, so a loaded file costs a few allocations and almost no allocator
// overhead; a shared chunk is returned as soon as the last of its records is deleted. A record
// whose node and texts are large compared with a chunk (TChunkWriter decides) is a chunk of its
// own, of the record's size, and deleting it returns its memory at once. Records made by
// AddRecord, and texts set by SetField, are blocks of their own. A text inside a chunk that
// SetField replaces is simply no longer referenced; its bytes go with the chunk.
//
// Every stored text can be read a window (kTextWindow bytes) at a time, from its first byte up to
// and including the window that holds its NUL: a text of its own has a block of whole windows,
// zero after the NUL, and chunks keep a window's bytes past their capacity and the bytes after
// their texts written (see TChunk and TChunkWriter). The store and its chunk writer are the only
// code that makes text pointers; in builds with DATENBANK_CHECKED (the unit tests' and fuzz
// targets' core, never the shipped library) each pointer they hand out is checked to have its
// window inside its block (CheckHandedOutText), and CheckTexts checks every stored text.
#ifndef OVELT_STORE_RECORD_STORE_H
#define OVELT_STORE_RECORD_STORE_H

#include <cstddef>
#include <cstdint>
#if defined(DATENBANK_CHECKED)
#include <cstdlib>
#endif

#include "platform/allocator.h"
#include "primitives/text_window.h"
#include "store/record.h"

// A block of records placed one after another from Data() on by a TChunkWriter: many short ones,
// or one large one. The block reaches a window's bytes (kTextWindow) past the capacity, and every
// byte from Data() on up to a window's bytes past the last record placed is written, padding
// included, so every text's window can be read whole.
struct TChunk {
  TChunk* next;
  TChunk* prev;
  std::size_t capacity;  // bytes from Data() on
  std::uint32_t live;    // records placed here and not yet freed
  std::uint32_t large;   // 1: from AllocateLarge, 0: from Allocate

  char* Data() noexcept { return reinterpret_cast<char*>(this + 1); }
  const char* Data() const noexcept { return reinterpret_cast<const char*>(this + 1); }
  // One past the last byte of the block.
  const char* BlockEnd() const noexcept { return Data() + capacity + kTextWindow; }
  bool Holds(const char* p) const noexcept {
    const auto begin = reinterpret_cast<std::uintptr_t>(this + 1);
    const auto address = reinterpret_cast<std::uintptr_t>(p);
    return address >= begin && address - begin < capacity;
  }
};

static_assert(sizeof(TChunk) % alignof(TRecordNode) == 0, "records start aligned");

// Whether the window of text lies inside the block from begin to end.
inline bool WindowInside(const char* text, const char* begin, const char* end) noexcept {
  const auto t = reinterpret_cast<std::uintptr_t>(text);
  const auto e = reinterpret_cast<std::uintptr_t>(end);
  return t >= reinterpret_cast<std::uintptr_t>(begin) && t <= e && e - t >= kTextWindow;
}

// In checked builds, stops the process when a text pointer about to be stored does not have its
// window inside its block; nothing otherwise. AddressSanitizer cannot see a read that stays
// inside a chunk, so this is where such a fault shows.
inline void CheckHandedOutText(const char* text, const char* begin, const char* end) noexcept {
#if defined(DATENBANK_CHECKED)
  if (!WindowInside(text, begin, end)) {
    std::abort();
  }
#else
  (void)text;
  (void)begin;
  (void)end;
#endif
}

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

  // For tests: null when every field of every record from first on can have its window read
  // whole inside the block it belongs to (its record's chunk, or its own block, whose window is
  // read here so that AddressSanitizer sees it), else a description of the first that cannot.
  const char* CheckTexts(const TRecordNode* first, int fieldCount) const noexcept;

 private:
  friend class TChunkWriter;
  // A chunk of exactly capacity bytes, linked into this store; from the allocator's large blocks
  // when it is large, unless lazy (pages that may stay untouched). Null when memory runs out.
  TChunk* NewChunk(std::size_t capacity, bool lazy) noexcept;
  // Returns chunk, which must hold no record, at once.
  void DropChunk(TChunk* chunk) noexcept;

  static bool OwnsText(const TRecordNode* record, const char* text) noexcept;
  void ReleaseOwnTexts(TRecordNode* record, int fieldCount) noexcept;
  void FreeChunk(TChunk* chunk) noexcept;
  void ReleaseChunks() noexcept;

  TAllocator* FAllocator;
  TChunk* FChunks = nullptr;
  std::size_t FOwnBlocks = 0;  // records and texts that are blocks of their own
};

#endif  // OVELT_STORE_RECORD_STORE_H
