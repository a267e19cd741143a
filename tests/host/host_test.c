/*
 * A host written in plain C that knows the module only as a binary: it loads the shared library
 * with dlopen, finds the factory with dlsym and calls the 29 operations by slot number through the
 * object's table of operations. The function types below are declared here from the published
 * binary interface (object pointer first; int and unsigned are 32-bit; flags and char are one
 * byte), not taken from the module's header, so a slot that moved or an argument that changed width
 * shows up as a failure here.
 *
 * Usage: host_test PATH_TO_LIBRARY. Prints one line per check and "N passed, M failed" at the end;
 * the exit status is 0 only when nothing failed.
 */
#define _POSIX_C_SOURCE 200809L

#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

/* The C11 bounds-checked functions (memset_s, snprintf_s) do not exist in glibc; every buffer
 * below is sized where it is used. */
/* NOLINTBEGIN(clang-analyzer-security.insecureAPI.DeprecatedOrUnsafeBufferHandling) */

/* ---- the binary interface, by slot ---- */

typedef void (*slot_fn)(void); /* any entry; cast back to its own type before the call */

typedef const char* (*fn_cstr)(void*);                                      /* 0 */
typedef unsigned char (*fn_flag_text)(void*, const char*);                  /* 1 */
typedef unsigned char (*fn_flag)(void*);                                    /* 2, 10 */
typedef unsigned char (*fn_flag_char)(void*, char);                         /* 3 */
typedef char (*fn_char)(void*);                                             /* 4 */
typedef unsigned char (*fn_flag_ints)(void*, int32_t*, int32_t*);           /* 5 */
typedef int32_t (*fn_int)(void*);                                           /* 6, 13-19, 25-27 */
typedef unsigned char (*fn_flag_buf)(void*, char*);                         /* 7 */
typedef int32_t (*fn_load)(void*, int32_t*, unsigned char, unsigned char*); /* 8, 9 */
typedef int32_t (*fn_int_index_buf)(void*, int32_t, char*, uint32_t);       /* 11, 12 */
typedef int32_t (*fn_int_buf)(void*, char*, uint32_t);                      /* 20-23 */
typedef int32_t (*fn_int_index_text)(void*, int32_t, const char*);          /* 24 */
typedef int32_t (*fn_int_int)(void*, int32_t);                              /* 28 */

typedef void* (*factory_fn)(void);

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
  kNewTable,
  kSlotCount
};

/* Result codes of the module. */
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

static int slot_used[kSlotCount];

static slot_fn slot(void* object, int n) {
  const slot_fn* table = *(const slot_fn* const*)object;
  slot_used[n] = 1;
  return table[n];
}

/* The objects stay referenced from here until the process ends: the module never releases their
 * blocks, and a live pointer keeps them reachable for a leak checker. */
void* g_first_object;
void* g_second_object;

/* ---- checks ---- */

static int g_passed;
static int g_failed;

static void check(int ok, const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  /* A long line is cut, not lost. (The analyzer misreads va_start here as leaving args unset.) */
  /* NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized) */
  (void)vsnprintf(line, sizeof line, format, args);
  va_end(args);
  printf("%s - %s\n", ok ? "ok  " : "FAIL", line);
  if (ok) {
    ++g_passed;
  } else {
    ++g_failed;
  }
}

static void check_int(int32_t got, int32_t want, const char* what) {
  check(got == want, "%s: %d (want %d)", what, (int)got, (int)want);
}

/* Every flag result goes through here: one byte that is exactly 0 or 1. */
static void check_flag(unsigned char got, unsigned char want, const char* what) {
  check(got == want, "%s: flag %u (want %u)", what, (unsigned)got, (unsigned)want);
}

/* ---- one wrapper per slot ---- */

