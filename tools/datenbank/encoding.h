// The encodings a table file's texts may be in, and the forms the tool writes them in: the
// terminal's table, tab-separated lines, CSV and JSON. The module stores bytes; only the tool
// decides what characters they are (--encoding, default Windows-1252), and --bytes leaves them
// undecoded where the output may carry bytes.
#ifndef DATENBANK_TOOL_ENCODING_H
#define DATENBANK_TOOL_ENCODING_H

#include <string>
#include <string_view>

#include "tools/datenbank/cp1252.h"

namespace datenbank_tool {

enum class Encoding { kCp1252, kUtf8, kLatin1 };

// cp1252 (also windows-1252), utf-8 (utf8), latin-1 (latin1, iso-8859-1), in any case.
bool ParseEncoding(std::string_view name, Encoding& encoding);
const char* EncodingName(Encoding encoding);

struct TextMode {
  Encoding encoding = Encoding::kCp1252;
  bool bytes = false;  // texts pass as bytes, undecoded
};

// Decodes the character of a field text at position and moves past it. False, position
// unchanged, for bytes that do not decode: only UTF-8 has such bytes.
bool DecodeCharacter(Encoding encoding, std::string_view text, std::size_t& position,
                     char32_t& character);

// A UTF-8 text (an argument, a CSV field) as the file's bytes. On failure problem names the
// character the encoding lacks, or the first byte that is not UTF-8.
Conversion EncodeText(Encoding encoding, std::string_view utf8, std::string& out,
                      std::string& problem);

// The terminal columns a character takes: 2 for the wide East Asian forms, 0 for combining marks,
// else 1.
int CharacterWidth(char32_t character);

// A field text as the aligned table shows it: decoded to UTF-8 (bytes unchanged with --bytes),
// a control written as \t or \xNN and a byte that does not decode as \xNN, so nothing breaks a
// row and nothing shows as another character. Appends to out; returns the columns it takes.
int AppendDisplay(std::string& out, std::string_view text, const TextMode& mode);
// The columns AppendDisplay would take, without building the text.
int DisplayWidth(std::string_view text, const TextMode& mode);
// The same for a text that ends with a NUL, in a buffer that holds at least 15 bytes after it
// (they are read, not used): the usual texts are measured 16 or 8 bytes at a time.
int StoredTextWidth(const char* text, const TextMode& mode);

// The forms of one field in the machine-readable outputs, all UTF-8 unless mode.bytes:
//  - kTsv: tab, CR, LF and backslash as \t \r \n \\; other controls as they are.
//  - kCsv: RFC 4180, quoted with doubled quotes when the text holds a comma, quote, CR or LF
//    (or begins with a byte order mark).
//  - kJson: a JSON string with its quotes.
//  - kPlain: the characters as they are.
// A byte that does not decode is written as \xNN in kTsv and kPlain when escapeUndecodable is set;
// otherwise nothing is appended and the result is the offset of the byte in text. npos on success.
enum class FieldForm { kTsv, kCsv, kJson, kPlain };
std::size_t AppendField(std::string& out, std::string_view text, const TextMode& mode,
                        FieldForm form, bool escapeUndecodable = false);

// AppendField for a text that ends with a NUL. The usual text, with no byte that needs a quote, an
// escape or a conversion, is copied in the one pass that finds its end.
std::size_t AppendStoredField(std::string& out, const char* text, const TextMode& mode,
                              FieldForm form);

// Text as UTF-8 for messages and names: undecodable bytes as \xNN.
std::string ReadableText(std::string_view text, const TextMode& mode);

}  // namespace datenbank_tool

#endif
