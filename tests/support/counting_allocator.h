// Test support: an allocator that counts what a table object holds and fails on demand, and a
// table object that gives everything back when the test is done with it.
#ifndef OVELT_TESTS_SUPPORT_COUNTING_ALLOCATOR_H
#define OVELT_TESTS_SUPPORT_COUNTING_ALLOCATOR_H

#include <cstddef>
#include <cstdint>
#include <unordered_set>

#include "engines/environment.h"
#include "platform/allocator.h"
#include "table/datenbank_table.h"

namespace dbtest {

// Wraps SystemAllocator(). Counts live blocks and allocation attempts; can fail one chosen
// attempt (transient) or that attempt and every later one (persistent).
class CountingAllocator final : public TAllocator {
 public:
  CountingAllocator() = default;
  CountingAllocator(const CountingAllocator&) = delete;
  CountingAllocator& operator=(const CountingAllocator&) = delete;
  ~CountingAllocator();

  void* Allocate(std::size_t size) noexcept override;
  void Release(void* block) noexcept override;

  // Fails attempt n counted from now (1: the next Allocate); persistent: n and all after it.
  void FailAt(std::uint64_t n, bool persistent);
  // Fails nothing from now on.
  void Heal();

  // Blocks handed out and not yet released.
  std::size_t Live() const { return live_.size(); }
  // Attempts since the last FailAt or Heal, failed ones included.
  std::uint64_t Attempts() const { return attempts_; }
  // Attempts that were failed since the last FailAt.
  std::uint64_t Failures() const { return failures_; }
  // Releases of blocks this allocator never handed out (or handed out and took back already).
  std::uint64_t BadReleases() const { return badReleases_; }

 private:
  std::unordered_set<void*> live_;
  std::uint64_t attempts_ = 0;
  std::uint64_t failAt_ = 0;  // 0: fail nothing
  bool persistent_ = false;
  std::uint64_t failures_ = 0;
  std::uint64_t badReleases_ = 0;
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

#endif  // OVELT_TESTS_SUPPORT_COUNTING_ALLOCATOR_H
