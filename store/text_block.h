// Internal. A text in a block of its own: field texts set by SetField, and the stored file name.
#ifndef OVELT_STORE_TEXT_BLOCK_H
#define OVELT_STORE_TEXT_BLOCK_H

#include <cstddef>

#include "platform/allocator.h"

// A NUL-terminated copy of the length bytes at text in a block of at least minimumBlock bytes,
// zeros after the NUL; null when memory runs out.
char* NewTextBlock(TAllocator& allocator, const char* text, std::size_t length,
                   std::size_t minimumBlock = 0) noexcept;

#endif  // OVELT_STORE_TEXT_BLOCK_H
