/*
 * _datenbank -- the compiled loops of the datenbank package.
 *
 * The package drives a table object through its 29 operations with ctypes, one foreign call per
 * field. The loops that touch every record or take many cursor steps are done here instead:
 * moving the cursor to a position, and reading the fields of one record or of a range of records
 * into Python objects. Everything else stays in the package's Python code.
 *
 * A table object is a pointer whose first word points to its table of operations. Each operation
 * is a plain function with the object as first argument (__cdecl on 32-bit Windows), so this file
 * needs neither the library nor its C++ header: it calls the slots it uses by number.
 *
 * The functions take a table object as the capsule named TABLE_CAPSULE that the package makes
 * when the library's factory hands it a new object; anything else, a number above all, is refused
 * before it is used. They check the table's state through the module's own answers (a closed
 * table says dbErrNotOpen), and report a negative result code as _datenbank.Failure(code), which
 * the package turns into its exception.
 */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <stdlib.h>
#include <string.h>

#if defined(_WIN32) && (defined(__i386__) || defined(_M_IX86))
#define DB_CALL __cdecl
#else
#define DB_CALL
#endif

/* An entry of the operation table before it is cast to its operation's type. */
typedef void (*Slot)(void);
typedef int(DB_CALL* GetFieldOperation)(void* obj, int index, char* buffer, unsigned size);
typedef int(DB_CALL* CursorOperation)(void* obj);

/* Slot numbers of the operations used here. */
enum {
  SLOT_GET_FIELD = 11,
  SLOT_NEXT_RECORD = 13,
  SLOT_FIRST_RECORD = 14,
  SLOT_LAST_RECORD = 15,
  SLOT_PRIOR_RECORD = 16,
  SLOT_GET_FIELD_COUNT = 17,
  SLOT_GET_RECORD_INDEX = 18,
  SLOT_GET_RECORD_COUNT = 19
};

enum { ERR_FIELD_EMPTY = -12, ERR_NO_SUCH_RECORD = -13 };

/* The name of the capsules that carry a table object from the package (datenbank/_library.py). */
#define TABLE_CAPSULE "_datenbank.table"

/* How field texts become Python objects. */
enum {
  TEXT_BYTES = 0,   /* bytes as stored */
  TEXT_CHARMAP = 1, /* str through a table of 256 characters (Windows-1252) */
  TEXT_UTF8 = 2,
  TEXT_LATIN1 = 3
};

/* Most fields fit; a longer one is read again into a buffer of its own length. */
#define FIRST_BUFFER_SIZE 1024

typedef struct {
  PyObject* failure; /* _datenbank.Failure */
} ModuleState;

/* One table object and how its texts are decoded, for the length of one call. */
typedef struct {
  void* obj;
  const Slot* slots;
  int text;
  PyObject* charmap; /* borrowed; set for TEXT_CHARMAP */
  char* buffer;
  unsigned size;
  char first[FIRST_BUFFER_SIZE];
} Reader;

static ModuleState* state_of(PyObject* module) {
  return (ModuleState*)PyModule_GetState(module);
}

static PyObject* fail(PyObject* module, int code) {
  PyObject* value = PyLong_FromLong(code);
  if (value != NULL) {
    PyErr_SetObject(state_of(module)->failure, value);
    Py_DECREF(value);
  }
  return NULL;
}

static int call_cursor(const Reader* reader, int slot) {
  return ((CursorOperation)reader->slots[slot])(reader->obj);
}

