// A program built against the installed tree: it links the library and calls the factory
// directly, writes a table and reads it back. Usage: consumer FILE
#include <datenbank.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: consumer FILE\n");
    return 2;
  }
  TMainDB* table = _CreateDatenbankClassInstance();
  if (table == nullptr) {
    std::fprintf(stderr, "no table object\n");
    return 1;
  }
  table->SetFileName(argv[1]);
  table->SetDelimiter(';');
  table->NewTable(2);
  table->AddRecord();
  table->SetField(0,
                  "Stra\xdf"
                  "e");
  table->SetField(1, "");
  if (table->SaveFile() != 1) {
    std::fprintf(stderr, "save failed\n");
    return 1;
  }
  int fields = 2;
  DB_BOOL same = 1;
  char text[16];
  if (table->LoadFile(&fields, 1, &same) != 1 || table->FirstRecord() != 1 ||
      table->GetField(0, text, sizeof text) != 0 ||
      std::strcmp(text,
                  "Stra\xdf"
                  "e") != 0) {
    std::fprintf(stderr, "the table did not read back\n");
    return 1;
  }
  int major = 0;
  int minor = 0;
  table->GetVersion(&major, &minor);
  std::printf("consumer: version %d.%d, %d fields\n", major, minor, fields);
  table->CloseTable();
  table->FreeFileName();
  return 0;
}
