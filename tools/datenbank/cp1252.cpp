#include "tools/datenbank/cp1252.h"

#include <array>

namespace datenbank_tool {

namespace {

// 0x80 to 0x9F; the rest of the code page is Latin-1.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The byte of a character, or -1 when the code page has none.
int ByteOf(char32_t character) {
  if (character < 0x80 || (character >= 0xA0 && character <= 0xFF)) {
    return static_cast<int>(character);
  }
  for (std::size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == character) {
      return static_cast<int>(0x80 + i);
    }
  }
  return -1;
}

std::string CodePointName(char32_t character) {
  return "U+" + Hex(static_cast<unsigned>(character), 4);
}

}  // namespace

std::string Hex(unsigned value, int digits) {
  std::string text;
  while (value != 0 || static_cast<int>(text.size()) < digits) {
    text.insert(text.begin(), "0123456789ABCDEF"[value % 16]);
    value /= 16;
  }
  return text;
}

char32_t Cp1252Character(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0) {
    return kHighControls[byte - 0x80U];
  }
  return byte;
}

std::string Utf8Of(char32_t character) {
  std::string out;
  if (character < 0x80) {
    out += static_cast<char>(character);
  } else if (character < 0x800) {
    out += static_cast<char>(0xC0 | (character >> 6));
    out += static_cast<char>(0x80 | (character & 0x3F));
  } else if (character < 0x10000) {
    out += static_cast<char>(0xE0 | (character >> 12));
    out += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (character & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (character >> 18));
    out += static_cast<char>(0x80 | ((character >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (character & 0x3F));
  }
  return out;
}

std::string Cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    out += Utf8Of(Cp1252Character(static_cast<unsigned char>(c)));
  }
  return out;
}

bool NextUtf8Character(std::string_view text, std::size_t& position, char32_t& character) {
  if (position >= text.size()) {
    return false;
  }
  const auto lead = static_cast<unsigned char>(text[position]);
  std::size_t length = 0;
  char32_t value = 0;
  char32_t smallest = 0;  // below this the form is overlong
  if (lead < 0x80) {
    character = lead;
    ++position;
    return true;
  }
  if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1FU, smallest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0FU, smallest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07U, smallest = 0x10000;
  } else {
    return false;
  }
  if (text.size() - position < length) {
    return false;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[position + i]);
    if ((next & 0xC0) != 0x80) {
      return false;
    }
    value = (value << 6) | (next & 0x3FU);
  }
  if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    return false;
  }
  character = value;
  position += length;
  return true;
}

Conversion Utf8ToCp1252(std::string_view text, std::string& out, std::string& problem) {
  out.clear();
  out.reserve(text.size());
  std::size_t position = 0;
  while (position < text.size()) {
    const std::size_t start = position;
    char32_t character = 0;
    if (!NextUtf8Character(text, position, character)) {
      problem = "invalid UTF-8 (byte 0x" + Hex(static_cast<unsigned char>(text[start]), 2) +
                " at offset " + std::to_string(start) + ")";
      return Conversion::kInvalidUtf8;
    }
    const int byte = ByteOf(character);
    if (byte < 0) {
      problem = "the character " + CodePointName(character);
      if (character >= 0xA0) {  // a control would not show
        problem += " '" + std::string(text.substr(start, position - start)) + "'";
      }
      problem += " has no Windows-1252 byte";
      return Conversion::kNoByte;
    }
    out += static_cast<char>(byte);
  }
  return Conversion::kDone;
}

}  // namespace datenbank_tool