static const char* GetFileName(void* o) {
  return ((fn_cstr)slot(o, kGetFileName))(o);
}
static unsigned char SetFileName(void* o, const char* path) {
  return ((fn_flag_text)slot(o, kSetFileName))(o, path);
}
static unsigned char FreeFileName(void* o) {
  return ((fn_flag)slot(o, kFreeFileName))(o);
}
static unsigned char SetDelimiter(void* o, char d) {
  return ((fn_flag_char)slot(o, kSetDelimiter))(o, d);
}
static char GetDelimiter(void* o) {
  return ((fn_char)slot(o, kGetDelimiter))(o);
}
static unsigned char GetVersion(void* o, int32_t* major, int32_t* minor) {
  return ((fn_flag_ints)slot(o, kGetVersion))(o, major, minor);
}
static int32_t GetVersionTextLength(void* o) {
  return ((fn_int)slot(o, kGetVersionTextLength))(o);
}
static unsigned char GetVersionText(void* o, char* buffer) {
  return ((fn_flag_buf)slot(o, kGetVersionText))(o, buffer);
}
static int32_t LoadFile(void* o, int32_t* count, unsigned char check_count, unsigned char* same) {
  return ((fn_load)slot(o, kLoadFile))(o, count, check_count, same);
}
static int32_t AppendFile(void* o, int32_t* count, unsigned char check_count, unsigned char* same) {
  return ((fn_load)slot(o, kAppendFile))(o, count, check_count, same);
}
static unsigned char CloseTable(void* o) {
  return ((fn_flag)slot(o, kCloseTable))(o);
}
static int32_t GetField(void* o, int32_t index, char* buffer, uint32_t size) {
  return ((fn_int_index_buf)slot(o, kGetField))(o, index, buffer, size);
}
static int32_t GetErrorText(void* o, int32_t code, char* buffer, uint32_t size) {
  return ((fn_int_index_buf)slot(o, kGetErrorText))(o, code, buffer, size);
}
static int32_t Call(void* o, int n) {
  return ((fn_int)slot(o, n))(o);
}
static int32_t InfoText(void* o, int n, char* buffer, uint32_t size) {
  return ((fn_int_buf)slot(o, n))(o, buffer, size);
}
static int32_t SetField(void* o, int32_t index, const char* text) {
  return ((fn_int_index_text)slot(o, kSetField))(o, index, text);
}
static int32_t NewTable(void* o, int32_t field_count) {
  return ((fn_int_int)slot(o, kNewTable))(o, field_count);
}

/* ---- files ---- */

static char g_dir[64];

static void path_in_dir(char* out, size_t size, const char* name) {
  const int length = snprintf(out, size, "%s/%s", g_dir, name);
  if (length < 0 || (size_t)length >= size) {
    out[0] = '\0';
  }
}

static int write_file(const char* name, const char* bytes, size_t length) {
  char path[256];
  path_in_dir(path, sizeof path, name);
  FILE* f = fopen(path, "wb");
  if (f == NULL) {
    return 0;
  }
  const size_t written = fwrite(bytes, 1, length, f);
  return fclose(f) == 0 && written == length;
}

/* The file's bytes into buffer; its length, or -1 when it cannot be read or is too long. */
static long read_file(const char* name, char* buffer, size_t size) {
  char path[256];
  path_in_dir(path, sizeof path, name);
  FILE* f = fopen(path, "rb");
  if (f == NULL) {
    return -1;
  }
  const size_t got = fread(buffer, 1, size, f);
  const int more = fgetc(f) != EOF;
  (void)fclose(f);
  return more ? -1 : (long)got;
}

static void check_file_bytes(const char* name, const char* want, size_t want_length) {
  char got[4096];
  const long length = read_file(name, got, sizeof got);
  check(length == (long)want_length && memcmp(got, want, want_length) == 0,
        "%s holds exactly the %zu bytes written (read %ld)", name, want_length, length);
}

/* ---- field helpers ---- */

/* Checks field index of the current record: want NULL means absent. */
static void check_field(void* o, int32_t index, const char* want, const char* where) {
  char buffer[256];
  memset(buffer, 'Z', sizeof buffer);
  const int32_t result = GetField(o, index, buffer, sizeof buffer);
  if (want == NULL) {
    check(result == kErrFieldEmpty && buffer[0] == '\0', "%s field %d absent: %d", where,
          (int)index, (int)result);
  } else {
    check(result == 0 && strcmp(buffer, want) == 0, "%s field %d = \"%s\": %d \"%s\"", where,
          (int)index, want, (int)result, result == 0 ? buffer : "");
  }
}

/* Walks the whole table from the first record and compares every field; want holds record_count
 * rows of field_count entries, NULL for an absent field. */
static void check_table(void* o, const char* const* want, int32_t record_count, int32_t field_count,
                        const char* what) {
  check_int(Call(o, kGetRecordCount), record_count, what);
  check_int(Call(o, kGetFieldCount), field_count, what);
  for (int32_t r = 1; r <= record_count; ++r) {
    char where[96];
    (void)snprintf(where, sizeof where, "%s, record %d", what, (int)r);
    check_int(r == 1 ? Call(o, kFirstRecord) : Call(o, kNextRecord), r, where);
    for (int32_t f = 0; f < field_count; ++f) {
      check_field(o, f, want[(r - 1) * field_count + f], where);
    }
  }
  check_int(Call(o, kNextRecord), kErrNoSuchRecord, "NextRecord past the last record");
}

