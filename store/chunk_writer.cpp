// The chunk writer's slow paths: new shared chunks, records of their own, and handing the records
// over.
#include "store/chunk_writer.h"

#include <cstdint>

#include "primitives/text_window.h"

namespace {

// A shared chunk is a MiB with its header and the window after it.
constexpr std::size_t kSharedCapacity = std::size_t{1024} * 1024 - sizeof(TChunk) - kTextWindow;
static_assert(kSharedCapacity > 2 * TChunkWriter::kOwnRecordBytes, "short records share chunks");

// A scratch block larger than this is not kept for the next record of its own.
constexpr std::size_t kKeptScratchBytes = std::size_t{16} * 1024 * 1024;

// A record in a chunk of its own may leave this share of its chunk unused: a record that ends
// further below its scratch block's capacity is copied into a chunk of exactly its size.
constexpr std::size_t kOwnSlackShare = 16;

// A pointer moved by the distance between two blocks.
template <typename T>
T* Moved(T* p, const char* from, char* to) noexcept {
  return reinterpret_cast<T*>(to + (reinterpret_cast<const char*>(p) - from));
}

}  // namespace

bool TChunkWriter::Begin(int fieldCount, std::size_t expectedBytes) noexcept {
  FFieldCount = fieldCount;
  FRecordBytes = RecordBytes(fieldCount);
  if (FRecordBytes == 0) {
    return false;
  }
  FExpected = expectedBytes;
  FPlaced = 0;
  if (!StartRecord()) {
    Drop();
    return false;
  }
  return true;
}

std::size_t TChunkWriter::BudgetFrom(const char* start) const noexcept {
  std::size_t placed = FPlaced;
  if (FChunk != nullptr) {
    placed += static_cast<std::size_t>(start - FChunk->Data());
  }
  return FExpected > placed ? FExpected - placed : 0;
}

void TChunkWriter::Seal() noexcept {
  std::memset(FWrite, 0, kTextWindow);  // every block reaches a window past its capacity
}

void TChunkWriter::UseSharedChunk() noexcept {
  FPlaceEnd = FChunk != nullptr ? FChunkPlaceEnd : FWrite;
}

bool TChunkWriter::NewSharedChunk() noexcept {
  if (FChunk != nullptr) {
    FPlaced += static_cast<std::size_t>(FWrite - FChunk->Data());
    if (FChunk->live == 0) {
      FStore.DropChunk(FChunk);
    } else {
      Seal();
    }
  }
  FChunk = nullptr;
  FWrite = FEnd = FFieldStart = FPlaceEnd = FChunkEnd = FChunkPlaceEnd = nullptr;
  // A MiB while more is to come; the last one holds what is left (which the count pass allowed
  // for generously), so a small file takes a small chunk.
  const std::size_t left = BudgetFrom(nullptr);
  const bool last = left < kSharedCapacity;
  std::size_t capacity = last ? left : kSharedCapacity;
  if (capacity < FRecordBytes) {
    capacity = FRecordBytes;
  }
  TChunk* chunk = FStore.NewChunk(capacity, false);
  if (chunk == nullptr) {
    return false;
  }
  FChunk = chunk;
  FWrite = chunk->Data();
  FChunkEnd = FWrite + capacity;
  // A record begins only where kOwnRecordBytes of room follow it; in the last chunk everything
  // to come fits.
  FChunkPlaceEnd = last ? FChunkEnd : FChunkEnd - kOwnRecordBytes + FRecordBytes;
  UseSharedChunk();
  return true;
}

TChunk* TChunkWriter::ScratchFor(std::size_t need, std::size_t budget, bool keepOld) noexcept {
  // At most what the count pass allows for the record: the last record of a file keeps its
  // scratch block, which then is about its size.
  const std::size_t most = budget > need ? budget : need;
  if (!keepOld && FScratch != nullptr) {
    if (FScratch->capacity >= need && FScratch->capacity <= most) {
      return FScratch;
    }
    FStore.DropChunk(FScratch);
    FScratch = nullptr;
  }
  // Twice what is needed, so a long record moves a few times only; once what the record may take
  // is near, all of it at once.
  const std::size_t capacity = need > most / 4 ? most : 2 * need;
  // Its pages are touched only as the record grows.
  return FStore.NewChunk(capacity, true);
}

char* TChunkWriter::CopyLastRecord(TChunk* target, std::size_t bytes) noexcept {
  const char* from = reinterpret_cast<const char*>(FRecords.last);
  char* to = target->Data();
  std::memcpy(to, from, bytes);
  auto* moved = reinterpret_cast<TRecordNode*>(to);
  char** fields = moved->Fields();
  for (int i = 0; i < FFieldCount; ++i) {
    if (fields[i] != nullptr) {
      fields[i] = Moved(fields[i], from, to);
    }
  }
  moved->Chunk = target;
  Relink(FRecords.first, FRecords.last, moved);
  target->live = 1;
  return to;
}

