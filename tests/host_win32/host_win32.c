/*
 * A Windows host written in plain C that knows the module only as datenbank.dll: it loads the
 * library with LoadLibraryA, finds the factory with GetProcAddress under its exact name and calls
 * the 29 operations by slot number through the object's table of operations, each through a
 * __cdecl function-pointer type with the object pointer as the first argument (on 32-bit x86 the
 * first stack argument; x64 has the one calling convention, with the object in the first
 * register). The types are declared here from the published binary interface, not taken from the
 * module's header, so a slot that moved, an argument that changed width or a calling convention
 * that changed (thiscall, stdcall) shows up as a failure or a crash here. The same source is built
 * for both widths and runs the same cases against the DLL of its own width.
 *
 * It also reads the library's version resource and compares it with what the operations report.
 *
 * Usage: host_win32 [--load-only]
 *   The library is looked up as "datenbank.dll" (the host's own directory first).
 *   --load-only loads the library and unloads it without calling anything in it.
 * Prints one line per failed check and "N passed, M failed" at the end; exits 0 only when nothing
 * failed.
 */
#include <windows.h>

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

/* Every buffer below is sized where it is used; the bounds-checked variants (snprintf_s,
 * memset_s) would add nothing but a dependency on the C runtime's Annex K. */
/* NOLINTBEGIN(clang-analyzer-security.insecureAPI.DeprecatedOrUnsafeBufferHandling) */

/* ---- the binary interface, by slot ---- */

typedef void (*slot_fn)(void); /* any entry; cast back to its own type before the call */

typedef const char*(__cdecl* fn_cstr)(void*);                            /* 0 */
typedef unsigned char(__cdecl* fn_flag_text)(void*, const char*);        /* 1 */
typedef unsigned char(__cdecl* fn_flag)(void*);                          /* 2, 10 */
typedef unsigned char(__cdecl* fn_flag_char)(void*, char);               /* 3 */
typedef char(__cdecl* fn_char)(void*);                                   /* 4 */
typedef unsigned char(__cdecl* fn_flag_ints)(void*, int32_t*, int32_t*); /* 5 */
typedef int32_t(__cdecl* fn_int)(void*);                                 /* 6, 13-19, 25-27 */
typedef unsigned char(__cdecl* fn_flag_buf)(void*, char*);               /* 7 */
typedef int32_t(__cdecl* fn_load)(void*, int32_t*, unsigned char, unsigned char*); /* 8, 9 */
typedef int32_t(__cdecl* fn_int_index_buf)(void*, int32_t, char*, uint32_t);       /* 11, 12 */
typedef int32_t(__cdecl* fn_int_buf)(void*, char*, uint32_t);                      /* 20-23 */
typedef int32_t(__cdecl* fn_int_index_text)(void*, int32_t, const char*);          /* 24 */
typedef int32_t(__cdecl* fn_int_int)(void*, int32_t);                              /* 28 */

/* A one-byte or 32-bit argument occupies a whole stack slot (32-bit x86) or register (x64); only
 * its own bytes may count. These types put chosen bits into the rest of the slot. */
typedef uintptr_t wide_arg;
#if defined(_WIN64)
#define WIDE(low) ((wide_arg)0x5A5A5A5A00000000ULL | (uint32_t)(low))
#else
#define WIDE(low) ((wide_arg)(uint32_t)(low))
#endif
typedef unsigned char(__cdecl* fn_flag_wide)(void*, wide_arg);                     /* 3 */
typedef int32_t(__cdecl* fn_load_wide)(void*, int32_t*, wide_arg, unsigned char*); /* 8, 9 */
typedef int32_t(__cdecl* fn_field_wide)(void*, wide_arg, char*, wide_arg);         /* 11 */

typedef void*(__cdecl* factory_fn)(void);
typedef BOOL(WINAPI* entry_fn)(HINSTANCE, DWORD, LPVOID);

enum {
  kGetFileName = 0,
  kSetFileName,
  kFreeFileName,
  kSetDelimiter,
  kGetDelimiter,
  kGetVersion,
  kGetVersionTextLength,
  kGetVersionText,
  kLoadFile,
  kAppendFile,
  kCloseTable,
  kGetField,
  kGetErrorText,
  kNextRecord,
  kFirstRecord,
  kLastRecord,
  kPriorRecord,
  kGetFieldCount,
  kGetRecordIndex,
  kGetRecordCount,
  kGetModuleName,
  kGetCopyrightText,
  kGetMakerText,
  kGetDescription,
  kSetField,
  kSaveFile,
  kDeleteRecord,
  kAddRecord,
  kNewTable
};

