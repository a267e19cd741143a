// Internal. The German message of every result code.
#ifndef OVELT_TEXTS_MESSAGES_H
#define OVELT_TEXTS_MESSAGES_H

// The message of code (0 to -15), Windows-1252, NUL-terminated; null for any other code.
const char* ResultMessage(int code) noexcept;

#endif  // OVELT_TEXTS_MESSAGES_H