bool TChunkWriter::MoveRecord(std::size_t bytes) noexcept {
  TRecordNode* record = FRecords.last;
  char* from = reinterpret_cast<char*>(record);
  const auto built = static_cast<std::size_t>(FWrite - from);
  if (bytes > SIZE_MAX - built) {
    return false;
  }
  const std::size_t need = built + bytes;
  const bool leaving = !FInScratch;
  if (leaving) {
    FBudget = BudgetFrom(from);
  }
  TChunk* old = record->Chunk;
  TChunk* target = ScratchFor(need, FBudget, !leaving);
  if (target == nullptr) {
    return false;
  }
  char* to = CopyLastRecord(target, built);
  FFieldStart = Moved(FFieldStart, from, to);
  if (leaving) {
    // The shared chunk goes on where the record began: what was written of it there is
    // overwritten by the records that follow.
    --old->live;
    FResume = from;
    FInScratch = true;
  } else {
    FStore.DropChunk(old);
  }
  FScratch = target;
  FWrite = to + built;
  FEnd = to + target->capacity;
  FPlaceEnd = to;  // the next record is placed elsewhere
  return true;
}

bool TChunkWriter::FinishOwnRecord(bool exact) noexcept {
  TChunk* scratch = FScratch;
  char* from = scratch->Data();
  const auto used = static_cast<std::size_t>(FWrite - from);
  if (exact && scratch->capacity - used > used / kOwnSlackShare) {
    TChunk* home = FStore.NewChunk(used, false);
    if (home == nullptr) {
      return false;
    }
    FWrite = CopyLastRecord(home, used) + used;
    scratch->live = 0;
  }
  std::memset(FWrite, 0, kTextWindow);  // the window after the record, inside its block
  FPlaced += used;
  if (scratch->live != 0) {
    FScratch = nullptr;  // the scratch block became the record's chunk
  } else if (scratch->capacity > kKeptScratchBytes) {
    FStore.DropChunk(scratch);
    FScratch = nullptr;
  }
  FInScratch = false;
  FWrite = FResume;
  FEnd = FFieldStart = FResume = nullptr;
  UseSharedChunk();
  return true;
}

bool TChunkWriter::StartRecordElsewhere() noexcept {
  if (FInScratch) {
    return FinishOwnRecord(true) && StartRecord();
  }
  if (FRecordBytes < kOwnRecordBytes) {
    return NewSharedChunk() && StartRecord();
  }
  // A node too large for a shared chunk: the record is written in the scratch block at once.
  const std::size_t budget = BudgetFrom(FWrite);
  TChunk* target = ScratchFor(FRecordBytes + 1, budget, false);
  if (target == nullptr) {
    return false;
  }
  FScratch = target;
  FBudget = budget;
  FResume = FWrite;
  FInScratch = true;
  auto* record = reinterpret_cast<TRecordNode*>(target->Data());
  record->Chunk = target;
  record->ClearFields(FFieldCount);
  target->live = 1;
  FRecords.Append(record);
  FWrite = target->Data() + FRecordBytes;
  FFieldStart = FWrite;
  FEnd = target->Data() + target->capacity;
  FPlaceEnd = target->Data();
  return true;
}

TRecordChain TChunkWriter::Take(TRecordStore& store) noexcept {
  if (FInScratch) {
    // The last record keeps its scratch block: no allocation can fail here, and the count pass
    // allowed for little more than the record.
    (void)FinishOwnRecord(false);
  }
  if (FChunk != nullptr) {
    if (FChunk->live == 0) {
      FStore.DropChunk(FChunk);
    } else {
      Seal();
    }
  }
  if (FScratch != nullptr) {
    FStore.DropChunk(FScratch);
  }
  const TRecordChain taken = FRecords;
  Forget();
  store.Adopt(FStore);
  return taken;
}

void TChunkWriter::Forget() noexcept {
  FRecords = TRecordChain{};
  FChunk = FScratch = nullptr;
  FWrite = FEnd = FFieldStart = FPlaceEnd = FChunkEnd = FChunkPlaceEnd = FResume = nullptr;
  FInScratch = false;
  FPlaced = FBudget = 0;
}

void TChunkWriter::Drop() noexcept {
  // Written records own nothing but their chunks.
  FStore.ReleaseAll(nullptr, 0);
  Forget();
}