enum {
  kOk = 0,
  kErrUnknown = -1,
  kErrFileNotFound = -2,
  kErrFileAccess = -3,
  kErrNoFileName = -4,
  kErrFieldCount = -5,
  kErrNoDelimiter = -6,
  kErrIntegrity = -8,
  kErrNoRecordSelected = -9,
  kErrNoRecords = -10,
  kErrNoSuchField = -11,
  kErrFieldEmpty = -12,
  kErrNoSuchRecord = -13,
  kErrNotOpen = -15
};

static const char kDescription[] =
    "Datenbank-Modul f\xFCr CSV- und \xE4hnliche Dateien. L\xE4"
    "dt Textdateien mit Trennzeichen, bearbeitet und speichert sie.";

static slot_fn Slot(void* object, int slot) {
  const slot_fn* table = *(const slot_fn* const*)object;
  return table[slot];
}

/* One wrapper per slot: the object pointer goes first, as the interface requires. */
static const char* DbGetFileName(void* o) {
  return ((fn_cstr)Slot(o, kGetFileName))(o);
}
static unsigned char DbSetFileName(void* o, const char* p) {
  return ((fn_flag_text)Slot(o, kSetFileName))(o, p);
}
static unsigned char DbFreeFileName(void* o) {
  return ((fn_flag)Slot(o, kFreeFileName))(o);
}
static unsigned char DbSetDelimiter(void* o, char d) {
  return ((fn_flag_char)Slot(o, kSetDelimiter))(o, d);
}
static char DbGetDelimiter(void* o) {
  return ((fn_char)Slot(o, kGetDelimiter))(o);
}
static unsigned char DbGetVersion(void* o, int32_t* major, int32_t* minor) {
  return ((fn_flag_ints)Slot(o, kGetVersion))(o, major, minor);
}
static unsigned char DbGetVersionText(void* o, char* b) {
  return ((fn_flag_buf)Slot(o, kGetVersionText))(o, b);
}
static int32_t DbLoadFile(void* o, int32_t* n, unsigned char check, unsigned char* same) {
  return ((fn_load)Slot(o, kLoadFile))(o, n, check, same);
}
static int32_t DbAppendFile(void* o, int32_t* n, unsigned char check, unsigned char* same) {
  return ((fn_load)Slot(o, kAppendFile))(o, n, check, same);
}
static unsigned char DbCloseTable(void* o) {
  return ((fn_flag)Slot(o, kCloseTable))(o);
}
static int32_t DbGetField(void* o, int32_t i, char* b, uint32_t size) {
  return ((fn_int_index_buf)Slot(o, kGetField))(o, i, b, size);
}
static int32_t DbGetErrorText(void* o, int32_t code, char* b, uint32_t size) {
  return ((fn_int_index_buf)Slot(o, kGetErrorText))(o, code, b, size);
}
static int32_t DbCallInt(void* o, int slot) {
  return ((fn_int)Slot(o, slot))(o);
}
static int32_t DbCallText(void* o, int slot, char* b, uint32_t size) {
  return ((fn_int_buf)Slot(o, slot))(o, b, size);
}
static int32_t DbSetField(void* o, int32_t i, const char* text) {
  return ((fn_int_index_text)Slot(o, kSetField))(o, i, text);
}
static int32_t DbNewTable(void* o, int32_t fields) {
  return ((fn_int_int)Slot(o, kNewTable))(o, fields);
}

/* ---- checks ---- */

static int g_passed;
static int g_failed;

static void Check(int ok, const char* format, ...) {
  if (ok) {
    ++g_passed;
    return;
  }
  ++g_failed;
  va_list args;
  va_start(args, format);
  (void)fputs("FAILED: ", stdout);
  vprintf(format, args);
  (void)fputc('\n', stdout);
  va_end(args);
}

static void CheckInt(int32_t got, int32_t want, const char* what) {
  Check(got == want, "%s: got %ld, want %ld", what, (long)got, (long)want);
}

static void CheckText(const char* got, const char* want, const char* what) {
  Check(got != NULL && strcmp(got, want) == 0, "%s: got \"%s\", want \"%s\"", what,
        got != NULL ? got : "(null)", want);
}

/* ---- files ---- */

static char g_dir[MAX_PATH];

static void PathIn(char* out, const char* name) {
  (void)snprintf(out, MAX_PATH, "%s\\%s", g_dir, name);
}

