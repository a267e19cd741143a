// The chunk writer's slow paths: new chunks, records that move, and handing the records over.
#include "store/chunk_writer.h"

#include <cstdint>

#include "primitives/text_window.h"

namespace {

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
  FStore.Expect(expectedBytes);
  if (!StartRecord()) {
    Drop();
    return false;
  }
  return true;
}

void TChunkWriter::Seal() noexcept {
  if (FChunk != nullptr) {
    std::memset(FWrite, 0, kTextWindow);  // the chunk's block reaches a window past FEnd
  }
}

bool TChunkWriter::UseNewChunk(std::size_t bytes) noexcept {
  TChunk* chunk = FStore.NewChunk(bytes);
  if (chunk == nullptr) {
    return false;
  }
  Seal();
  FChunk = chunk;
  FWrite = chunk->Data();
  FEnd = FWrite + chunk->capacity;
  return true;
}

bool TChunkWriter::MoveRecord(std::size_t bytes) noexcept {
  TRecordNode* record = FRecords.last;
  TChunk* old = FChunk;
  char* from = reinterpret_cast<char*>(record);
  const auto built = static_cast<std::size_t>(FWrite - from);
  // A record that outgrows its chunk gets twice the room, so a long line moves a few times only.
  if (bytes > (SIZE_MAX - built) / 2 || !UseNewChunk(2 * built + bytes)) {
    return false;
  }
  char* to = FWrite;
  std::memcpy(to, from, built);
  auto* moved = reinterpret_cast<TRecordNode*>(to);
  char** fields = moved->Fields();
  for (int i = 0; i < FFieldCount; ++i) {
    if (fields[i] != nullptr) {
      fields[i] = Moved(fields[i], from, to);
    }
  }
  FFieldStart = Moved(FFieldStart, from, to);
  FWrite = to + built;
  moved->Chunk = FChunk;
  Relink(FRecords.first, FRecords.last, moved);
  FChunk->live = 1;
  if (--old->live == 0) {
    FStore.DropChunk(old);
  }
  return true;
}

TRecordChain TChunkWriter::Take(TRecordStore& store) noexcept {
  Seal();
  const TRecordChain taken = FRecords;
  Forget();
  store.Adopt(FStore);
  return taken;
}

void TChunkWriter::Forget() noexcept {
  FRecords = TRecordChain{};
  FChunk = nullptr;
  FWrite = FEnd = FFieldStart = nullptr;
}

void TChunkWriter::Drop() noexcept {
  // Written records own nothing but their chunks.
  FStore.ReleaseAll(nullptr, 0);
  Forget();
}