/* Sets up a reader from (table, text, charmap); 0, or -1 with an exception set. */
static int reader_open(Reader* reader, PyObject* table, int text, PyObject* charmap) {
  /* Checks the type and the name without looking at the pointer; a capsule never holds NULL. */
  if (!PyCapsule_IsValid(table, TABLE_CAPSULE)) {
    PyErr_Format(PyExc_TypeError, "a table must be a datenbank table object, not %.100s",
                 Py_TYPE(table)->tp_name);
    return -1;
  }
  void* obj = PyCapsule_GetPointer(table, TABLE_CAPSULE);
  if (obj == NULL) {
    return -1;
  }
  if (text < TEXT_BYTES || text > TEXT_LATIN1) {
    PyErr_Format(PyExc_ValueError, "unknown text kind %d", text);
    return -1;
  }
  if (text == TEXT_CHARMAP &&
      (charmap == NULL || !PyUnicode_Check(charmap) || PyUnicode_GetLength(charmap) != 256)) {
    PyErr_SetString(PyExc_TypeError, "a decoding table must be a str of 256 characters");
    return -1;
  }
  reader->obj = obj;
  reader->slots = *(const Slot* const*)obj;
  reader->text = text;
  reader->charmap = charmap;
  reader->buffer = reader->first;
  reader->size = FIRST_BUFFER_SIZE;
  return 0;
}

static void reader_close(Reader* reader) {
  if (reader->buffer != reader->first) {
    PyMem_Free(reader->buffer);
  }
  reader->buffer = reader->first;
  reader->size = FIRST_BUFFER_SIZE;
}

/* Whether any byte lies in 0x80..0x9F, where Windows-1252 and Latin-1 differ. */
static int has_c1_bytes(const char* data, size_t length) {
  const unsigned char* bytes = (const unsigned char*)data;
  for (size_t i = 0; i < length; ++i) {
    if ((bytes[i] & 0xE0u) == 0x80u) {
      return 1;
    }
  }
  return 0;
}

static PyObject* decode(const Reader* reader, const char* data, size_t length) {
  if (length > (size_t)PY_SSIZE_T_MAX) {
    return PyErr_NoMemory();
  }
  Py_ssize_t size = (Py_ssize_t)length;
  switch (reader->text) {
    case TEXT_BYTES:
      return PyBytes_FromStringAndSize(data, size);
    case TEXT_CHARMAP:
      /* Above 0x9F Windows-1252 is Latin-1, which CPython decodes without a table. */
      if (!has_c1_bytes(data, length)) {
        return PyUnicode_DecodeLatin1(data, size, "strict");
      }
      return PyUnicode_DecodeCharmap(data, size, reader->charmap, "strict");
    case TEXT_UTF8:
      return PyUnicode_DecodeUTF8(data, size, "strict");
    default:
      return PyUnicode_DecodeLatin1(data, size, "strict");
  }
}

/* Field index of the current record as a Python object, None when absent; NULL with an
 * exception set. */
static PyObject* read_field(PyObject* module, Reader* reader, int index) {
  GetFieldOperation get_field = (GetFieldOperation)reader->slots[SLOT_GET_FIELD];
  for (;;) {
    int result = get_field(reader->obj, index, reader->buffer, reader->size);
    if (result == 0) {
      return decode(reader, reader->buffer, strlen(reader->buffer));
    }
    if (result == ERR_FIELD_EMPTY) {
      Py_RETURN_NONE;
    }
    if (result < 0) {
      return fail(module, result);
    }
    /* The text is result bytes long: read it again with room for it and its NUL. */
    char* larger = (char*)PyMem_Malloc((size_t)result + 1);
    if (larger == NULL) {
      return PyErr_NoMemory();
    }
    reader_close(reader);
    reader->buffer = larger;
    reader->size = (unsigned)result + 1;
  }
}

/* All fields of the current record as a new list.
 *
 * The list is not tracked by the cycle collector, as CPython itself untracks the tuples and dicts
 * that hold only atomic objects: its str, bytes and None items cannot take part in a cycle. Whole
 * tables are millions of such lists, and every full collection would otherwise visit them all
 * (three quarters of the time of reading a table went there). A caller that puts containers into
 * a returned list makes cycles through it that reference counting alone does not free. */
static PyObject* read_record(PyObject* module, Reader* reader, int fields) {
  PyObject* values = PyList_New(fields);
  if (values == NULL) {
    return NULL;
  }
  for (int index = 0; index < fields; ++index) {
    PyObject* value = read_field(module, reader, index);
    if (value == NULL) {
      Py_DECREF(values);
      return NULL;
    }
    PyList_SET_ITEM(values, index, value);
  }
  PyObject_GC_UnTrack(values);
  return values;
}