static int WriteWholeFile(const char* path, const char* bytes, DWORD size) {
  HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (h == INVALID_HANDLE_VALUE) {
    return 0;
  }
  DWORD written = 0;
  BOOL ok = size == 0 || WriteFile(h, bytes, size, &written, NULL);
  CloseHandle(h);
  return ok && written == size;
}

/* The file's bytes into buffer; their number, or -1 when it cannot be read. */
static long ReadWholeFile(const char* path, char* buffer, DWORD capacity) {
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (h == INVALID_HANDLE_VALUE) {
    return -1;
  }
  DWORD got = 0;
  BOOL ok = ReadFile(h, buffer, capacity, &got, NULL);
  CloseHandle(h);
  return ok ? (long)got : -1;
}

static void CheckFileBytes(const char* path, const char* want, DWORD size, const char* what) {
  char buffer[4096];
  long got = ReadWholeFile(path, buffer, sizeof(buffer));
  Check(got == (long)size && memcmp(buffer, want, size) == 0, "%s: %s holds %ld bytes, want %lu",
        what, path, got, (unsigned long)size);
}

static void MakeDirectory(void) {
  char base[MAX_PATH];
  DWORD n = GetTempPathA(sizeof(base), base);
  if (n == 0 || n >= sizeof(base)) {
    memcpy(base, ".\\", 3);
  }
  (void)snprintf(g_dir, sizeof(g_dir), "%sdatenbank-host-%lu-%lu", base,
                 (unsigned long)GetCurrentProcessId(), (unsigned long)GetTickCount());
  Check(CreateDirectoryA(g_dir, NULL) != 0, "CreateDirectoryA %s", g_dir);
}

static void RemoveDirectoryTree(void) {
  char pattern[MAX_PATH];
  WIN32_FIND_DATAA entry;
  PathIn(pattern, "*");
  HANDLE search = FindFirstFileA(pattern, &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        char path[MAX_PATH];
        PathIn(path, entry.cFileName);
        DeleteFileA(path);
      }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryA(g_dir);
}

/* Number of entries in the work directory: a save leaves no temporary file behind. */
static int CountEntries(void) {
  char pattern[MAX_PATH];
  WIN32_FIND_DATAA entry;
  int count = 0;
  PathIn(pattern, "*");
  HANDLE search = FindFirstFileA(pattern, &entry);
  if (search == INVALID_HANDLE_VALUE) {
    return 0;
  }
  do {
    if (strcmp(entry.cFileName, ".") != 0 && strcmp(entry.cFileName, "..") != 0) {
      ++count;
    }
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return count;
}

/* ---- the version resource ---- */

static const char* VersionString(const void* info, const char* name) {
  char query[128];
  void* value = NULL;
  UINT length = 0;
  (void)snprintf(query, sizeof(query), "\\StringFileInfo\\040704E4\\%s", name);
  if (!VerQueryValueA(info, query, &value, &length) || value == NULL) {
    return NULL;
  }
  return (const char*)value;
}

static void CheckVersionResource(HMODULE library, void* object) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(library, path, sizeof(path));
  Check(n > 0 && n < sizeof(path), "GetModuleFileNameA of the library");
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  Check(size > 0, "the library has a version resource (GetFileVersionInfoSizeA)");
  static char info[16384];
  if (size == 0 || size > sizeof(info) || !GetFileVersionInfoA(path, 0, size, info)) {
    Check(0, "GetFileVersionInfoA of %s (%lu bytes)", path, (unsigned long)size);
    return;
  }

  VS_FIXEDFILEINFO* fixed = NULL;
  UINT length = 0;
  if (!VerQueryValueA(info, "\\", (void**)&fixed, &length) || fixed == NULL ||
      length < sizeof(*fixed)) {
    Check(0, "VerQueryValueA \\ (fixed part)");
    return;
  }
  Check(fixed->dwSignature == 0xFEEF04BDUL, "fixed part signature");
  Check(
      fixed->dwFileVersionMS == 0x00010001UL && fixed->dwFileVersionLS == 0,
      "file version 1.1.0.0 in the fixed part: got %lu.%lu.%lu.%lu",
      (unsigned long)HIWORD(fixed->dwFileVersionMS), (unsigned long)LOWORD(fixed->dwFileVersionMS),
      (unsigned long)HIWORD(fixed->dwFileVersionLS), (unsigned long)LOWORD(fixed->dwFileVersionLS));
  Check(fixed->dwProductVersionMS == 0x00010001UL && fixed->dwProductVersionLS == 0,
        "product version 1.1.0.0 in the fixed part");
  Check(fixed->dwFileType == VFT_DLL, "file type VFT_DLL");

  WORD* translation = NULL;
  if (!VerQueryValueA(info, "\\VarFileInfo\\Translation", (void**)&translation, &length) ||
      translation == NULL || length < 4) {
    Check(0, "VerQueryValueA \\VarFileInfo\\Translation");
  } else {
    Check(translation[0] == 0x0407 && translation[1] == 1252,
          "translation German (Germany) / 1252: got %04x/%u", translation[0], translation[1]);
  }

  CheckText(VersionString(info, "FileVersion"), "1.1.0.0", "FileVersion string");
  CheckText(VersionString(info, "ProductVersion"), "1.1.0.0", "ProductVersion string");
  CheckText(VersionString(info, "OriginalFilename"), "datenbank.dll", "OriginalFilename");

  /* The resource's texts are the module's own, byte for byte in code page 1252. */
  static const struct {
    const char* name;
    int slot;
  } kTexts[] = {{"ProductName", kGetModuleName},
                {"LegalCopyright", kGetCopyrightText},
                {"FileDescription", kGetDescription},
                {"Comments", kGetMakerText}};
  for (size_t i = 0; i < sizeof(kTexts) / sizeof(kTexts[0]); ++i) {
    char text[512];
    CheckInt(DbCallText(object, kTexts[i].slot, text, sizeof(text)), 0, kTexts[i].name);
    CheckText(VersionString(info, kTexts[i].name), text, kTexts[i].name);
  }
  const char* company = VersionString(info, "CompanyName");
  char maker[512];
  DbCallText(object, kGetMakerText, maker, sizeof(maker));
  Check(company != NULL && company[0] != '\0' && strncmp(maker, company, strlen(company)) == 0,
        "CompanyName \"%s\" begins the maker text", company != NULL ? company : "(null)");
}

