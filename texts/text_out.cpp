// The text-out convention.
#include "texts/text_out.h"

#include <climits>
#include <cstring>

TTextOut::TTextOut(char* buffer, unsigned size) noexcept
    : FBuffer(buffer), FSize(buffer == nullptr ? 0U : size) {
  if (FSize >= 1) {
    FBuffer[0] = '\0';
  }
}

int TTextOut::Deliver(const char* text, std::size_t length) const noexcept {
  // Texts never reach INT_MAX bytes: the loader and SetField refuse longer ones.
  const int result = length > INT_MAX ? INT_MAX : static_cast<int>(length);
  if (FSize == 0 || length > FSize - 1U) {
    return result;
  }
  std::memcpy(FBuffer, text, length + 1);
  return 0;
}

int TTextOut::Deliver(const char* text) const noexcept {
  return Deliver(text, std::strlen(text));
}
