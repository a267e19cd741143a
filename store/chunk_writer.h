// Internal. Writes records and their texts one after another into chunks: how the loaders build a
// file's records.
//
// The writer owns a store of its own while it works. Each record is placed, aligned, after the
// previous one's texts in a shared chunk; each field's bytes follow their record and end with a
// NUL. Shared chunks are sized from what the count pass measured (Begin's expectedBytes): a MiB
// while more than that is to come, else what is left. A record may be begun in a shared chunk only
// where kOwnRecordBytes of room follow it, so a short record always ends inside its chunk. A
// record that grows past kOwnRecordBytes leaves the shared chunk, which goes on from where the
// record began, so no copy of it stays behind: it is finished in a scratch block and then copied
// into a chunk of its own of exactly its size, or keeps the scratch block when that is about its
// size already (the last record of a file always does: no allocation may fail in Take, and the
// count pass leaves it little more than its size). Deleting such a record gives its memory back
// at once. The bytes after the last record of every chunk are written (zeros) before the records
// are handed over, so every text's window can be read whole.
#ifndef OVELT_STORE_CHUNK_WRITER_H
#define OVELT_STORE_CHUNK_WRITER_H

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/allocator.h"
#include "store/record.h"
#include "store/record_store.h"

class TChunkWriter {
 public:
  // A record, node and texts, larger than this gets a chunk of its own. Chosen by measurement
  // (bench/RESULTS.md): every shared chunk keeps up to this much room unused at its end, and every
  // record past it costs an allocation and a copy.
  static constexpr std::size_t kOwnRecordBytes = std::size_t{16} * 1024;

  explicit TChunkWriter(TAllocator* allocator) noexcept : FStore(allocator) {}

  // Starts records of fieldCount fields, about expectedBytes of records and texts in all (at most
  // that many, unless the file changes), and places the first record. False, with nothing left
  // allocated, when memory runs out.
  bool Begin(int fieldCount, std::size_t expectedBytes) noexcept;

  // Places the next record, all fields absent. False when memory runs out.
  bool StartRecord() noexcept {
    const auto misalignment = reinterpret_cast<std::uintptr_t>(FWrite) % alignof(TRecordNode);
    const std::size_t padding = misalignment == 0 ? 0 : alignof(TRecordNode) - misalignment;
    if (FPlaceEnd - FWrite < static_cast<std::ptrdiff_t>(padding + FRecordBytes)) {
      return StartRecordElsewhere();
    }
    // The padding is written (as zeros) in one store: the record after it covers the rest.
    static_assert(alignof(TRecordNode) <= sizeof(std::uint64_t), "one store covers the padding");
    const std::uint64_t zeros = 0;
    std::memcpy(FWrite, &zeros, sizeof zeros);
    FWrite += padding;
    auto* record = reinterpret_cast<TRecordNode*>(FWrite);
    record->Chunk = FChunk;
    record->ClearFields(FFieldCount);
    ++FChunk->live;
    FRecords.Append(record);
    FEnd = FChunkEnd - FWrite > static_cast<std::ptrdiff_t>(kOwnRecordBytes)
               ? FWrite + kOwnRecordBytes
               : FChunkEnd;
    FWrite += FRecordBytes;
    FFieldStart = FWrite;
    return true;
  }

  // Where run more bytes of the field being written go. The run, its NUL and a window's bytes
  // (kTextWindow) after the run may be written there; bytes past the run are overwritten by what
  // follows. Null when memory runs out or the field would pass INT_MAX bytes, a length the
  // interface could not report.
  char* FieldRoom(std::size_t run) noexcept {
    if (static_cast<std::size_t>(FWrite - FFieldStart) + run > static_cast<std::size_t>(INT_MAX)) {
      return nullptr;
    }
    if (static_cast<std::size_t>(FEnd - FWrite) < run + 1 && !MoveRecord(run + 1)) {
      return nullptr;
    }
    return FWrite;
  }
  // The run bytes written at FieldRoom's pointer belong to the field.
  void Wrote(std::size_t run) noexcept { FWrite += run; }
  // Where the field being written goes on.
  char* FieldCursor() const noexcept { return FWrite; }
  // How many bytes FieldRoom takes now without moving the record: a caller may write that many at
  // FieldCursor(), and a window after them, keep them with Wrote, and ask only when they are used.
  std::size_t RoomInPlace() const noexcept {
    const auto room = static_cast<std::size_t>(FEnd - FWrite);
    const std::size_t left = static_cast<std::size_t>(INT_MAX) - (FWrite - FFieldStart);
    return room == 0 ? 0 : (room - 1 < left ? room - 1 : left);
  }