/* ---- the library entry ---- */

static DWORD WINAPI ThreadMain(LPVOID unused) {
  (void)unused;
  return 0;
}

static void CheckEntry(HMODULE library) {
  const IMAGE_DOS_HEADER* dos = (const IMAGE_DOS_HEADER*)library;
  const IMAGE_NT_HEADERS* nt = (const IMAGE_NT_HEADERS*)((const char*)library + dos->e_lfanew);
#if defined(_WIN64)
  Check(nt->FileHeader.Machine == IMAGE_FILE_MACHINE_AMD64, "the library is x64");
  Check(nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC, "the library is a PE32+ image");
#else
  Check(nt->FileHeader.Machine == IMAGE_FILE_MACHINE_I386, "the library is 32-bit x86");
#endif
  Check((nt->FileHeader.Characteristics & IMAGE_FILE_DLL) != 0, "the library is a DLL");
  /* Thread notifications reach the entry through the loader; answering anything but 1 would not
   * stop a thread, so the entry is also asked directly. */
  HANDLE thread = CreateThread(NULL, 0, ThreadMain, NULL, 0, NULL);
  Check(thread != NULL && WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0,
        "a thread starts and ends while the library is loaded");
  if (thread != NULL) {
    CloseHandle(thread);
  }
  const void* address = (const char*)library + nt->OptionalHeader.AddressOfEntryPoint;
  entry_fn entry;
  memcpy(&entry, &address, sizeof(entry));
  Check(entry((HINSTANCE)library, DLL_THREAD_ATTACH, NULL) == 1,
        "entry answers 1 to thread attach");
  Check(entry((HINSTANCE)library, DLL_THREAD_DETACH, NULL) == 1,
        "entry answers 1 to thread detach");
}

/* ---- the operations ---- */

