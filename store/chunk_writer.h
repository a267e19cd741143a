// Internal. Writes records and their texts one after another into chunks: how the loaders build a
// file's records.
//
// The writer owns a store of its own while it works. Each record is placed, aligned, after the
// previous one's texts; each field's bytes follow their record and end with a NUL. A record that
// outgrows its chunk moves, with what it has so far, to a new chunk, and the pointers into it
// move along. The bytes after the last record are written (zeros) before the records are handed
// over, so every text's window can be read whole.
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
  explicit TChunkWriter(TAllocator* allocator) noexcept : FStore(allocator) {}

  // Starts records of fieldCount fields, about expectedBytes of records and texts in all, and
  // places the first record. False, with nothing left allocated, when memory runs out.
  bool Begin(int fieldCount, std::size_t expectedBytes) noexcept;

  // Places the next record, all fields absent. False when memory runs out.
  bool StartRecord() noexcept {
    const auto misalignment = reinterpret_cast<std::uintptr_t>(FWrite) % alignof(TRecordNode);
    const std::size_t padding = misalignment == 0 ? 0 : alignof(TRecordNode) - misalignment;
    if (static_cast<std::size_t>(FEnd - FWrite) < padding + FRecordBytes) {
      if (!UseNewChunk(FRecordBytes)) {
        return false;
      }
    } else {
      // The padding is written (as zeros) in one store: the record after it covers the rest.
      static_assert(alignof(TRecordNode) <= sizeof(std::uint64_t), "one store covers the padding");
      const std::uint64_t zeros = 0;
      std::memcpy(FWrite, &zeros, sizeof zeros);
      FWrite += padding;
    }
    auto* record = reinterpret_cast<TRecordNode*>(FWrite);
    record->Chunk = FChunk;
    record->ClearFields(FFieldCount);
    ++FChunk->live;
    FRecords.Append(record);
    FWrite += FRecordBytes;
    FFieldStart = FWrite;
    return true;
  }

  // Where run more bytes of the field being written go. The run, its NUL and a window's bytes
  // (kTextWindow) after the run may be written there; bytes past the run are overwritten by what
  // follows. Null when memory runs out or the field would reach INT_MAX bytes, a length the
  // interface could not report.
  char* FieldRoom(std::size_t run) noexcept {
    if (static_cast<std::size_t>(FWrite - FFieldStart) + run >= static_cast<std::size_t>(INT_MAX)) {
      return nullptr;
    }
    if (static_cast<std::size_t>(FEnd - FWrite) < run + 1 && !MoveRecord(run + 1)) {
      return nullptr;
    }
    return FWrite;
  }
  // The run bytes written at FieldRoom's pointer belong to the field.
  void Wrote(std::size_t run) noexcept { FWrite += run; }

  // Ends the field being written as field index of the current record. False when memory runs out.
  bool EndField(int index) noexcept {
    if (FWrite == FEnd && !MoveRecord(1)) {
      return false;
    }
    *FWrite++ = '\0';
    FRecords.last->Fields()[index] = FFieldStart;
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
  bool UseNewChunk(std::size_t bytes) noexcept;
  // Moves the record being written to a new chunk with room for bytes more.
  bool MoveRecord(std::size_t bytes) noexcept;
  // Writes zeros over the window after the last byte written in the current chunk.
  void Seal() noexcept;
  void Forget() noexcept;

  TRecordStore FStore;
  TRecordChain FRecords;
  int FFieldCount = 0;
  std::size_t FRecordBytes = 0;
  // The chunk being filled, its next free byte, its end, and the start of the field being written.
  TChunk* FChunk = nullptr;
  char* FWrite = nullptr;
  char* FEnd = nullptr;
  char* FFieldStart = nullptr;
};

#endif  // OVELT_STORE_CHUNK_WRITER_H