/* The table's record count, or a negative result code. */
static int record_count(const Reader* reader) {
  return call_cursor(reader, SLOT_GET_RECORD_COUNT);
}

/* A walk of more steps than this lets other threads run meanwhile. */
#define STEPS_WITHOUT_THREADS 4096

/* Makes the record at 1-based target current by the fewest cursor steps, counted from the first
 * record, the last or the current one. 0, or a negative result code. */
static int seek(const Reader* reader, int target, int count) {
  int current = call_cursor(reader, SLOT_GET_RECORD_INDEX);
  if (current == target) {
    return 0;
  }
  int from_first = target - 1;
  int from_last = count - target;
  int from_current = current > 0 ? abs(target - current) : count;
  int start;
  if (from_current <= from_first && from_current <= from_last) {
    start = current;
  } else if (from_first <= from_last) {
    start = call_cursor(reader, SLOT_FIRST_RECORD);
  } else {
    start = call_cursor(reader, SLOT_LAST_RECORD);
  }
  if (start < 0) {
    return start;
  }
  int slot = target > start ? SLOT_NEXT_RECORD : SLOT_PRIOR_RECORD;
  CursorOperation step = (CursorOperation)reader->slots[slot];
  void* obj = reader->obj;
  PyThreadState* released = NULL;
  if (abs(target - start) > STEPS_WITHOUT_THREADS) {
    /* The caller holds the table's own lock, so no other thread uses this object. */
    released = PyEval_SaveThread();
  }
  int result = 0;
  while (start != target) {
    int reached = step(obj);
    if (reached < 0 || reached == start) { /* a cursor that does not move never arrives */
      result = reached < 0 ? reached : ERR_NO_SUCH_RECORD;
      break;
    }
    start = reached;
  }
  if (released != NULL) {
    PyEval_RestoreThread(released);
  }
  return result;
}

/* Checks a 0-based position against the table; 0, or -1 with an exception set. */
static int check_position(PyObject* module, const Reader* reader, Py_ssize_t position, int* count) {
  *count = record_count(reader);
  if (*count < 0) {
    fail(module, *count);
    return -1;
  }
  if (position < 0 || position >= *count) {
    fail(module, ERR_NO_SUCH_RECORD);
    return -1;
  }
  return 0;
}

static int seek_position(PyObject* module, const Reader* reader, Py_ssize_t position, int count) {
  int result = seek(reader, (int)position + 1, count);
  if (result < 0) {
    fail(module, result);
    return -1;
  }
  return 0;
}

PyDoc_STRVAR(seek_doc,
             "seek(table, position)\n--\n\n"
             "Makes the record at a 0-based position current by the fewest cursor steps.");

static PyObject* datenbank_seek(PyObject* module, PyObject* args) {
  PyObject* table;
  Py_ssize_t position;
  if (!PyArg_ParseTuple(args, "On:seek", &table, &position)) {
    return NULL;
  }
  Reader reader;
  int count;
  if (reader_open(&reader, table, TEXT_BYTES, NULL) < 0 ||
      check_position(module, &reader, position, &count) < 0 ||
      seek_position(module, &reader, position, count) < 0) {
    return NULL;
  }
  Py_RETURN_NONE;
}

PyDoc_STRVAR(field_doc,
             "field(table, position, index, text, charmap)\n--\n\n"
             "Field index of the record at a 0-based position; None when absent.");

static PyObject* datenbank_field(PyObject* module, PyObject* args) {
  PyObject* table;
  Py_ssize_t position;
  int index;
  int text;
  PyObject* charmap;
  if (!PyArg_ParseTuple(args, "OniiO:field", &table, &position, &index, &text, &charmap)) {
    return NULL;
  }
  Reader reader;
  int count;
  if (reader_open(&reader, table, text, charmap) < 0 ||
      check_position(module, &reader, position, &count) < 0 ||
      seek_position(module, &reader, position, count) < 0) {
    return NULL;
  }
  PyObject* value = read_field(module, &reader, index);
  reader_close(&reader);
  return value;
}