/* ---- the scenario, in groups ---- */

static void check_fresh_object(void* o) {
  check(GetFileName(o) == NULL, "fresh object: GetFileName is null");
  check_int(GetDelimiter(o), 0, "fresh object: GetDelimiter is NUL");
  static const int kNotOpen[] = {kNextRecord,    kFirstRecord,    kLastRecord,     kPriorRecord,
                                 kGetFieldCount, kGetRecordIndex, kGetRecordCount, kSaveFile,
                                 kDeleteRecord,  kAddRecord};
  for (size_t i = 0; i < sizeof kNotOpen / sizeof kNotOpen[0]; ++i) {
    char what[64];
    (void)snprintf(what, sizeof what, "fresh object: slot %d is dbErrNotOpen", kNotOpen[i]);
    check_int(Call(o, kNotOpen[i]), kErrNotOpen, what);
  }
  char buffer[8] = "xxxxxxx";
  check(GetField(o, 0, buffer, sizeof buffer) == kErrNotOpen && buffer[0] == '\0',
        "fresh object: GetField is dbErrNotOpen and leaves the empty text");
  check(SetField(o, 0, "a") == kErrNotOpen, "fresh object: SetField is dbErrNotOpen");
  int32_t count = 77;
  unsigned char same = 0;
  check(AppendFile(o, &count, 0, &same) == kErrNotOpen && count == 77,
        "fresh object: AppendFile is dbErrNotOpen and writes nothing");
  check_flag(CloseTable(o), 1, "fresh object: CloseTable");
  check_int(Call(o, kGetRecordCount), kErrNotOpen, "fresh object stays closed after CloseTable");
}

static void check_version(void* o) {
  int32_t major = -99;
  int32_t minor = -99;
  check_flag(GetVersion(o, &major, &minor), 1, "GetVersion");
  check(major == 1 && minor == 1, "GetVersion writes 1.1 (got %d.%d)", (int)major, (int)minor);
  check_flag(GetVersion(o, NULL, NULL), 1, "GetVersion with null pointers");
  const int32_t length = GetVersionTextLength(o);
  check_int(length, 13, "GetVersionTextLength");
  char buffer[32];
  memset(buffer, 0x55, sizeof buffer);
  check_flag(GetVersionText(o, buffer), 1, "GetVersionText");
  check(memcmp(buffer, "Beta-Version!", 14) == 0 && (unsigned char)buffer[14] == 0x55,
        "GetVersionText writes exactly 14 bytes: the text and its NUL");
  check_flag(GetVersionText(o, NULL), 1, "GetVersionText with a null buffer");
}

/* One text-out operation: size 0 writes nothing, size n leaves the empty text, size n + 1 copies.
 * Returns the text's length, or -1 when the convention is broken. */
static int32_t check_text_out(void* o, int n, int32_t code, char* text, size_t text_size,
                              const char* what) {
  char buffer[512];
  int32_t length;
  memset(buffer, 'Q', sizeof buffer);
  if (n == kGetErrorText) {
    length = GetErrorText(o, code, buffer, 0);
  } else {
    length = InfoText(o, n, buffer, 0);
  }
  int ok = length > 0 && length < (int32_t)sizeof buffer - 1 && buffer[0] == 'Q';
  check(ok, "%s: size 0 gives the length %d and writes nothing", what, (int)length);
  if (!ok) {
    return -1;
  }
  const uint32_t exact = (uint32_t)length;
  int32_t result;
  if (n == kGetErrorText) {
    result = GetErrorText(o, code, buffer, exact);
  } else {
    result = InfoText(o, n, buffer, exact);
  }
  ok = result == length && buffer[0] == '\0' && buffer[1] == 'Q';
  check(ok, "%s: size %u (one short) gives %d and the empty text", what, exact, (int)result);
  memset(buffer, 'Q', sizeof buffer);
  if (n == kGetErrorText) {
    result = GetErrorText(o, code, buffer, exact + 1U);
  } else {
    result = InfoText(o, n, buffer, exact + 1U);
  }
  const int copied = result == 0 && strlen(buffer) == (size_t)length && buffer[length + 1] == 'Q';
  check(copied, "%s: size %u gives 0 and the whole text", what, exact + 1U);
  if (n == kGetErrorText) {
    result = GetErrorText(o, code, NULL, 100);
  } else {
    result = InfoText(o, n, NULL, 100);
  }
  check(result == length, "%s: a null buffer counts as size 0 (got %d)", what, (int)result);
  if (!ok || !copied) {
    return -1;
  }
  if (text != NULL && text_size > (size_t)length) {
    memcpy(text, buffer, (size_t)length + 1);
  }
  return length;
}

