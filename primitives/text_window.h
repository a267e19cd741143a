// Internal. Stored texts measured, copied and handed out a window at a time.
//
// A stored text's window is its first byte and the fifteen after it (kTextWindow). The record
// store keeps a stored text readable a window at a time, from its first byte up to and including
// the window that holds its NUL, so a short text is measured with one look at its window instead
// of a byte loop whose end the processor cannot predict, and a long one window by window. Reading
// windows is only safe where the caller knows every one of their bytes belongs to memory it owns
// and has written: the record store's texts, and buffers of at least a window's bytes.
//
// The portable functions are here; text_window_sse2.h has the same functions, with the same
// results, sixteen bytes at a time.
#ifndef OVELT_PRIMITIVES_TEXT_WINDOW_H
#define OVELT_PRIMITIVES_TEXT_WINDOW_H

#include <cstddef>
#include <cstdint>
#include <cstring>

constexpr std::size_t kTextWindow = 16;

// Copies count bytes, 1 to kTextWindow, from source to target, in at most three stores of
// overlapping pieces; no byte outside the count is written.
inline void CopyShortText(char* target, const char* source, std::size_t count) noexcept {
  if (count >= 8) {
    std::uint64_t head = 0;
    std::uint64_t tail = 0;
    std::memcpy(&head, source, 8);
    std::memcpy(&tail, source + count - 8, 8);
    std::memcpy(target, &head, 8);
    std::memcpy(target + count - 8, &tail, 8);
  } else if (count >= 4) {
    std::uint32_t head = 0;
    std::uint32_t tail = 0;
    std::memcpy(&head, source, 4);
    std::memcpy(&tail, source + count - 4, 4);
    std::memcpy(target, &head, 4);
    std::memcpy(target + count - 4, &tail, 4);
  } else {
    // 1 to 3 bytes: first, middle and last cover them all.
    const char first = source[0];
    const char middle = source[count / 2];
    const char last = source[count - 1];
    target[0] = first;
    target[count / 2] = middle;
    target[count - 1] = last;
  }
}

namespace portable {

// Whether long texts go window by window (else through the C library's copies).
constexpr bool kWindowLoops = false;

// The index of the first NUL among the kTextWindow bytes from window on, all of which must be
// readable; -1 when there is none.
inline int NulInWindow(const char* window) noexcept {
  for (int i = 0; i < static_cast<int>(kTextWindow); ++i) {
    if (window[i] == '\0') {
      return i;
    }
  }
  return -1;
}

// The length of a stored text: one look for a short text, the C library past the window for a
// long one.
inline std::size_t StoredTextLength(const char* text) noexcept {
  const int length = NulInWindow(text);
  return length >= 0 ? static_cast<std::size_t>(length)
                     : kTextWindow + std::strlen(text + kTextWindow);
}

// Copies the kTextWindow bytes from window on, all of which must be readable, to target, which
// must have room for them all, and returns the length of the text at window when its NUL is among
// them (the bytes after it are copied too); -1 otherwise.
inline int CopyWindow(char* target, const char* window) noexcept {
  std::memcpy(target, window, kTextWindow);
  return NulInWindow(window);
}

// Copies the length bytes of a stored text and its NUL to target, and nothing else.
inline void CopyStoredText(char* target, const char* text, std::size_t length) noexcept {
  std::memcpy(target, text, length + 1);
}

// The usual case of the text-out convention: a stored text shorter than a window into a buffer
// of at least a window's bytes. Writes the text and its NUL and nothing else, and returns true;
// false, with nothing written, when the text or the buffer does not qualify (the caller then goes
// the general way, TTextOut).
inline bool DeliverShortText(char* buffer, unsigned size, const char* text) noexcept {
  if (buffer == nullptr || size < kTextWindow) {
    return false;
  }
  const int length = NulInWindow(text);
  if (length < 0) {
    return false;
  }
  CopyShortText(buffer, text, static_cast<std::size_t>(length) + 1);
  return true;
}

}  // namespace portable

#endif  // OVELT_PRIMITIVES_TEXT_WINDOW_H