static void CheckFreshObject(void* db) {
  Check(DbGetFileName(db) == NULL, "new object: GetFileName is null");
  CheckInt(DbGetDelimiter(db), 0, "new object: GetDelimiter");
  CheckInt(DbCloseTable(db), 1, "new object: CloseTable");
  static const int kClosedSlots[] = {kGetFieldCount, kGetRecordCount, kGetRecordIndex, kNextRecord,
                                     kFirstRecord,   kLastRecord,     kPriorRecord,    kSaveFile,
                                     kDeleteRecord,  kAddRecord};
  for (size_t i = 0; i < sizeof(kClosedSlots) / sizeof(kClosedSlots[0]); ++i) {
    char what[64];
    (void)snprintf(what, sizeof(what), "new object: slot %d", kClosedSlots[i]);
    CheckInt(DbCallInt(db, kClosedSlots[i]), kErrNotOpen, what);
  }
  char buffer[8] = "zzzzzzz";
  CheckInt(DbGetField(db, 0, buffer, sizeof(buffer)), kErrNotOpen, "new object: GetField");
  Check(buffer[0] == '\0', "GetField -15 leaves the empty text");
  CheckInt(DbSetField(db, 0, "x"), kErrNotOpen, "new object: SetField");
  int32_t count = 5;
  unsigned char same = 0;
  CheckInt(DbAppendFile(db, &count, 0, &same), kErrNotOpen, "new object: AppendFile");
  CheckInt(count, 5, "AppendFile -15 leaves *fieldCount alone");
}

static void CheckInformation(void* db) {
  int32_t major = 77;
  int32_t minor = 77;
  CheckInt(DbGetVersion(db, &major, &minor), 1, "GetVersion result is exactly 1");
  Check(major == 1 && minor == 1, "GetVersion writes 1.1: got %ld.%ld", (long)major, (long)minor);
  CheckInt(DbCallInt(db, kGetVersionTextLength), 13, "GetVersionTextLength");
  char version[16];
  memset(version, 'z', sizeof(version));
  CheckInt(DbGetVersionText(db, version), 1, "GetVersionText result");
  Check(memcmp(version, "Beta-Version!", 14) == 0 && version[14] == 'z',
        "GetVersionText writes exactly the 13 characters and the NUL");

  char buffer[160];
  CheckInt(DbCallText(db, kGetDescription, buffer, 112), 0, "GetDescription, size 112");
  CheckText(buffer, kDescription, "GetDescription bytes (Windows-1252)");
  CheckInt(DbCallText(db, kGetDescription, buffer, 111), 111, "GetDescription, size 111");
  Check(buffer[0] == '\0', "GetDescription too small leaves the empty text");
  buffer[0] = 'q';
  CheckInt(DbCallText(db, kGetModuleName, buffer, 0), 15, "GetModuleName, size 0");
  Check(buffer[0] == 'q', "size 0 leaves the buffer untouched");
  CheckInt(DbCallText(db, kGetModuleName, buffer, 16), 0, "GetModuleName, size 16");
  CheckText(buffer, "Ovelt Datenbank", "GetModuleName text");
  CheckInt(DbCallText(db, kGetModuleName, buffer, 15), 15, "GetModuleName, size 15");
  CheckInt(DbCallText(db, kGetCopyrightText, buffer, sizeof(buffer)), 0, "GetCopyrightText");
  Check(strlen(buffer) > 0 && strchr(buffer, '\n') == NULL, "copyright: one non-empty line");
  CheckInt(DbCallText(db, kGetMakerText, buffer, sizeof(buffer)), 0, "GetMakerText");
  Check(strstr(buffer, ".example") != NULL, "maker text names example addresses");

  CheckInt(DbGetErrorText(db, 0, buffer, 32), 0, "GetErrorText(0), size 32");
  CheckText(buffer, "Es ist kein Fehler aufgetreten.", "message of dbOK");
  CheckInt(DbGetErrorText(db, 0, buffer, 31), 31, "GetErrorText(0), size 31");
  CheckInt(DbGetErrorText(db, -14, buffer, 158), 158, "GetErrorText(-14), size 158");
  CheckInt(DbGetErrorText(db, -14, buffer, 159), 0, "GetErrorText(-14), size 159");
  CheckInt(DbGetErrorText(db, -10, buffer, sizeof(buffer)), 0, "GetErrorText(-10)");
  CheckText(buffer,
            "Die Datenbank enth\xE4lt keine Datens\xE4tze oder es wurde keine Datenbank geladen.",
            "message of dbErrNoRecords (Windows-1252)");
  CheckInt(DbGetErrorText(db, 1, buffer, sizeof(buffer)), kErrUnknown, "GetErrorText(1)");
  CheckInt(DbGetErrorText(db, -16, buffer, sizeof(buffer)), kErrUnknown, "GetErrorText(-16)");
  Check(buffer[0] == '\0', "unknown code leaves the empty text");
}