/* True when text is one line of printable Windows-1252 bytes. */
static int one_line(const char* text) {
  for (const unsigned char* p = (const unsigned char*)text; *p != 0; ++p) {
    if (*p < 0x20 || *p == 0x7F) {
      return 0;
    }
  }
  return 1;
}

static void check_info_texts(void* o) {
  char text[512];
  check_int(check_text_out(o, kGetModuleName, 0, text, sizeof text, "GetModuleName"), 15,
            "module name length");
  check(strcmp(text, "Ovelt Datenbank") == 0, "module name is \"Ovelt Datenbank\"");
  const int32_t copyright =
      check_text_out(o, kGetCopyrightText, 0, text, sizeof text, "GetCopyrightText");
  check(copyright > 0 && one_line(text), "copyright text is one line of text");
  const int32_t maker = check_text_out(o, kGetMakerText, 0, text, sizeof text, "GetMakerText");
  check(maker > 0 && one_line(text), "maker text is one line of text");
  check_int(check_text_out(o, kGetDescription, 0, text, sizeof text, "GetDescription"), 111,
            "description length in bytes");
  check(strcmp(text,
               "Datenbank-Modul f\xFCr CSV- und \xE4hnliche Dateien. L\xE4"
               "dt Textdateien mit Trennzeichen, bearbeitet und speichert sie.") == 0,
        "description text, Windows-1252");
}

static void check_error_texts(void* o) {
  /* Message lengths in bytes, indexed by -code. */
  static const int32_t kLengths[] = {31, 19, 42, 54, 31, 91, 37,  81,
                                     80, 35, 77, 36, 40, 47, 158, 52};
  char text[512];
  int32_t longest = 0;
  for (int32_t code = 0; code >= -15; --code) {
    char what[48];
    (void)snprintf(what, sizeof what, "GetErrorText(%d)", (int)code);
    const int32_t length = check_text_out(o, kGetErrorText, code, text, sizeof text, what);
    check_int(length, kLengths[-code], what);
    if (length > longest) {
      longest = length;
    }
  }
  check_int(longest + 1, 159, "a buffer of 159 bytes takes every message");
  check_text_out(o, kGetErrorText, 0, text, sizeof text, "GetErrorText(0) again");
  check(strcmp(text, "Es ist kein Fehler aufgetreten.") == 0, "message of dbOK");
  check_text_out(o, kGetErrorText, -7, text, sizeof text, "GetErrorText(-7) again");
  check(strstr(text, "auszuf\xFChren.") != NULL, "message of -7 holds the byte 0xFC for u-umlaut");
  static const int32_t kUnknown[] = {1, -16, INT32_MAX, INT32_MIN};
  for (size_t i = 0; i < sizeof kUnknown / sizeof kUnknown[0]; ++i) {
    char buffer[200] = "filled";
    const int32_t result = GetErrorText(o, kUnknown[i], buffer, sizeof buffer);
    check(result == kErrUnknown && buffer[0] == '\0', "GetErrorText(%d) is -1 with the empty text",
          (int)kUnknown[i]);
  }
}

static const char kInput[] =
    "Kunde;Ort;PLZ\r\n"
    "M\xFCller;K\xF6ln;50667\r\n"
    "Schmidt;;10115\r\n"
    "Wei\xDF;Berlin"; /* no line end: the third field of this record stays absent */

static const char kAppendix[] = "Neu;Hamburg;20095\nX\n";

static const char kExpectedSave[] =
    "Kunde;Ort;PLZ\r\n"
    "M\xFCller;K\xF6ln;50668\r\n"
    "Wei\xDF;Berlin;10117\r\n"
    "Schulz;M\xFCnchen;\r\n"
    "Neu;Hamburg;20095\r\n"
    "X;;\r\n";

