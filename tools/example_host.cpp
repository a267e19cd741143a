// datenbank_example: a small host that uses the module the way a real program does.
//
//   datenbank_example FILE [DELIMITER]
//
// Loads libdatenbank.so at run time (from the directory of this executable, or the path in the
// environment variable DATENBANK_LIBRARY), asks the factory for a table object, loads FILE
// (delimiter ';' unless given; "tab" stands for the tab character), prints the field count, the
// record count and every record, then sets the last field of record 1, adds a record and saves the
// table as "<name>.bearbeitet.csv" in the current directory, and prints the bytes it wrote.
//
// The module speaks Windows-1252 (its messages as well as the file's bytes); this program converts
// everything it prints to UTF-8 for the terminal and hands the module Windows-1252 bytes.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "datenbank.h"

// The table object is never destroyed. Holding it here until the process ends keeps its block
// reachable, so leak checkers do not take it for lost.
TMainDB* g_table = nullptr;

namespace {

using Factory = TMainDB* DB_CALL (*)();

// Windows-1252 to UTF-8. 0x80 to 0x9F are the code page's own characters; the five bytes it leaves
// undefined become U+FFFD.
std::string ToUtf8(const std::string& text) {
  static const unsigned kHigh[32] = {
      0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    unsigned code = byte;
    if (byte >= 0x80 && byte < 0xA0) {
      code = kHigh[byte - 0x80];
    }
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

// The library next to this executable, unless DATENBANK_LIBRARY names one.
std::string LibraryPath() {
  const char* configured = std::getenv("DATENBANK_LIBRARY");
  if (configured != nullptr && *configured != '\0') {
    return configured;
  }
  std::vector<char> self(4096);
  const ssize_t length = readlink("/proc/self/exe", self.data(), self.size() - 1);
  std::string directory = ".";
  if (length > 0) {
    directory.assign(self.data(), static_cast<std::size_t>(length));
    directory.erase(directory.find_last_of('/'));
  }
  return directory + "/libdatenbank.so";
}

// A text by the module's text-out convention: asks again with a larger buffer when the first one
// was too small. Returns the operation's negative code, or 0 with the text in text.
template <typename Get>
int FetchText(Get get, std::string& text) {
  std::vector<char> buffer(64);
  int result = get(buffer.data(), static_cast<unsigned>(buffer.size()));
  if (result > 0) {
    buffer.resize(static_cast<std::size_t>(result) + 1);
    result = get(buffer.data(), static_cast<unsigned>(buffer.size()));
  }
  text = result == 0 ? std::string(buffer.data()) : std::string();
  return result;
}

std::string Message(TMainDB* db, int code) {
  std::string text;
  FetchText([&](char* buffer, unsigned size) { return db->GetErrorText(code, buffer, size); },
            text);
  return ToUtf8(text);
}

int Fail(TMainDB* db, const std::string& what, int code) {
  std::cerr << "Fehler beim " << what << ": " << Message(db, code) << " (Code " << code << ")\n";
  return 1;
}

// Field index of the current record for display: its text in UTF-8, or "<fehlt>" when absent.
std::string FieldForDisplay(TMainDB* db, int index) {
  std::string text;
  const int result = FetchText(
      [&](char* buffer, unsigned size) { return db->GetField(index, buffer, size); }, text);
  if (result == dbErrFieldEmpty) {
    return "<fehlt>";
  }
  if (result < 0) {
    return "<" + Message(db, result) + ">";
  }
  return ToUtf8(text);
}

void PrintRecords(TMainDB* db, int fieldCount) {
  for (int position = db->FirstRecord(); position > 0; position = db->NextRecord()) {
    std::cout << "  " << position << ":";
    for (int field = 0; field < fieldCount; ++field) {
      std::cout << (field == 0 ? " " : " | ") << FieldForDisplay(db, field);
    }
    std::cout << '\n';
  }
}

// "dir/kunden.csv" -> "kunden.bearbeitet.csv"
std::string EditedName(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) {
    name.erase(dot);
  }
  return name + ".bearbeitet.csv";
}

int Run(TMainDB* db, const std::string& input, char delimiter) {
  if (db->SetFileName(input.c_str()) != 1) {
    return Fail(db, "Setzen des Dateinamens", dbErrOutOfMemory);
  }
  db->SetDelimiter(delimiter);
  int fieldCount = 0;
  DB_BOOL sameFieldCount = 0;
  const int loaded = db->LoadFile(&fieldCount, 0, &sameFieldCount);
  if (loaded < 0) {
    return Fail(db, "Laden von " + input, loaded);
  }
  std::cout << "Datei: " << input << '\n'
            << "Felder: " << db->GetFieldCount() << '\n'
            << "Datensätze: " << db->GetRecordCount() << '\n'
            << "Alle Zeilen mit gleicher Feldanzahl: " << (sameFieldCount == 1 ? "ja" : "nein")
            << '\n';
  PrintRecords(db, fieldCount);
  if (loaded == 0 || fieldCount < 1) {
    std::cout << "Die Datei ist leer; es wird nichts bearbeitet.\n";
    return 0;
  }

  // Record 1 gets a new last field; a new record is added at the end.
  int result = db->FirstRecord();
  if (result > 0) {
    result = db->SetField(fieldCount - 1, "ge\xE4ndert");
  }
  if (result < 0) {
    return Fail(db, "Bearbeiten von Datensatz 1", result);
  }
  const int added = db->AddRecord();
  if (added < 0) {
    return Fail(db, "Anfügen eines Datensatzes", added);
  }
  result = db->SetField(0, "Neuer Datensatz");
  if (result < 0) {
    return Fail(db, "Bearbeiten von Datensatz " + std::to_string(added), result);
  }
  std::cout << "\nBearbeitet: letztes Feld von Datensatz 1 gesetzt, Datensatz " << added
            << " angefügt.\n";

  const std::string output = EditedName(input);
  if (db->SetFileName(output.c_str()) != 1) {
    return Fail(db, "Setzen des Dateinamens", dbErrOutOfMemory);
  }
  const int saved = db->SaveFile();
  if (saved < 0) {
    return Fail(db, "Speichern von " + output, saved);
  }
  std::ifstream written(output, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(written)),
                          std::istreambuf_iterator<char>());
  std::cout << "Gespeichert: " << output << " (" << saved << " Datensätze, " << bytes.size()
            << " Bytes):\n";
  std::string line;
  for (const char c : bytes) {
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') {
        line.pop_back();
      }
      std::cout << "  " << ToUtf8(line) << '\n';
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) {
    std::cout << "  " << ToUtf8(line) << '\n';
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::cerr << "Aufruf: " << argv[0] << " DATEI [TRENNZEICHEN]\n"
              << "  TRENNZEICHEN: ein Zeichen (Vorgabe ';') oder \"tab\"\n";
    return 2;
  }
  const std::string input = argv[1];
  char delimiter = ';';
  if (argc == 3) {
    const std::string given = argv[2];
    if (given == "tab") {
      delimiter = '\t';
    } else if (given.size() == 1) {
      delimiter = given[0];
    } else {
      std::cerr << "Das Trennzeichen muss ein einzelnes Zeichen sein: " << given << '\n';
      return 2;
    }
  }

  const std::string libraryPath = LibraryPath();
  void* library = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::cerr << "Die Bibliothek konnte nicht geladen werden: " << dlerror() << '\n';
    return 1;
  }
  void* symbol = dlsym(library, "_CreateDatenbankClassInstance");
  if (symbol == nullptr) {
    std::cerr << libraryPath << " exportiert _CreateDatenbankClassInstance nicht.\n";
    return 1;
  }
  const auto factory = reinterpret_cast<Factory>(symbol);
  g_table = factory();
  TMainDB* db = g_table;
  if (db == nullptr) {
    std::cerr << "Die Datenbank-Instanz konnte nicht angelegt werden (kein Speicher).\n";
    return 1;
  }
  const int status = Run(db, input, delimiter);
  // The object itself is never destroyed; this releases everything it holds.
  db->CloseTable();
  db->FreeFileName();
  return status;
}
