// One side of the round trip between the Linux library and the Windows DLL. The same source is
// built as a Linux program (libdatenbank.so through dlopen) and as a Windows program
// (datenbank.dll through LoadLibraryA, run under Wine); both drive the module only through the
// public header, as any host does.
//
// Usage: round_trip_tool LIBRARY COMMAND ARGS...
//   make FILE DELIM          builds the fixed sample table and saves it to FILE
//   copy IN OUT DELIM DUMP   loads IN, writes a dump of the table to DUMP, saves the table to OUT
// DELIM is the delimiter byte as two hex digits. The dump names the load's results and every
// field in hex ("-" for an absent field), so two dumps are equal exactly when the two tables are.
// Exit status 0 on success; any unexpected result code is printed and gives 1.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "datenbank.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

void Complain(const std::string& text) {
  (void)std::fputs((text + "\n").c_str(), stderr);
}

using Factory = TMainDB*(DB_CALL*)(void);

Factory LoadFactory(const char* library) {
#if defined(_WIN32)
  HMODULE module = LoadLibraryA(library);
  if (module == nullptr) {
    Complain(std::string("LoadLibraryA(") + library +
             ") failed: " + std::to_string(GetLastError()));
    return nullptr;
  }
  FARPROC symbol = GetProcAddress(module, "_CreateDatenbankClassInstance");
#else
  void* module = dlopen(library, RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    Complain(std::string("dlopen(") + library + ") failed: " + dlerror());
    return nullptr;
  }
  void* symbol = dlsym(module, "_CreateDatenbankClassInstance");
#endif
  if (symbol == nullptr) {
    Complain(std::string(library) + " has no _CreateDatenbankClassInstance");
    return nullptr;
  }
  Factory factory = nullptr;
  static_assert(sizeof(factory) == sizeof(symbol), "a function pointer fits a symbol address");
  std::memcpy(&factory, &symbol, sizeof(factory));
  return factory;
}

bool Expect(const char* what, int got, int want) {
  if (got != want) {
    Complain(std::string(what) + ": got " + std::to_string(got) + ", want " + std::to_string(want));
    return false;
  }
  return true;
}

// Every byte but NUL, CR, LF and the delimiter, which the file format cannot carry in a field.
bool Storable(unsigned char byte, char delimiter) {
  return byte != 0 && byte != '\r' && byte != '\n' && byte != static_cast<unsigned char>(delimiter);
}

// The sample table: 5 fields; a record of every storable byte one by one, a record of all of them
// in one field, fields longer than one read block, empty and absent fields, and many short records
// so that lines and fields fall across block boundaries.
bool MakeSample(TMainDB* db, char delimiter) {
  bool ok = Expect("NewTable", db->NewTable(5), dbOK);
  std::string all;
  for (int byte = 1; byte < 256; ++byte) {
    if (Storable(static_cast<unsigned char>(byte), delimiter)) {
      all += static_cast<char>(byte);
    }
  }
  int records = 0;
  for (std::size_t i = 0; i < all.size(); i += 5) {
    ok &= Expect("AddRecord", db->AddRecord(), ++records);
    for (std::size_t f = 0; f < 5 && i + f < all.size(); ++f) {
      const char text[2] = {all[i + f], '\0'};
      ok &= Expect("SetField", db->SetField(static_cast<int>(f), text), dbOK);
    }
  }
  ok &= Expect("AddRecord", db->AddRecord(), ++records);
  ok &= Expect("SetField", db->SetField(0, all.c_str()), dbOK);
  ok &= Expect("SetField", db->SetField(2, ""), dbOK);
  ok &= Expect("SetField", db->SetField(4, "\"quoted\" text, with spaces "), dbOK);
  for (const std::size_t length : {3999U, 4000U, 4001U, 12345U}) {
    std::string longText;
    for (std::size_t i = 0; i < length; ++i) {
      longText += all[(i * 7) % all.size()];
    }
    ok &= Expect("AddRecord", db->AddRecord(), ++records);
    ok &= Expect("SetField", db->SetField(static_cast<int>(length % 5), longText.c_str()), dbOK);
  }
  for (int i = 0; i < 2000; ++i) {
    ok &= Expect("AddRecord", db->AddRecord(), ++records);
    const std::string text = "r" + std::to_string(i);
    ok &= Expect("SetField", db->SetField(i % 5, text.c_str()), dbOK);
    ok &= Expect("SetField", db->SetField((i + 2) % 5, "\xE4\xF6\xFC\xDF\x80\xFF"), dbOK);
  }
  ok &= Expect("AddRecord", db->AddRecord(), ++records);  // every field absent
  return ok;
}

