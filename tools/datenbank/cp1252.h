// Windows-1252 <-> UTF-8, the two encodings the tool stands between: the module speaks Windows-1252
// (its messages and every byte of a file), the terminal and the command line speak UTF-8.
#ifndef DATENBANK_TOOL_CP1252_H
#define DATENBANK_TOOL_CP1252_H

#include <string>
#include <string_view>

namespace datenbank_tool {

// value in upper-case hexadecimal, at least digits long.
std::string Hex(unsigned value, int digits);

// The character of a Windows-1252 byte. The five bytes the code page leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) stand for the C1 controls of the same number, as Windows' own conversion
// does, so every byte has a character and converts back to itself.
char32_t Cp1252Character(unsigned char byte);

// Every byte as UTF-8. Never fails.
std::string Cp1252ToUtf8(std::string_view text);

// One character as UTF-8.
std::string Utf8Of(char32_t character);

enum class Conversion { kDone, kInvalidUtf8, kNoByte };

// The bytes of a UTF-8 text. On failure problem names the culprit (the character, or the offset of
// the byte that is not UTF-8) and out holds nothing useful.
Conversion Utf8ToCp1252(std::string_view text, std::string& out, std::string& problem);

// Decodes the character that starts at position and moves position past it. False when the bytes
// there are no valid UTF-8 (overlong forms and surrogates included); position then stays.
bool NextUtf8Character(std::string_view text, std::size_t& position, char32_t& character);

}  // namespace datenbank_tool

#endif
