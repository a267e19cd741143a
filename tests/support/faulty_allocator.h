// Test support: the allocator that unit tests and fuzz targets make table objects with, and a
// table object that gives everything back when the test is done with it. Nothing here uses
// GoogleTest.
#ifndef OVELT_TESTS_SUPPORT_FAULTY_ALLOCATOR_H
#define OVELT_TESTS_SUPPORT_FAULTY_ALLOCATOR_H

#include <cstddef>
#include <cstdint>
#include <unordered_map>

#include "engines/environment.h"
#include "platform/allocator.h"
#include "table/datenbank_table.h"

namespace dbtest {

// Hands out blocks of the process heap, keeps every block it handed out with its kind and size,
// fails allocation attempts on demand, and reports the memory figure a test sets (Capacity).
//
// Attempts: every Allocate and every AllocateLarge is one attempt, and both kinds share the count.
// FailAt(n, persistent) counts from the call of FailAt: attempt 1 is the next one after it, so on a
// new allocator attempt 1 is the first one ever. A transient failure fails attempt n alone; a
// persistent one fails n and every later attempt. n = 0 fails nothing.
//
// Releases: Release takes back a block of Allocate, ReleaseLarge a block of AllocateLarge with the
// size it was asked for. A release of a block not handed out (or taken back already), of the other
// kind, or of a large block with another size is counted in BadReleases() and leaves the block
// alone, so the mistake shows and the heap stays sound.
//
// Both kinds of block come from malloc with nothing added, so AddressSanitizer sees each one at its
// true size. Whatever is still held when the allocator goes goes back to the heap then, so a leak
// shows up in Live() and not twice.
class FaultyAllocator final : public TAllocator {
 public:
  FaultyAllocator() = default;
  FaultyAllocator(const FaultyAllocator&) = delete;
  FaultyAllocator& operator=(const FaultyAllocator&) = delete;
  ~FaultyAllocator();

  void* Allocate(std::size_t size) noexcept override { return Hand(size, false); }
  void Release(void* block) noexcept override { TakeBack(block, 0, false); }
  void* AllocateLarge(std::size_t size) noexcept override { return Hand(size, true); }
  void ReleaseLarge(void* block, std::size_t size) noexcept override {
    TakeBack(block, size, true);
  }
  // The figure set by ReportCapacity, else the operating system's.
  std::uint64_t Capacity() noexcept override {
    return capacity_ != 0 ? capacity_ : TAllocator::Capacity();
  }
  // Makes Capacity() report bytes from now on (0: the operating system's figure again). Only the
  // figure changes: what can actually be allocated does not.
  void ReportCapacity(std::uint64_t bytes) noexcept { capacity_ = bytes; }

  // Fails attempt n counted from now, or n and every later one; starts Attempts() and Failures()
  // again from 0.
  void FailAt(std::uint64_t n, bool persistent) noexcept;
  // Fails nothing from now on and starts Attempts() again from 0; Failures() keeps its value.
  void Heal() noexcept;

  // Blocks of both kinds handed out and not taken back.
  std::size_t Live() const noexcept { return blocks_.size(); }
  // Attempts since the last FailAt or Heal, failed ones included.
  std::uint64_t Attempts() const noexcept { return attempts_; }
  // Attempts failed since the last FailAt.
  std::uint64_t Failures() const noexcept { return failures_; }
  // Releases that did not match a block handed out (see above), since the allocator was made.
  std::uint64_t BadReleases() const noexcept { return badReleases_; }

 private:
  struct Block {
    std::size_t size;
    bool large;
  };
  void* Hand(std::size_t size, bool large) noexcept;
  void TakeBack(void* block, std::size_t size, bool large) noexcept;

  std::unordered_map<void*, Block> blocks_;
  std::uint64_t attempts_ = 0;
  std::uint64_t failAt_ = 0;  // 0: fail nothing
  bool persistent_ = false;
  std::uint64_t failures_ = 0;
  std::uint64_t badReleases_ = 0;
  std::uint64_t capacity_ = 0;  // 0: the operating system's figure
};

// The environment the tests build tables with: the given allocator and file layer (the platform's
// where null) and the read block size.
TModuleEnv MakeEnv(TAllocator* allocator = nullptr, TFileSystem* files = nullptr,
                   std::uint32_t readBlockSize = kReadBlockSize);

// A table object made from env. When the scope ends the table is closed, its file name released
// and the object's own block returned to env's allocator, since the interface never destroys an
// object. get() is null when the object could not be made.
class ScopedTable {
 public:
  explicit ScopedTable(const TModuleEnv& env = MakeEnv());
  ~ScopedTable();
  ScopedTable(const ScopedTable&) = delete;
  ScopedTable& operator=(const ScopedTable&) = delete;

  TDatenbank* get() const { return db_; }
  TDatenbank* operator->() const { return db_; }

 private:
  TModuleEnv env_;
  TDatenbank* db_;
};

}  // namespace dbtest

#endif  // OVELT_TESTS_SUPPORT_FAULTY_ALLOCATOR_H