static void CheckSettings(void* db, const char* path) {
  char copy[MAX_PATH];
  const size_t length = strlen(path);
  if (length >= sizeof(copy)) {
    Check(0, "path too long: %s", path);
    return;
  }
  memcpy(copy, path, length + 1);
  CheckInt(DbSetFileName(db, copy), 1, "SetFileName result is exactly 1");
  copy[0] = '?';
  CheckText(DbGetFileName(db), path, "GetFileName returns the module's own copy");
  /* The delimiter is one byte in a 32-bit slot: the other bytes must not count. */
  CheckInt(((fn_flag_wide)Slot(db, kSetDelimiter))(db, WIDE(0xABCDEF00UL | ';')), 1,
           "SetDelimiter");
  CheckInt(DbGetDelimiter(db), ';', "GetDelimiter reads only the argument's low byte");
  CheckInt(DbSetDelimiter(db, ','), 1, "SetDelimiter(',')");
  CheckInt(DbGetDelimiter(db), ',', "GetDelimiter after ','");
  DbSetDelimiter(db, ';');
}

static void CheckLoadAndCursor(void* db, const char* path) {
  /* Three lines, the last one shorter: field count 3, lines not consistent. */
  static const char kInput[] = "a;b;c\r\nd;\xE4;f\r\ng;h\r\n";
  Check(WriteWholeFile(path, kInput, sizeof(kInput) - 1), "write %s", path);
  DbSetFileName(db, path);
  DbSetDelimiter(db, ';');

  int32_t count = 0;
  unsigned char same = 1;
  CheckInt(DbLoadFile(db, &count, 0, &same), kErrIntegrity, "LoadFile, same flag set");
  Check(count == 3 && same == 0, "after dbErrIntegrity: fieldCount 3, same 0");
  /* Only the low byte of a flag counts: 0x100 is not set, 0xFFFFFF01 is. */
  count = 7;
  same = 0;
  CheckInt(((fn_load_wide)Slot(db, kLoadFile))(db, &count, WIDE(0x100UL), &same), 3,
           "LoadFile, check flag 0x100 counts as not set");
  count = 7;
  same = 0;
  CheckInt(((fn_load_wide)Slot(db, kLoadFile))(db, &count, WIDE(0xFFFFFF01UL), &same),
           kErrFieldCount, "LoadFile, check flag 0xFFFFFF01 counts as set");
  CheckInt(count, 3, "dbErrFieldCount writes the file's field count");
  count = 3;
  same = 2;
  CheckInt(DbLoadFile(db, &count, 1, &same), 3, "LoadFile, expecting 3 fields");
  Check(count == 3 && same == 0, "LoadFile out-parameters: got %ld, %u", (long)count, same);

  CheckInt(DbCallInt(db, kGetRecordCount), 3, "GetRecordCount");
  CheckInt(DbCallInt(db, kGetFieldCount), 3, "GetFieldCount");
  CheckInt(DbCallInt(db, kGetRecordIndex), kErrNoRecordSelected, "no current record after load");
  CheckInt(DbCallInt(db, kPriorRecord), 3, "PriorRecord starts at the last record");
  CheckInt(DbCallInt(db, kNextRecord), kErrNoSuchRecord, "NextRecord past the end");
  CheckInt(DbCallInt(db, kGetRecordIndex), 3, "the cursor stays on the last record");
  char buffer[16];
  CheckInt(DbGetField(db, 2, buffer, sizeof(buffer)), kErrFieldEmpty, "absent field of line 3");
  CheckInt(DbCallInt(db, kFirstRecord), 1, "FirstRecord");
  CheckInt(DbCallInt(db, kPriorRecord), kErrNoSuchRecord, "PriorRecord before the first");
  CheckInt(DbCallInt(db, kNextRecord), 2, "NextRecord");
  CheckInt(DbGetField(db, 1, buffer, sizeof(buffer)), 0, "GetField(1) of record 2");
  CheckText(buffer, "\xE4", "field bytes pass through unconverted");
  CheckInt(DbGetField(db, 1, buffer, 1), 1, "GetField with a buffer too small");
  /* The index and the size are 32 bits wide whatever the slot holds beside them. */
  CheckInt(((fn_field_wide)Slot(db, kGetField))(db, WIDE(1), buffer, WIDE(sizeof(buffer))), 0,
           "GetField reads only the 32 bits of its index and size");
  CheckText(buffer, "\xE4", "GetField with wide arguments");
  CheckInt(DbGetField(db, 3, buffer, sizeof(buffer)), kErrNoSuchField, "GetField(3)");
  CheckInt(DbGetField(db, -1, buffer, sizeof(buffer)), kErrNoSuchField, "GetField(-1)");
  CheckInt(DbCallInt(db, kLastRecord), 3, "LastRecord");
}

