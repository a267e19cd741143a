// The factory: the module's one export, and the environment a production table object gets.
#include <new>

#include "io/loader.h"
#include "table/datenbank_table.h"

TModuleEnv DefaultModuleEnv() noexcept {
  return TModuleEnv{&SystemAllocator(), &PlatformFileSystem(), kReadBlockSize};
}

TMainDB* CreateTable(const TModuleEnv& env) noexcept {
  void* block = env.allocator->Allocate(sizeof(TDatenbank));
  if (block == nullptr) {
    return nullptr;
  }
  // The object is never destroyed: the interface offers no way to, and its block stays allocated
  // until the module is unloaded.
  return new (block) TDatenbank(env);
}

extern "C" DB_EXPORT TMainDB* DB_CALL
_CreateDatenbankClassInstance(void) {  // NOLINT(bugprone-reserved-identifier)
  return CreateTable(DefaultModuleEnv());
}