bool WriteDump(TMainDB* db, int loaded, int fieldCount, DB_BOOL same, const char* path) {
  static const char kHex[] = "0123456789abcdef";
  std::string dump = "loaded " + std::to_string(loaded) + " fields " + std::to_string(fieldCount) +
                     " same " + std::to_string(same) + " count " +
                     std::to_string(db->GetRecordCount()) + "\n";
  std::string buffer;
  for (int r = db->FirstRecord(); r > 0; r = db->NextRecord()) {
    dump += std::to_string(r) + ":";
    for (int f = 0; f < db->GetFieldCount(); ++f) {
      char probe[1];
      const int length = db->GetField(f, probe, 0);
      if (length == dbErrFieldEmpty) {
        dump += " -";
        continue;
      }
      buffer.assign(static_cast<std::size_t>(length < 0 ? 0 : length) + 1, '\0');
      if (length < 0 ||
          db->GetField(f, buffer.data(), static_cast<unsigned>(buffer.size())) != dbOK) {
        dump += " <code " + std::to_string(length) + ">";
        continue;
      }
      dump += " =";
      for (int i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(buffer[static_cast<std::size_t>(i)]);
        dump += kHex[byte >> 4];
        dump += kHex[byte & 15];
      }
    }
    dump += '\n';
  }
  std::FILE* out = std::fopen(path, "wb");
  if (out == nullptr) {
    Complain(std::string("cannot write ") + path);
    return false;
  }
  const bool written = std::fwrite(dump.data(), 1, dump.size(), out) == dump.size();
  return std::fclose(out) == 0 && written;
}

char ParseDelimiter(const char* hex) {
  return static_cast<char>(std::strtoul(hex, nullptr, 16));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    Complain(std::string("usage: ") + argv[0] +
             " LIBRARY make FILE DELIM | copy IN OUT DELIM DUMP");
    return 2;
  }
  Factory factory = LoadFactory(argv[1]);
  TMainDB* db = factory != nullptr ? factory() : nullptr;
  if (db == nullptr) {
    return 1;
  }
  const std::string command = argv[2];
  bool ok = false;
  if (command == "make" && argc == 5) {
    const char delimiter = ParseDelimiter(argv[4]);
    ok = MakeSample(db, delimiter);
    db->SetFileName(argv[3]);
    db->SetDelimiter(delimiter);
    ok &= Expect("SaveFile", db->SaveFile(), db->GetRecordCount());
  } else if (command == "copy" && argc == 7) {
    db->SetFileName(argv[3]);
    db->SetDelimiter(ParseDelimiter(argv[5]));
    int fieldCount = 0;
    DB_BOOL same = 0;
    const int loaded = db->LoadFile(&fieldCount, 0, &same);
    ok = loaded > 0 || Expect("LoadFile", loaded, 1);
    ok &= WriteDump(db, loaded, fieldCount, same, argv[6]);
    db->SetFileName(argv[4]);
    ok &= Expect("SaveFile", db->SaveFile(), loaded);
  } else {
    Complain("unknown command or wrong arguments: " + command);
    return 2;
  }
  db->CloseTable();
  db->FreeFileName();
  return ok ? 0 : 1;
}
