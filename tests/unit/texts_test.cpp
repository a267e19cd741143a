// The module's own texts: the message of every result code, the version and the information
// texts. All are Windows-1252 bytes; the expected texts below are written out byte by byte.
#include <climits>
#include <cstring>
#include <functional>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using dbtest::TempDir;

struct Message {
  int code;
  const char* text;
  std::size_t bytes;  // without the NUL; umlauts and sharp s are one byte each
};

// Literals are split where a hex escape would swallow the next letter.
const Message kMessages[] = {
    {0, "Es ist kein Fehler aufgetreten.", 31},
    {-1, "Unbekannter Fehler.", 19},
    {-2, "Die angegebene Datei wurde nicht gefunden.", 42},
    {-3, "Beim Zugriff auf die Datei ist ein Fehler aufgetreten.", 54},
    {-4, "Es wurde keine Datei angegeben.", 31},
    {-5,
     "Einige oder alle Datens\xE4tze in der Datei haben eine andere Anzahl von Feldern als "
     "erwartet.",
     91},
    {-6, "Es wurde kein Trennzeichen angegeben.", 37},
    {-7, "Es konnte nicht genug Speicherplatz reserviert werden, um die Aktion auszuf\xFChren.",
     81},
    {-8,
     "Integrit\xE4tsfehler. In der Datei sind unterschiedlich gro\xDF"
     "e Datens\xE4tze enthalten.",
     80},
    {-9, "Es wurde kein Datensatz ausgew\xE4hlt.", 35},
    {-10, "Die Datenbank enth\xE4lt keine Datens\xE4tze oder es wurde keine Datenbank geladen.",
     77},
    {-11, "Das angegebene Feld existiert nicht.", 36},
    {-12, "Das angegebene Feld enth\xE4lt keine Daten.", 40},
    {-13, "Der angeforderte Datensatz ist nicht vorhanden.", 47},
    {-14,
     "Es ist ein Fehler beim Schreiben der Datenbank-Datei aufgetreten. M\xF6glicherweise ist "
     "das Ger\xE4t nicht bereit oder es ist nicht genug freier Speicher vorhanden.",
     158},
    {-15,
     "Es ist noch keine Datenbank ge\xF6"
     "ffnet/geladen worden.",
     52},
};

const char kDescription[] =
    "Datenbank-Modul f\xFCr CSV- und \xE4hnliche Dateien. L\xE4"
    "dt Textdateien mit Trennzeichen, bearbeitet und speichert sie.";

using TextCall = std::function<int(char*, unsigned)>;
constexpr char kUntouched = 'Z';

// Drives one text-out operation through every buffer-size edge for a text known to the byte.
void ExpectTextOut(const TextCall& call, const std::string& text) {
  const std::size_t n = text.size();
  const auto un = static_cast<unsigned>(n);
  const std::string untouched(n + 64, kUntouched);
  std::string buffer;
  auto run = [&](unsigned size) {
    buffer = untouched;
    return call(buffer.data(), size);
  };
  EXPECT_EQ(run(0), static_cast<int>(n));
  EXPECT_EQ(buffer, untouched) << "size 0 writes nothing";
  for (const unsigned size : {0U, 1U, un, un + 1, 100000U}) {
    EXPECT_EQ(call(nullptr, size), static_cast<int>(n)) << "null buffer, size " << size;
  }
  // Too small: only the leading NUL is written.
  for (const unsigned size : {1U, un}) {
    EXPECT_EQ(run(size), static_cast<int>(n)) << "size " << size;
    EXPECT_EQ(buffer, '\0' + untouched.substr(1)) << "size " << size;
  }
  // Large enough: the text and its NUL, nothing after them.
  for (const unsigned size : {un + 1, un + 2, UINT_MAX}) {
    EXPECT_EQ(run(size), 0) << "size " << size;
    EXPECT_EQ(buffer, text + '\0' + untouched.substr(n + 1)) << "size " << size;
  }
}