static void check_settings(void* a, void* b) {
  char path[256];
  path_in_dir(path, sizeof path, "eingabe.csv");
  check_flag(SetFileName(a, path), 1, "SetFileName");
  const char* stored = GetFileName(a);
  check(stored != NULL && stored != path && strcmp(stored, path) == 0,
        "GetFileName returns the object's own copy of the path");
  path[0] = 'X';
  check(stored != NULL && stored[0] == '/', "changing the host's text leaves the stored copy");
  path[0] = '/';
  check_flag(SetFileName(a, GetFileName(a)), 1, "SetFileName with the stored name itself");
  check(GetFileName(a) != NULL && strcmp(GetFileName(a), path) == 0,
        "SetFileName(GetFileName()) keeps the name");
  check_flag(SetDelimiter(a, ';'), 1, "SetDelimiter(';')");
  check_int(GetDelimiter(a), ';', "GetDelimiter");
  check(GetFileName(b) == NULL && GetDelimiter(b) == '\0',
        "the second object has neither file name nor delimiter");
  check_flag(SetFileName(b, NULL), 0, "SetFileName(null) fails");
  check(GetFileName(b) == NULL, "SetFileName(null) leaves no name");
}

static void check_load_and_walk(void* a, void* b) {
  check(write_file("eingabe.csv", kInput, sizeof kInput - 1), "write eingabe.csv");

  int32_t count = 4;
  unsigned char same = 0x2A;
  check_int(LoadFile(a, &count, 1, &same), kErrFieldCount, "LoadFile expecting 4 fields");
  check(count == 3 && same == 0x2A, "dbErrFieldCount writes the count 3, not the flag");
  check_int(Call(a, kGetRecordCount), kErrNotOpen, "no table after dbErrFieldCount");

  count = 4;
  same = 2;
  check_int(LoadFile(a, &count, 2, &same), 4, "LoadFile with flags of value 2 (not set)");
  check(count == 3 && same == 1, "LoadFile: 3 fields, all lines agree (got %d, %u)", (int)count,
        (unsigned)same);
  check_int(Call(b, kGetRecordCount), kErrNotOpen, "loading one object leaves the other closed");

  check_int(Call(a, kGetRecordIndex), kErrNoRecordSelected, "no current record after the load");
  for (int32_t i = 1; i <= 4; ++i) {
    check_int(Call(a, kNextRecord), i, "NextRecord walks forward");
  }
  check_int(Call(a, kNextRecord), kErrNoSuchRecord, "NextRecord past the end");
  check_int(Call(a, kGetRecordIndex), 4, "the cursor stays on the last record");
  for (int32_t i = 3; i >= 1; --i) {
    check_int(Call(a, kPriorRecord), i, "PriorRecord walks back");
  }
  check_int(Call(a, kPriorRecord), kErrNoSuchRecord, "PriorRecord before the start");
  check_int(Call(a, kLastRecord), 4, "LastRecord");
  check_int(Call(a, kFirstRecord), 1, "FirstRecord");

  static const char* const kLoaded[] = {
      "Kunde",     "Ort",     "PLZ",   /* */
      "M\xFCller", "K\xF6ln", "50667", /* */
      "Schmidt",   "",        "10115", /* */
      "Wei\xDF",   "Berlin",  NULL,
  };
  check_table(a, kLoaded, 4, 3, "loaded table");

  /* The text-out convention on a field, and the index checks. */
  check_int(Call(a, kFirstRecord), 1, "FirstRecord");
  char buffer[8];
  memset(buffer, 'Q', sizeof buffer);
  check(GetField(a, 0, buffer, 5) == 5 && buffer[0] == '\0' && buffer[1] == 'Q',
        "GetField with one byte too few gives the length and the empty text");
  memset(buffer, 'Q', sizeof buffer);
  check(GetField(a, 0, buffer, 0) == 5 && buffer[0] == 'Q', "GetField with size 0 writes nothing");
  check(GetField(a, 0, buffer, 6) == 0 && strcmp(buffer, "Kunde") == 0,
        "GetField with room for the NUL copies");
  check(GetField(a, -1, buffer, sizeof buffer) == kErrNoSuchField && buffer[0] == '\0',
        "GetField(-1) is dbErrNoSuchField");
  check_int(GetField(a, 3, buffer, sizeof buffer), kErrNoSuchField, "GetField(3) of 3 fields");
  check_int(SetField(a, 3, "x"), kErrNoSuchField, "SetField(3) of 3 fields");
  check_int(SetField(a, 0, NULL), kErrUnknown, "SetField with a null text");
  check_field(a, 0, "Kunde", "after SetField(null)");
}

