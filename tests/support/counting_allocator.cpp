// Test support: the counting allocator and the scoped table object.
#include "tests/support/counting_allocator.h"

namespace dbtest {

CountingAllocator::~CountingAllocator() {
  // Whatever a test leaked goes back to the heap, so a leak shows up as Live() and not twice.
  for (void* block : live_) {
    SystemAllocator().Release(block);
  }
}

void* CountingAllocator::Allocate(std::size_t size) noexcept {
  ++attempts_;
  if (failAt_ != 0 && (attempts_ == failAt_ || (persistent_ && attempts_ > failAt_))) {
    ++failures_;
    return nullptr;
  }
  void* block = SystemAllocator().Allocate(size);
  if (block != nullptr) {
    live_.insert(block);
  }
  return block;
}

void CountingAllocator::Release(void* block) noexcept {
  if (block == nullptr) {
    return;
  }
  if (live_.erase(block) == 0) {
    ++badReleases_;  // never handed out here: leave it alone rather than corrupt the heap
    return;
  }
  SystemAllocator().Release(block);
}

void CountingAllocator::FailAt(std::uint64_t n, bool persistent) {
  attempts_ = 0;
  failures_ = 0;
  failAt_ = n;
  persistent_ = persistent;
}

void CountingAllocator::Heal() {
  failAt_ = 0;
  persistent_ = false;
  attempts_ = 0;
}

TModuleEnv MakeEnv(TAllocator* allocator, TFileSystem* files, std::uint32_t readBlockSize) {
  TModuleEnv env = DefaultModuleEnv();
  if (allocator != nullptr) {
    env.allocator = allocator;
  }
  if (files != nullptr) {
    env.files = files;
  }
  env.readBlockSize = readBlockSize;
  return env;
}

ScopedTable::ScopedTable(const TModuleEnv& env)
    : env_(env), db_(static_cast<TDatenbank*>(NewTableObject(env))) {}

ScopedTable::~ScopedTable() {
  if (db_ != nullptr) {
    db_->CloseTable();
    db_->FreeFileName();
    env_.allocator->Release(db_);
  }
}

}  // namespace dbtest