static void CheckEditAndSave(void* db, const char* path) {
  CheckInt(DbSetField(db, 2, "X;Y"), 0, "SetField on an absent field");
  char buffer[16];
  CheckInt(DbGetField(db, 2, buffer, sizeof(buffer)), 0, "GetField after SetField");
  CheckText(buffer, "X;Y", "the text set");
  CheckInt(DbSetField(db, 3, "x"), kErrNoSuchField, "SetField(3)");
  CheckInt(DbCallInt(db, kAddRecord), 4, "AddRecord");
  CheckInt(DbCallInt(db, kGetRecordIndex), 4, "the added record is current");
  CheckInt(DbSetField(db, 0, "neu"), 0, "SetField on the added record");
  CheckInt(DbCallInt(db, kFirstRecord), 1, "FirstRecord");
  CheckInt(DbCallInt(db, kNextRecord), 2, "NextRecord");
  CheckInt(DbCallInt(db, kDeleteRecord), 1, "DeleteRecord of record 2 of 4");
  CheckInt(DbCallInt(db, kGetRecordCount), 3, "GetRecordCount after DeleteRecord");

  CheckInt(DbCallInt(db, kSaveFile), 3, "SaveFile");
  CheckInt(DbCallInt(db, kGetRecordIndex), 1, "SaveFile leaves the cursor");
  static const char kSaved[] = "a;b;c\r\ng;h;X;Y\r\nneu;;\r\n";
  CheckFileBytes(path, kSaved, sizeof(kSaved) - 1, "saved bytes");
  CheckInt(CountEntries(), 1, "no temporary file is left beside the saved file");

  /* The saved file now holds four fields in its second line: appending it is refused. */
  int32_t count = 0;
  unsigned char same = 0;
  CheckInt(DbAppendFile(db, &count, 0, &same), kErrFieldCount, "AppendFile of 4 fields to 3");
  CheckInt(count, 4, "AppendFile reports the file's field count");
  char extra[MAX_PATH];
  PathIn(extra, "extra.csv");
  static const char kExtra[] = "p;q;r\r\ns;t;u";
  Check(WriteWholeFile(extra, kExtra, sizeof(kExtra) - 1), "write %s", extra);
  DbSetFileName(db, extra);
  count = 3;
  same = 0;
  CheckInt(DbAppendFile(db, &count, 1, &same), 2, "AppendFile of two records");
  Check(count == 3 && same == 1, "AppendFile out-parameters: got %ld, %u", (long)count, same);
  CheckInt(DbCallInt(db, kGetRecordCount), 5, "records after AppendFile");
  CheckInt(DbCallInt(db, kGetRecordIndex), kErrNoRecordSelected, "AppendFile resets the cursor");
  CheckInt(DbCallInt(db, kLastRecord), 5, "LastRecord after AppendFile");
  CheckInt(DbGetField(db, 2, buffer, sizeof(buffer)), 0, "GetField of the last appended record");
  CheckText(buffer, "u", "appended records in file order");
  DbSetFileName(db, path);

  /* A second handle without sharing refuses the module's open, and the file stays as it was. */
  HANDLE other = CreateFileA(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  Check(other != INVALID_HANDLE_VALUE, "open %s from the host", path);
  CheckInt(DbCallInt(db, kSaveFile), kErrFileAccess, "SaveFile of a file held elsewhere");
  CheckInt(DbAppendFile(db, &count, 0, &same), kErrFileAccess,
           "AppendFile of a file held elsewhere");
  CheckInt(DbCallInt(db, kGetRecordCount), 5, "the table is unchanged by the refusals");
  CheckInt(DbLoadFile(db, &count, 0, &same), kErrFileAccess, "LoadFile of a file held elsewhere");
  CheckInt(DbCallInt(db, kGetRecordCount), kErrNotOpen, "LoadFile closed the table before opening");
  CloseHandle(other);
  CheckFileBytes(path, kSaved, sizeof(kSaved) - 1, "the held file keeps its bytes");
  CheckInt(CountEntries(), 2, "a refused save leaves no temporary file");

  char missing[MAX_PATH];
  PathIn(missing, "missing.csv");
  DbSetFileName(db, missing);
  CheckInt(DbLoadFile(db, &count, 0, &same), kErrFileNotFound, "LoadFile of a missing file");
}

static void CheckNewTable(void* db) {
  char path[MAX_PATH];
  PathIn(path, "empty.csv");
  CheckInt(DbNewTable(db, 2), kOk, "NewTable(2)");
  CheckInt(DbCallInt(db, kGetRecordCount), 0, "records of a new table");
  CheckInt(DbCallInt(db, kGetFieldCount), 2, "fields of a new table");
  CheckInt(DbCallInt(db, kFirstRecord), kErrNoRecords, "FirstRecord on a new table");
  DbSetFileName(db, path);
  CheckInt(DbCallInt(db, kSaveFile), 0, "SaveFile of a table without records");
  CheckFileBytes(path, "", 0, "an empty table saves an empty file");
  CheckInt(DbFreeFileName(db), 1, "FreeFileName result");
  Check(DbGetFileName(db) == NULL, "no file name after FreeFileName");
  CheckInt(DbCallInt(db, kSaveFile), kErrNoFileName, "SaveFile without a file name");
  CheckInt(DbCloseTable(db), 1, "CloseTable result");
  CheckInt(DbCallInt(db, kGetRecordCount), 0, "an open table without records stays open");
  CheckInt(DbCallInt(db, kAddRecord), 1, "AddRecord to the empty table");
  CheckInt(DbCloseTable(db), 1, "CloseTable of a table with records");
  CheckInt(DbCallInt(db, kGetRecordCount), kErrNotOpen, "closed after CloseTable");
}

static int RunAll(void) {
  HMODULE library = LoadLibraryA("datenbank.dll");
  Check(library != NULL, "LoadLibraryA(\"datenbank.dll\"): error %lu",
        (unsigned long)GetLastError());
  if (library == NULL) {
    return 0;
  }
  factory_fn create =
      (factory_fn)(void (*)(void))GetProcAddress(library, "_CreateDatenbankClassInstance");
  Check(create != NULL, "GetProcAddress(\"_CreateDatenbankClassInstance\")");
  Check(GetProcAddress(library, "CreateDatenbankClassInstance") == NULL,
        "no export without the leading underscore");
  Check(GetProcAddress(library, "DllMain") == NULL, "the entry is not exported");
  if (create == NULL) {
    FreeLibrary(library);
    return 0;
  }
  CheckEntry(library);

  void* db = create();
  void* other = create();
  Check(db != NULL && other != NULL && db != other, "two factory calls give two objects");
  if (db == NULL || other == NULL) {
    FreeLibrary(library);
    return 0;
  }
  CheckFreshObject(db);
  CheckVersionResource(library, db);
  CheckInformation(db);

  MakeDirectory();
  char path[MAX_PATH];
  PathIn(path, "table.csv");
  CheckSettings(db, path);
  CheckLoadAndCursor(db, path);
  CheckEditAndSave(db, path);
  CheckNewTable(db);

  Check(DbGetFileName(other) == NULL, "the second object has no file name");
  CheckInt(DbCallInt(other, kGetRecordCount), kErrNotOpen, "the second object has no table");
  CheckInt(DbGetDelimiter(other), 0, "the second object has no delimiter");
  DbCloseTable(other);
  DbFreeFileName(other);
  RemoveDirectoryTree();

  Check(FreeLibrary(library) != 0, "FreeLibrary");
  Check(GetModuleHandleA("datenbank.dll") == NULL, "the library is unloaded");
  return 1;
}

/* Loading and unloading without calling anything: the entry answers 1 to process attach (else
 * LoadLibraryA fails) and to detach, and leaves nothing behind that keeps the library loaded. */
static void RunLoadOnly(void) {
  for (int round = 0; round < 2; ++round) {
    HMODULE library = LoadLibraryA("datenbank.dll");
    Check(library != NULL, "LoadLibraryA, round %d: error %lu", round,
          (unsigned long)GetLastError());
    if (library == NULL) {
      return;
    }
    Check(FreeLibrary(library) != 0, "FreeLibrary, round %d", round);
    Check(GetModuleHandleA("datenbank.dll") == NULL, "unloaded, round %d", round);
  }
}

int main(int argc, char** argv) {
  if (argc > 1 && strcmp(argv[1], "--load-only") == 0) {
    RunLoadOnly();
  } else if (argc > 1) {
    (void)fprintf(stderr, "usage: %s [--load-only]\n", argv[0]);
    return 2;
  } else {
    RunAll();
  }
  printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 && g_passed > 0 ? 0 : 1;
}

/* NOLINTEND(clang-analyzer-security.insecureAPI.DeprecatedOrUnsafeBufferHandling) */