static void check_edit(void* a) {
  check_int(Call(a, kFirstRecord), 1, "FirstRecord");
  check_int(Call(a, kNextRecord), 2, "NextRecord to Mueller");
  char text[] = "50668";
  check_int(SetField(a, 2, text), kOk, "SetField replaces a text");
  text[0] = '9';
  check_field(a, 2, "50668", "SetField copies the host's text");

  check_int(Call(a, kLastRecord), 4, "LastRecord");
  check_int(SetField(a, 2, "10117"), kOk, "SetField on an absent field");
  check_field(a, 2, "10117", "record 4");

  check_int(Call(a, kAddRecord), 5, "AddRecord appends record 5");
  check_int(Call(a, kGetRecordIndex), 5, "the new record is current");
  for (int32_t f = 0; f < 3; ++f) {
    check_field(a, f, NULL, "new record");
  }
  check_int(SetField(a, 0, "Schulz"), kOk, "SetField on the new record");
  check_int(SetField(a, 1, "M\xFCnchen"), kOk, "SetField on the new record");

  check_int(Call(a, kFirstRecord), 1, "FirstRecord");
  check_int(Call(a, kNextRecord), 2, "NextRecord");
  check_int(Call(a, kNextRecord), 3, "NextRecord to Schmidt");
  check_int(Call(a, kDeleteRecord), 2, "DeleteRecord of record 3 makes record 2 current");
  check_field(a, 0, "M\xFCller", "after the delete");
  check_int(Call(a, kGetRecordCount), 4, "four records after the delete");
  check_int(Call(a, kNextRecord), 3, "the former record 4 follows");
  check_field(a, 0, "Wei\xDF", "after the delete");
}

static void check_append(void* a) {
  char path[256];
  check(write_file("anhang.csv", kAppendix, sizeof kAppendix - 1), "write anhang.csv");
  check(write_file("zwei.csv", "a;b\r\n", 5), "write zwei.csv");

  path_in_dir(path, sizeof path, "zwei.csv");
  check_flag(SetFileName(a, path), 1, "SetFileName(zwei.csv)");
  int32_t count = 0;
  unsigned char same = 0;
  check_int(AppendFile(a, &count, 0, &same), kErrFieldCount, "AppendFile of a 2-field file");
  check_int(count, 2, "AppendFile reports the file's field count");
  check_int(Call(a, kGetRecordCount), 4, "the refused append leaves the table");
  check_int(Call(a, kGetRecordIndex), 3, "the refused append leaves the cursor");

  path_in_dir(path, sizeof path, "anhang.csv");
  check_flag(SetFileName(a, path), 1, "SetFileName(anhang.csv)");
  same = 1;
  check_int(AppendFile(a, &count, 0, &same), kErrIntegrity, "AppendFile insisting on same counts");
  check(count == 3 && same == 0, "dbErrIntegrity writes 3 and 0");
  check_int(Call(a, kGetRecordCount), 4, "the refused append leaves the table");
  same = 0;
  check_int(AppendFile(a, &count, 1, &same), 2, "AppendFile appends two records");
  check(count == 3 && same == 0, "AppendFile: 3 fields, lines differ (got %d, %u)", (int)count,
        (unsigned)same);
  check_int(Call(a, kGetRecordIndex), kErrNoRecordSelected, "AppendFile resets the cursor");

  static const char* const kEdited[] = {
      "Kunde",     "Ort",        "PLZ",   /* */
      "M\xFCller", "K\xF6ln",    "50668", /* */
      "Wei\xDF",   "Berlin",     "10117", /* */
      "Schulz",    "M\xFCnchen", NULL,    /* */
      "Neu",       "Hamburg",    "20095", /* */
      "X",         NULL,         NULL,
  };
  check_table(a, kEdited, 6, 3, "edited table");
}

