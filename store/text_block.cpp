// A text in a block of its own.
#include "store/text_block.h"

#include <cstring>
#include <limits>

char* NewTextBlock(TAllocator& allocator, const char* text, std::size_t length,
                   std::size_t minimumBlock) noexcept {
  if (length == std::numeric_limits<std::size_t>::max()) {
    return nullptr;
  }
  const std::size_t bytes = length + 1 < minimumBlock ? minimumBlock : length + 1;
  auto* copy = static_cast<char*>(allocator.Allocate(bytes));
  if (copy == nullptr) {
    return nullptr;
  }
  std::memcpy(copy, text, length);
  std::memset(copy + length, 0, bytes - length);
  return copy;
}
