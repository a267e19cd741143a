// Test support: the allocator that fails on demand and the scoped table object.
#include "tests/support/faulty_allocator.h"

#include <cstdlib>
#include <new>

namespace dbtest {

FaultyAllocator::~FaultyAllocator() {
  for (const auto& held : blocks_) {
    std::free(held.first);
  }
}

void FaultyAllocator::FailAt(std::uint64_t n, bool persistent) noexcept {
  attempts_ = 0;
  failures_ = 0;
  failAt_ = n;
  persistent_ = persistent;
}

void FaultyAllocator::Heal() noexcept {
  attempts_ = 0;
  failAt_ = 0;
  persistent_ = false;
}

void* FaultyAllocator::Hand(std::size_t size, bool large) noexcept {
  ++attempts_;
  if (failAt_ != 0 && (attempts_ == failAt_ || (persistent_ && attempts_ > failAt_))) {
    ++failures_;
    return nullptr;
  }
  // As the process heap does: a one-byte block for size 0 keeps null meaning failure.
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) {
    return nullptr;
  }
  try {
    blocks_.emplace(block, Block{size, large});
  } catch (const std::bad_alloc&) {
    // No room to keep the block: the attempt runs out of memory like any other.
    std::free(block);
    return nullptr;
  }
  return block;
}

void FaultyAllocator::TakeBack(void* block, std::size_t size, bool large) noexcept {
  if (block == nullptr) {
    return;
  }
  const auto held = blocks_.find(block);
  if (held == blocks_.end() || held->second.large != large ||
      (large && held->second.size != size)) {
    ++badReleases_;
    return;
  }
  blocks_.erase(held);
  std::free(block);
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