static void check_save_and_reload(void* a, void* b) {
  char path[256];
  char filler[600];
  memset(filler, 'z', sizeof filler);
  check(write_file("ausgabe.csv", filler, sizeof filler), "write a longer ausgabe.csv");
  path_in_dir(path, sizeof path, "ausgabe.csv");
  check_flag(SetFileName(a, path), 1, "SetFileName(ausgabe.csv)");
  check_int(Call(a, kLastRecord), 6, "LastRecord");
  check_int(Call(a, kPriorRecord), 5, "PriorRecord");
  check_int(Call(a, kSaveFile), 6, "SaveFile writes six records");
  check_int(Call(a, kGetRecordIndex), 5, "SaveFile leaves the cursor");
  check_file_bytes("ausgabe.csv", kExpectedSave, sizeof kExpectedSave - 1);

  check_flag(SetFileName(b, path), 1, "second object: SetFileName(ausgabe.csv)");
  check_flag(SetDelimiter(b, ';'), 1, "second object: SetDelimiter");
  int32_t count = 0;
  unsigned char same = 1;
  check_int(LoadFile(b, &count, 1, &same), kErrFieldCount,
            "second object: LoadFile expecting 0 fields");
  count = 3;
  check_int(LoadFile(b, &count, 1, &same), 6, "second object loads the saved file");
  check(count == 3 && same == 1, "the saved file has 3 fields on every line");
  /* Lines that end with a line end store empty fields as empty texts, no longer absent ones. */
  static const char* const kReloaded[] = {
      "Kunde",     "Ort",        "PLZ",   /* */
      "M\xFCller", "K\xF6ln",    "50668", /* */
      "Wei\xDF",   "Berlin",     "10117", /* */
      "Schulz",    "M\xFCnchen", "",      /* */
      "Neu",       "Hamburg",    "20095", /* */
      "X",         "",           "",
  };
  check_table(b, kReloaded, 6, 3, "reloaded table");
  check_int(Call(a, kGetRecordIndex), 5, "the first object's cursor is its own");

  char missing[256];
  path_in_dir(missing, sizeof missing, "fehlt.csv");
  check_flag(SetFileName(b, missing), 1, "second object: SetFileName(fehlt.csv)");
  check_int(LoadFile(b, &count, 0, &same), kErrFileNotFound, "LoadFile of a missing file");
  check_int(Call(b, kGetRecordCount), 6, "a missing file leaves the loaded table");
  check_int(Call(a, kGetRecordCount), 6, "the first object still holds its table");
  check(strcmp(GetFileName(a), path) == 0, "the first object keeps its file name");

  check_flag(CloseTable(b), 1, "second object: CloseTable");
  check_int(Call(b, kGetRecordCount), kErrNotOpen, "second object is closed");
  check_flag(FreeFileName(b), 1, "second object: FreeFileName");
}

static void check_new_table(void* a) {
  check_int(NewTable(a, 2), kOk, "NewTable(2) over a table with records");
  check_int(Call(a, kGetRecordCount), 0, "new table: no records");
  check_int(Call(a, kGetFieldCount), 2, "new table: two fields");
  static const int kNoRecords[] = {kNextRecord,  kFirstRecord,    kLastRecord,
                                   kPriorRecord, kGetRecordIndex, kDeleteRecord};
  for (size_t i = 0; i < sizeof kNoRecords / sizeof kNoRecords[0]; ++i) {
    char what[64];
    (void)snprintf(what, sizeof what, "new table: slot %d is dbErrNoRecords", kNoRecords[i]);
    check_int(Call(a, kNoRecords[i]), kErrNoRecords, what);
  }
  check_int(GetDelimiter(a), ';', "NewTable keeps the delimiter");
  check(GetFileName(a) != NULL, "NewTable keeps the file name");
  check_flag(CloseTable(a), 1, "CloseTable on an open, empty table");
  check_int(Call(a, kGetRecordCount), 0, "an open table without records stays open");

  char path[256];
  path_in_dir(path, sizeof path, "neu.csv");
  check_flag(SetFileName(a, path), 1, "SetFileName(neu.csv)");
  check_int(Call(a, kAddRecord), 1, "AddRecord on the new table");
  check_int(SetField(a, 1, "x"), kOk, "SetField(1) on the new record");
  check_int(Call(a, kSaveFile), 1, "SaveFile of one record with an absent field 0");
  check_file_bytes("neu.csv", ";x\r\n", 4);
  check_int(Call(a, kDeleteRecord), 0, "DeleteRecord of the only record");
  check_int(Call(a, kSaveFile), 0, "SaveFile of an open, empty table");
  check_file_bytes("neu.csv", "", 0);

  check_int(NewTable(a, 0), kOk, "NewTable(0)");
  check_int(Call(a, kAddRecord), 1, "AddRecord without fields");
  check_int(Call(a, kAddRecord), 2, "AddRecord without fields");
  check_int(GetField(a, 0, path, sizeof path), kErrNoSuchField, "no field 0 in a table of 0");
  check_int(Call(a, kSaveFile), 2, "SaveFile of two records without fields");
  check_file_bytes("neu.csv", "\r\n\r\n", 4);

  check_flag(CloseTable(a), 1, "CloseTable");
  check_int(Call(a, kGetRecordCount), kErrNotOpen, "closed after CloseTable");
  check_int(Call(a, kSaveFile), kErrNotOpen, "SaveFile on a closed table");
  check_flag(CloseTable(a), 1, "CloseTable again");
  check_flag(FreeFileName(a), 1, "FreeFileName");
  check(GetFileName(a) == NULL, "no file name after FreeFileName");
  check_flag(FreeFileName(a), 1, "FreeFileName again");
  int32_t count = 0;
  unsigned char same = 0;
  check_int(LoadFile(a, &count, 0, &same), kErrNoFileName, "LoadFile without a file name");
}