// The full text through a buffer that is surely large enough.
std::string FetchText(const TextCall& call) {
  std::vector<char> buffer(4096, kUntouched);
  EXPECT_EQ(call(buffer.data(), static_cast<unsigned>(buffer.size())), 0);
  return {buffer.data()};
}

// True when text is one line of Windows-1252: no control bytes, no byte that the code page leaves
// undefined, and no UTF-8 sequence (a source-encoding slip) posing as Windows-1252.
bool IsWindows1252Line(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0U;
    if (byte < 0x20 || byte == 0x7F || byte == 0x81 || byte == 0x8D || byte == 0x8F ||
        byte == 0x90 || byte == 0x9D ||
        (byte >= 0xC2 && byte <= 0xF4 && next >= 0x80 && next <= 0xBF)) {
      return false;
    }
  }
  return true;
}

TEST(ErrorTextTest, EveryCodeHasItsMessageToTheByte) {
  TDatenbank* db = dbtest::NewTable();
  ASSERT_EQ(std::size(kMessages), 16U);
  for (const Message& message : kMessages) {
    SCOPED_TRACE("code " + std::to_string(message.code));
    ASSERT_EQ(std::strlen(message.text), message.bytes);
    EXPECT_TRUE(IsWindows1252Line(message.text));
    ExpectTextOut([&](char* b, unsigned s) { return db->GetErrorText(message.code, b, s); },
                  message.text);
  }
  // A buffer of the advertised size takes the longest message, one byte less does not.
  char buffer[DB_MESSAGE_BUFFER_SIZE];
  EXPECT_EQ(db->GetErrorText(dbErrWriteFailed, buffer, sizeof(buffer)), 0);
  EXPECT_EQ(db->GetErrorText(dbErrWriteFailed, buffer, sizeof(buffer) - 1), 158);
}

TEST(ErrorTextTest, UnknownCodesGiveUnknownAndEmptyBuffer) {
  TDatenbank* db = dbtest::NewTable();
  for (const int code : {1, 2, 100, -16, -17, -1000, INT_MAX, INT_MIN}) {
    SCOPED_TRACE("code " + std::to_string(code));
    for (const unsigned size : {200U, 1U, 0U}) {
      char buffer[200];
      std::memset(buffer, kUntouched, sizeof(buffer));
      EXPECT_EQ(db->GetErrorText(code, buffer, size), dbErrUnknown);
      EXPECT_EQ(buffer[0], size > 0 ? '\0' : kUntouched);
      EXPECT_EQ(buffer[1], kUntouched);
    }
    EXPECT_EQ(db->GetErrorText(code, nullptr, 200), dbErrUnknown);
  }
}

TEST(VersionTest, NumbersAndText) {
  TDatenbank* db = dbtest::NewTable();
  int major = 0;
  int minor = 0;
  EXPECT_EQ(db->GetVersion(&major, &minor), 1);
  EXPECT_EQ(major, 1);
  EXPECT_EQ(minor, 1);
  // Null pointers are skipped; the other number is still written.
  major = minor = 0;
  EXPECT_EQ(db->GetVersion(nullptr, &minor), 1);
  EXPECT_EQ(db->GetVersion(&major, nullptr), 1);
  EXPECT_EQ(major * 10 + minor, 11);
  EXPECT_EQ(db->GetVersion(nullptr, nullptr), 1);

  EXPECT_EQ(db->GetVersionTextLength(), 13);
  char buffer[32];
  std::memset(buffer, kUntouched, sizeof(buffer));
  EXPECT_EQ(db->GetVersionText(buffer), 1);
  EXPECT_EQ(std::string(buffer, 15), std::string("Beta-Version!\0", 14) + kUntouched);
  EXPECT_EQ(db->GetVersionText(nullptr), 1);
}

// The calling convention is part of the type: take it from the declaration.
using InfoOp = decltype(&TMainDB::GetModuleName);
const InfoOp kInfoOps[] = {&TMainDB::GetModuleName, &TMainDB::GetCopyrightText,
                           &TMainDB::GetMakerText, &TMainDB::GetDescription};