  // Ends the field being written as field index of the current record. False when memory runs out.
  bool EndField(int index) noexcept {
    if (FWrite == FEnd && !MoveRecord(1)) {
      return false;
    }
    *FWrite++ = '\0';
    TRecordNode* record = FRecords.last;
    CheckHandedOutText(FFieldStart, record->Chunk->Data(), record->Chunk->BlockEnd());
    record->Fields()[index] = FFieldStart;
    FFieldStart = FWrite;
    return true;
  }

  // Whether the field being written has bytes and its first is not NUL.
  bool FieldHasText() const noexcept { return FWrite != FFieldStart && *FFieldStart != '\0'; }
  int RecordCount() const noexcept { return FRecords.count; }

  // Hands the records over, the bytes after them written; store takes over their memory.
  TRecordChain Take(TRecordStore& store) noexcept;
  // Releases every record written so far.
  void Drop() noexcept;

 private:
  // StartRecord where the shared chunk has no room: after a record of its own, in a new shared
  // chunk, or in a chunk of its own for a record whose node alone is large.
  bool StartRecordElsewhere() noexcept;
  // Moves the record being written to the scratch block, or to a larger one, with room for bytes
  // more.
  bool MoveRecord(std::size_t bytes) noexcept;
  // Copies the first bytes of the record being written to the start of target, which becomes its
  // chunk, and moves the pointers into it along; where the copy begins.
  char* CopyLastRecord(TChunk* target, std::size_t bytes) noexcept;
  // Gives the record in the scratch block a chunk of its own, of exactly its size when exact
  // (unless the scratch block is about that already), and goes back to the shared chunk. False,
  // with nothing changed, when memory runs out.
  bool FinishOwnRecord(bool exact) noexcept;
  // Retires the shared chunk and starts one sized from what is left to come.
  bool NewSharedChunk() noexcept;
  // A scratch block with room for need bytes, for a record that may take up to budget bytes;
  // the old one stays when keepOld (it holds the record being moved). Null when memory runs out.
  TChunk* ScratchFor(std::size_t need, std::size_t budget, bool keepOld) noexcept;
  // Bytes still to come from start on in the shared chunk (or from the shared chunk's end).
  std::size_t BudgetFrom(const char* start) const noexcept;
  // Shows the shared chunk again, from FWrite on.
  void UseSharedChunk() noexcept;
  // Writes zeros over the window after the last byte written in the shared chunk.
  void Seal() noexcept;
  void Forget() noexcept;

  TRecordStore FStore;
  TRecordChain FRecords;
  int FFieldCount = 0;
  std::size_t FRecordBytes = 0;
  std::size_t FExpected = 0;  // bytes of records and texts the count pass allows for
  std::size_t FPlaced = 0;    // bytes of records retired shared chunks and own chunks hold
  // The block the current record is written in: its next free byte, the end of the current
  // record's room, the start of the field being written, and where the next record may end its
  // node (a record is placed when its node ends at or before FPlaceEnd).
  char* FWrite = nullptr;
  char* FEnd = nullptr;
  char* FFieldStart = nullptr;
  char* FPlaceEnd = nullptr;
  // The shared chunk, its end, and its FPlaceEnd.
  TChunk* FChunk = nullptr;
  char* FChunkEnd = nullptr;
  char* FChunkPlaceEnd = nullptr;
  // The scratch block, whether the current record is in it, where the shared chunk goes on
  // meanwhile, and how many bytes the record may take at most.
  TChunk* FScratch = nullptr;
  bool FInScratch = false;
  char* FResume = nullptr;
  std::size_t FBudget = 0;
};

#endif  // OVELT_STORE_CHUNK_WRITER_H