/* Removes the scratch directory; fails the check if anything but the expected files is there
 * (a temporary file the writer left behind, say). */
static void remove_dir(void) {
  static const char* const kExpected[] = {"eingabe.csv", "anhang.csv", "zwei.csv", "ausgabe.csv",
                                          "neu.csv"};
  int unexpected = 0;
  DIR* dir = opendir(g_dir);
  if (dir == NULL) {
    check(0, "open %s", g_dir);
    return;
  }
  struct dirent* entry;
  while ((entry = readdir(dir)) != NULL) {
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) {
      continue;
    }
    int known = 0;
    for (size_t i = 0; i < sizeof kExpected / sizeof kExpected[0]; ++i) {
      known |= strcmp(entry->d_name, kExpected[i]) == 0;
    }
    if (!known) {
      printf("     unexpected file %s\n", entry->d_name);
      unexpected = 1;
    }
    char path[512];
    const int length = snprintf(path, sizeof path, "%s/%s", g_dir, entry->d_name);
    if (length > 0 && (size_t)length < sizeof path) {
      (void)unlink(path);
    }
  }
  closedir(dir);
  check(!unexpected, "the directory holds only the files this host wrote or saved");
  check(rmdir(g_dir) == 0, "remove %s", g_dir);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    (void)fprintf(stderr, "usage: %s LIBRARY\n", argv[0]);
    return 2;
  }
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  check(library != NULL, "dlopen %s%s%s", argv[1], library == NULL ? ": " : "",
        library == NULL ? dlerror() : "");
  if (library == NULL) {
    printf("%d passed, %d failed\n", g_passed, g_failed);
    return 1;
  }
  void* symbol = dlsym(library, "_CreateDatenbankClassInstance");
  check(symbol != NULL, "dlsym finds _CreateDatenbankClassInstance");
  check(dlsym(library, "CreateDatenbankClassInstance") == NULL,
        "the factory's name without the underscore is not found");
  factory_fn factory = NULL;
  if (symbol != NULL) {
    /* ISO C has no cast from an object pointer to a function pointer. */
    memcpy(&factory, &symbol, sizeof factory);
  }
  g_first_object = factory != NULL ? factory() : NULL;
  g_second_object = factory != NULL ? factory() : NULL;
  check(g_first_object != NULL && g_second_object != NULL && g_first_object != g_second_object,
        "the factory returns two different objects");
  if (g_first_object == NULL || g_second_object == NULL) {
    printf("%d passed, %d failed\n", g_passed, g_failed);
    return 1;
  }
  void* a = g_first_object;
  void* b = g_second_object;

  char template_path[] = "/tmp/datenbank_host.XXXXXX";
  const char* dir = mkdtemp(template_path);
  check(dir != NULL, "mkdtemp (%s)", dir != NULL ? dir : strerror(errno));
  if (dir == NULL) {
    printf("%d passed, %d failed\n", g_passed, g_failed);
    return 1;
  }
  (void)snprintf(g_dir, sizeof g_dir, "%s", dir); /* mkdtemp kept the template's length */

  check_fresh_object(a);
  check_version(a);
  check_info_texts(a);
  check_error_texts(b);
  check_settings(a, b);
  check_load_and_walk(a, b);
  check_edit(a);
  check_append(a);
  check_save_and_reload(a, b);
  check_new_table(a);
  remove_dir();

  for (int n = 0; n < kSlotCount; ++n) {
    check(slot_used[n], "slot %d was called", n);
  }
  check(dlclose(library) == 0, "dlclose");

  printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}

/* NOLINTEND(clang-analyzer-security.insecureAPI.DeprecatedOrUnsafeBufferHandling) */