PyDoc_STRVAR(rows_doc,
             "rows(table, start, stop, text, charmap)\n--\n\n"
             "The records from 0-based start up to stop, each a list of its fields (None for an\n"
             "absent field). text says how fields are decoded: 0 bytes, 1 through charmap (a str\n"
             "of 256 characters), 2 UTF-8, 3 Latin-1. stop is cut to the record count.");

static PyObject* datenbank_rows(PyObject* module, PyObject* args) {
  PyObject* table;
  Py_ssize_t start;
  Py_ssize_t stop;
  int text;
  PyObject* charmap;
  if (!PyArg_ParseTuple(args, "OnniO:rows", &table, &start, &stop, &text, &charmap)) {
    return NULL;
  }
  Reader reader;
  int count;
  if (reader_open(&reader, table, text, charmap) < 0 ||
      check_position(module, &reader, start, &count) < 0) {
    return NULL;
  }
  if (stop > count) {
    stop = count;
  }
  if (stop <= start) {
    return PyList_New(0);
  }
  int fields = call_cursor(&reader, SLOT_GET_FIELD_COUNT);
  if (fields < 0) {
    return fail(module, fields);
  }
  if (seek_position(module, &reader, start, count) < 0) {
    return NULL;
  }
  PyObject* rows = PyList_New(stop - start);
  if (rows == NULL) {
    return NULL;
  }
  for (Py_ssize_t position = start; position < stop; ++position) {
    if (position > start) {
      int reached = call_cursor(&reader, SLOT_NEXT_RECORD);
      if (reached < 0) {
        fail(module, reached);
        goto failed;
      }
    }
    PyObject* values = read_record(module, &reader, fields);
    if (values == NULL) {
      goto failed;
    }
    PyList_SET_ITEM(rows, position - start, values);
  }
  reader_close(&reader);
  return rows;

failed:
  reader_close(&reader);
  Py_DECREF(rows);
  return NULL;
}

static PyMethodDef methods[] = {
    {"seek", datenbank_seek, METH_VARARGS, seek_doc},
    {"field", datenbank_field, METH_VARARGS, field_doc},
    {"rows", datenbank_rows, METH_VARARGS, rows_doc},
    {NULL, NULL, 0, NULL},
};

static int module_exec(PyObject* module) {
  ModuleState* state = state_of(module);
  state->failure = PyErr_NewExceptionWithDoc(
      "_datenbank.Failure", "A negative result code of the module; args[0] is the code.", NULL,
      NULL);
  if (state->failure == NULL) {
    return -1;
  }
  Py_INCREF(state->failure);
  if (PyModule_AddObject(module, "Failure", state->failure) < 0) {
    Py_DECREF(state->failure);
    return -1;
  }
  if (PyModule_AddIntConstant(module, "TEXT_BYTES", TEXT_BYTES) < 0 ||
      PyModule_AddIntConstant(module, "TEXT_CHARMAP", TEXT_CHARMAP) < 0 ||
      PyModule_AddIntConstant(module, "TEXT_UTF8", TEXT_UTF8) < 0 ||
      PyModule_AddIntConstant(module, "TEXT_LATIN1", TEXT_LATIN1) < 0 ||
      PyModule_AddStringConstant(module, "TABLE_CAPSULE", TABLE_CAPSULE) < 0) {
    return -1;
  }
  return 0;
}

static int module_traverse(PyObject* module, visitproc visit, void* arg) {
  ModuleState* state = state_of(module);
  Py_VISIT(state->failure);
  return 0;
}

static int module_clear(PyObject* module) {
  ModuleState* state = state_of(module);
  Py_CLEAR(state->failure);
  return 0;
}

static void module_free(void* module) {
  module_clear((PyObject*)module);
}

static struct PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "_datenbank",
    "The compiled loops of the datenbank package: cursor walks and whole records.",
    sizeof(ModuleState),
    methods,
    NULL,
    module_traverse,
    module_clear,
    module_free,
};

PyMODINIT_FUNC PyInit__datenbank(void) {
  PyObject* module = PyModule_Create(&definition);
  if (module != NULL && module_exec(module) < 0) {
    Py_DECREF(module);
    return NULL;
  }
  return module;
}