TextCall InfoCall(TMainDB* db, InfoOp op) {
  return [db, op](char* buffer, unsigned size) { return (db->*op)(buffer, size); };
}

TEST(InfoTextTest, EveryTextFollowsTheTextOutConvention) {
  TDatenbank* db = dbtest::NewTable();
  ASSERT_EQ(std::strlen(kDescription), 111U);
  EXPECT_EQ(FetchText(InfoCall(db, &TMainDB::GetModuleName)), "Ovelt Datenbank");
  EXPECT_EQ(FetchText(InfoCall(db, &TMainDB::GetDescription)), kDescription);
  for (std::size_t i = 0; i < std::size(kInfoOps); ++i) {
    SCOPED_TRACE("text " + std::to_string(i));
    const TextCall call = InfoCall(db, kInfoOps[i]);
    const std::string text = FetchText(call);
    EXPECT_FALSE(text.empty());
    EXPECT_TRUE(IsWindows1252Line(text)) << text;
    ExpectTextOut(call, text);
  }
}

// The wording is free; the form is not. Copyright: the years, the holder, then the German
// formula. Maker: name and postal address (with a number), then a labelled web address and a
// labelled e-mail address, both on example domains.
TEST(InfoTextTest, CopyrightAndMakerHaveTheirForm) {
  TDatenbank* db = dbtest::NewTable();
  const std::string copyright = FetchText(InfoCall(db, &TMainDB::GetCopyrightText));
  EXPECT_TRUE(std::regex_search(
      copyright, std::regex("(19|20)[0-9]{2}[^A-Za-z]*[A-Za-z].* Alle Rechte vorbehalten\\.?$")))
      << copyright;
  const std::string maker = FetchText(InfoCall(db, &TMainDB::GetMakerText));
  EXPECT_TRUE(std::regex_search(
      maker, std::regex("^[^:]+ [^:]*[0-9][^:]* [A-Za-z-]+: +(https?://)?[A-Za-z0-9.-]+\\.example"
                        "[^ ]* .*[A-Za-z-]+: +[A-Za-z0-9._-]+@[A-Za-z0-9.-]+\\.example\\.?$")))
      << maker;
}

// Everything the texts operations report, for comparing objects.
std::string TextsReport(TMainDB* db) {
  std::string report;
  char buffer[300];
  auto add = [&](int result, unsigned size) {
    report += std::to_string(result) + ":" + (size > 0 ? buffer : "") + "\n";
  };
  for (const unsigned size : {0U, 20U, 300U}) {
    for (const int code : {2, 1, 0, -1, -7, -14, -15, -16, INT_MIN}) {
      add(db->GetErrorText(code, buffer, size), size);
    }
    for (const InfoOp op : kInfoOps) {
      add((db->*op)(buffer, size), size);
    }
  }
  int major = 0;
  int minor = 0;
  const int flag = db->GetVersion(&major, &minor);
  db->GetVersionText(buffer);
  add(flag * 1000 + major * 100 + minor * 10 + db->GetVersionTextLength(), 1);
  return report;
}

TEST(TextsTest, SameOnFreshAndOpenTableAndNothingChanges) {
  TempDir dir;
  TDatenbank* fresh = dbtest::NewTable();
  TDatenbank* loaded = dbtest::NewTable();
  ASSERT_EQ(dbtest::LoadBytes(loaded, dir, "a;b\r\nc;d\r\ne;f\r\n"), 3);
  ASSERT_EQ(loaded->NextRecord(), 1);
  ASSERT_EQ(loaded->NextRecord(), 2);
  const std::string report = TextsReport(fresh);
  EXPECT_EQ(TextsReport(loaded), report);
  EXPECT_EQ(TextsReport(fresh), report);
  EXPECT_EQ(fresh->GetRecordCount(), dbErrNotOpen);
  EXPECT_EQ(loaded->GetRecordIndex(), 2);
  EXPECT_INVARIANTS(loaded);
  EXPECT_EQ(dbtest::Dump(loaded), "a|b\nc|d\ne|f\n");
}

}  // namespace
