#include "tools/datenbank/encoding.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace datenbank_tool {

namespace {

// A character's UTF-8 bytes, looked up per byte for the single-byte encodings.
struct Utf8Form {
  std::array<char, 3> bytes{};
  std::uint8_t length = 0;
};
using FormTable = std::array<Utf8Form, 256>;

FormTable MakeForms(Encoding encoding) {
  FormTable table{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    const char32_t character = encoding == Encoding::kCp1252
                                   ? Cp1252Character(static_cast<unsigned char>(byte))
                                   : static_cast<char32_t>(byte);
    const std::string utf8 = Utf8Of(character);
    std::copy(utf8.begin(), utf8.end(), table[byte].bytes.begin());
    table[byte].length = static_cast<std::uint8_t>(utf8.size());
  }
  return table;
}

const FormTable& Forms(Encoding encoding) {
  static const FormTable kCp1252 = MakeForms(Encoding::kCp1252);
  static const FormTable kLatin1 = MakeForms(Encoding::kLatin1);
  return encoding == Encoding::kLatin1 ? kLatin1 : kCp1252;
}

bool IsControl(char32_t character) {
  return character < 0x20 || character == 0x7F || (character >= 0x80 && character < 0xA0);
}

// The table's columns of each byte in the single-byte encodings and with --bytes: 1, or the
// length of its escape.
using WidthTable = std::array<std::uint8_t, 256>;

WidthTable MakeWidths(Encoding encoding, bool bytes) {
  WidthTable table{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    const char32_t character = bytes || encoding == Encoding::kLatin1
                                   ? static_cast<char32_t>(byte)
                                   : Cp1252Character(static_cast<unsigned char>(byte));
    const bool control = bytes ? (byte < 0x20 || byte == 0x7F) : IsControl(character);
    table[byte] = static_cast<std::uint8_t>(!control ? 1 : byte == '\t' ? 2 : 4);
  }
  return table;
}

const WidthTable& Widths(const TextMode& mode) {
  static const WidthTable kCp1252 = MakeWidths(Encoding::kCp1252, false);
  static const WidthTable kLatin1 = MakeWidths(Encoding::kLatin1, false);
  static const WidthTable kBytes = MakeWidths(Encoding::kCp1252, true);
  if (mode.bytes) {
    return kBytes;
  }
  return mode.encoding == Encoding::kLatin1 ? kLatin1 : kCp1252;
}

// The ASCII bytes a field form writes unchanged.
using ByteSet = std::array<bool, 256>;

ByteSet MakePlainBytes(FieldForm form) {
  ByteSet set{};
  for (unsigned byte = 0; byte < 0x80; ++byte) {
    const char c = static_cast<char>(byte);
    switch (form) {
      case FieldForm::kTsv:
        set[byte] = c != '\t' && c != '\r' && c != '\n' && c != '\\';
        break;
      case FieldForm::kCsv:
        set[byte] = c != '"';
        break;
      case FieldForm::kJson:
        set[byte] = byte >= 0x20 && c != '"' && c != '\\';
        break;
      case FieldForm::kPlain:
        set[byte] = true;
        break;
    }
  }
  return set;
}

const ByteSet& PlainBytes(FieldForm form) {
  static const std::array<ByteSet, 4> kSets = {
      MakePlainBytes(FieldForm::kTsv), MakePlainBytes(FieldForm::kCsv),
      MakePlainBytes(FieldForm::kJson), MakePlainBytes(FieldForm::kPlain)};
  return kSets[static_cast<std::size_t>(form)];
}

// True when a CSV field holds a comma, quote, CR or LF.
bool NeedsCsvQuotes(std::string_view text) {
  for (const char c : text) {
    if (c == ',' || c == '"' || c == '\r' || c == '\n') {
      return true;
    }
  }
  return false;
}

void AppendByteEscape(std::string& out, unsigned char byte) {
  if (byte == '\t') {
    out += "\\t";
    return;
  }
  out += "\\x";
  out += "0123456789ABCDEF"[byte >> 4];
  out += "0123456789ABCDEF"[byte & 15];
}

bool Lower(std::string_view text, std::string_view name) {
  if (text.size() != name.size()) {
    return false;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
    if (c != name[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool ParseEncoding(std::string_view name, Encoding& encoding) {
  if (Lower(name, "cp1252") || Lower(name, "windows-1252")) {
    encoding = Encoding::kCp1252;
  } else if (Lower(name, "utf-8") || Lower(name, "utf8")) {
    encoding = Encoding::kUtf8;
  } else if (Lower(name, "latin-1") || Lower(name, "latin1") || Lower(name, "iso-8859-1")) {
    encoding = Encoding::kLatin1;
  } else {
    return false;
  }
  return true;
}

const char* EncodingName(Encoding encoding) {
  switch (encoding) {
    case Encoding::kUtf8:
      return "UTF-8";
    case Encoding::kLatin1:
      return "Latin-1";
    case Encoding::kCp1252:
      break;
  }
  return "Windows-1252";
}

bool DecodeCharacter(Encoding encoding, std::string_view text, std::size_t& position,
                     char32_t& character) {
  if (encoding == Encoding::kUtf8) {
    return NextUtf8Character(text, position, character);
  }
  const auto byte = static_cast<unsigned char>(text[position++]);
  character = encoding == Encoding::kCp1252 ? Cp1252Character(byte) : byte;
  return true;
}

Conversion EncodeText(Encoding encoding, std::string_view utf8, std::string& out,
                      std::string& problem) {
  if (encoding == Encoding::kCp1252) {
    return Utf8ToCp1252(utf8, out, problem);
  }
  out.clear();
  out.reserve(utf8.size());
  std::size_t position = 0;
  while (position < utf8.size()) {
    const std::size_t start = position;
    char32_t character = 0;
    if (!NextUtf8Character(utf8, position, character)) {
      problem = "invalid UTF-8 (byte 0x" + Hex(static_cast<unsigned char>(utf8[start]), 2) +
                " at offset " + std::to_string(start) + ")";
      return Conversion::kInvalidUtf8;
    }
    if (encoding == Encoding::kUtf8) {
      out.append(utf8.substr(start, position - start));
    } else if (character <= 0xFF) {
      out += static_cast<char>(character);
    } else {
      problem = "the character U+" + Hex(static_cast<unsigned>(character), 4) + " '" +
                std::string(utf8.substr(start, position - start)) + "' has no Latin-1 byte";
      return Conversion::kNoByte;
    }
  }
  return Conversion::kDone;
}

int CharacterWidth(char32_t c) {
  if ((c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) ||
      (c >= 0x1DC0 && c <= 0x1DFF) || (c >= 0x20D0 && c <= 0x20FF) ||
      (c >= 0xFE20 && c <= 0xFE2F) || c == 0x200B || c == 0x200C || c == 0x200D) {
    return 0;
  }
  if ((c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
      (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
      (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
      (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
      (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD)) {
    return 2;
  }
  return 1;
}

int AppendDisplay(std::string& out, std::string_view text, const TextMode& mode) {
  int width = 0;
  if (mode.bytes || mode.encoding != Encoding::kUtf8) {
    const WidthTable& widths = Widths(mode);
    const FormTable& forms = Forms(mode.encoding);
    for (const char c : text) {
      const auto byte = static_cast<unsigned char>(c);
      if (widths[byte] != 1) {
        AppendByteEscape(out, byte);
      } else if (mode.bytes) {
        out += c;
      } else {
        out.append(forms[byte].bytes.data(), forms[byte].length);
      }
      width += widths[byte];
    }
    return width;
  }
  std::size_t position = 0;
  while (position < text.size()) {
    const std::size_t start = position;
    char32_t character = 0;
    if (!NextUtf8Character(text, position, character)) {
      AppendByteEscape(out, static_cast<unsigned char>(text[position++]));
      width += 4;
    } else if (IsControl(character)) {
      for (std::size_t i = start; i < position; ++i) {
        AppendByteEscape(out, static_cast<unsigned char>(text[i]));
      }
      width += character == '\t' ? 2 : static_cast<int>(4 * (position - start));
    } else {
      out.append(text.substr(start, position - start));
      width += CharacterWidth(character);
    }
  }
  return width;
}

int DisplayWidth(std::string_view text, const TextMode& mode) {
  if (mode.bytes || mode.encoding != Encoding::kUtf8) {
    const WidthTable& widths = Widths(mode);
    int width = 0;
    for (const char c : text) {
      width += widths[static_cast<unsigned char>(c)];
    }
    return width;
  }
  int width = 0;
  std::size_t position = 0;
  while (position < text.size()) {
    const auto lead = static_cast<unsigned char>(text[position]);
    if (lead >= 0x20 && lead < 0x7F) {
      ++width;
      ++position;
      continue;
    }
    const std::size_t start = position;
    char32_t character = 0;
    if (!NextUtf8Character(text, position, character)) {
      width += 4;
      ++position;
    } else if (IsControl(character)) {
      width += character == '\t' ? 2 : static_cast<int>(4 * (position - start));
    } else {
      width += CharacterWidth(character);
    }
  }
  return width;
}

int StoredTextWidth(const char* text, const TextMode& mode) {
  if (!mode.bytes && mode.encoding == Encoding::kUtf8) {
    return DisplayWidth(text, mode);
  }
  const WidthTable& widths = Widths(mode);
  int width = 0;
  const char* block = text;
#if defined(__SSE2__) && defined(__GNUC__)
  // Sixteen bytes at a time: as signed bytes, those below 0x20 and from 0x80 up compare below
  // 0x20; 0x7F is looked for apart.
  const __m128i below = _mm_set1_epi8(0x20);
  const __m128i erase = _mm_set1_epi8(0x7F);
  for (;;) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
    const int flagged =
        _mm_movemask_epi8(_mm_or_si128(_mm_cmplt_epi8(bytes, below), _mm_cmpeq_epi8(bytes, erase)));
    if (flagged == 0) {
      width += 16;
      block += 16;
      continue;
    }
    const int first = __builtin_ctz(static_cast<unsigned>(flagged));
    const auto byte = static_cast<unsigned char>(block[first]);
    if (byte == 0) {
      return width + first;
    }
    width += first + widths[byte];
    block += first + 1;
  }
#else
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  for (;;) {
    std::uint64_t word = 0;
    std::memcpy(&word, block, sizeof word);
    // A byte below 0x20 (the NUL among them) or from 0x7F up may be wider than one column or end
    // the text. A borrow or carry can flag bytes after such a byte, never one before it.
    const std::uint64_t flagged =
        (((word - 0x20 * kOnes) & ~word) | word | (word + kOnes)) & kHighBits;
    if (flagged == 0) {
      width += 8;
      block += 8;
      continue;
    }
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const int first = __builtin_ctzll(flagged) / 8;
#else
    int first = 0;
    while (first < 8 && (static_cast<unsigned char>(block[first]) < 0x20 ||
                         static_cast<unsigned char>(block[first]) >= 0x7F) == 0) {
      ++first;
    }
#endif
    const auto byte = static_cast<unsigned char>(block[first]);
    if (byte == 0) {
      return width + first;
    }
    width += first + widths[byte];
    block += first + 1;
  }
#endif
}

std::size_t AppendField(std::string& out, std::string_view text, const TextMode& mode,
                        FieldForm form, bool escapeUndecodable) {
  const std::size_t mark = out.size();
  const bool utf8 = mode.encoding == Encoding::kUtf8 && !mode.bytes;
  // A CSV field that begins with a byte order mark is quoted too: a reader would take the mark at
  // the start of the file for its own.
  const bool quote =
      form == FieldForm::kJson ||
      (form == FieldForm::kCsv &&
       (NeedsCsvQuotes(text) || ((utf8 || mode.bytes) && text.rfind("\xEF\xBB\xBF", 0) == 0)));
  if (quote) {
    out += '"';
  }
  const FormTable& forms = Forms(mode.encoding);
  const ByteSet& plain = PlainBytes(form);
  std::size_t position = 0;
  while (position < text.size()) {
    // The bytes every form writes as they are, in one piece.
    const std::size_t run = position;
    while (position < text.size() && plain[static_cast<unsigned char>(text[position])]) {
      ++position;
    }
    out.append(text.data() + run, position - run);
    if (position == text.size()) {
      break;
    }
    const char c = text[position];
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      ++position;
      if (form == FieldForm::kTsv && (c == '\t' || c == '\r' || c == '\n' || c == '\\')) {
        out += '\\';
        out += c == '\t' ? 't' : c == '\r' ? 'r' : c == '\n' ? 'n' : '\\';
      } else if (form == FieldForm::kCsv && c == '"') {
        out += "\"\"";
      } else if (form == FieldForm::kJson && (c == '"' || c == '\\')) {
        out += '\\';
        out += c;
      } else if (form == FieldForm::kJson && byte < 0x20) {
        out += c == '\t' ? "\\t" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\u00";
        if (c != '\t' && c != '\n' && c != '\r') {
          out += "0123456789abcdef"[byte >> 4];
          out += "0123456789abcdef"[byte & 15];
        }
      } else {
        out += c;
      }
    } else if (mode.bytes) {
      out += c;
      ++position;
    } else if (!utf8) {
      out.append(forms[byte].bytes.data(), forms[byte].length);
      ++position;
    } else {
      const std::size_t start = position;
      char32_t character = 0;
      if (NextUtf8Character(text, position, character)) {
        out.append(text.substr(start, position - start));
      } else if ((form == FieldForm::kTsv || form == FieldForm::kPlain) && escapeUndecodable) {
        AppendByteEscape(out, byte);
        ++position;
      } else {
        out.resize(mark);
        return start;
      }
    }
  }
  if (quote) {
    out += '"';
  }
  return std::string_view::npos;
}

std::size_t AppendStoredField(std::string& out, const char* text, const TextMode& mode,
                              FieldForm form) {
  // The bytes that need nothing: those the form writes unchanged, less what makes CSV quote.
  static const std::array<ByteSet, 4> kUnchanged = [] {
    std::array<ByteSet, 4> sets{};
    for (std::size_t each = 0; each < sets.size(); ++each) {
      sets[each] = PlainBytes(static_cast<FieldForm>(each));
      sets[each][0] = false;
      if (static_cast<FieldForm>(each) == FieldForm::kCsv) {
        sets[each][','] = sets[each]['\r'] = sets[each]['\n'] = false;
      }
    }
    return sets;
  }();
  const ByteSet& unchanged = kUnchanged[static_cast<std::size_t>(form)];
  const char* end = text;
  while (unchanged[static_cast<unsigned char>(*end)]) {
    ++end;
  }
  if (*end != '\0') {
    return AppendField(out, std::string_view(text, end - text + std::strlen(end)), mode, form);
  }
  if (form == FieldForm::kJson) {
    out += '"';
  }
  out.append(text, static_cast<std::size_t>(end - text));
  if (form == FieldForm::kJson) {
    out += '"';
  }
  return std::string_view::npos;
}

std::string ReadableText(std::string_view text, const TextMode& mode) {
  std::string out;
  AppendDisplay(out, text, mode);
  return out;
}

}  // namespace datenbank_tool
