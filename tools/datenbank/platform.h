// What differs between POSIX and Windows: the command line, finding and loading the library, file
// names as the module takes them, and the terminal.
#ifndef DATENBANK_TOOL_PLATFORM_H
#define DATENBANK_TOOL_PLATFORM_H

#include <cstdio>
#include <string>
#include <vector>

#include "datenbank.h"

namespace datenbank_tool {

// The arguments as UTF-8, program name first. On Windows they are read from the wide command line,
// since argv holds them in the ANSI code page with unmappable characters already replaced.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Makes standard output take bytes unchanged (no line-end translation) and, on a Windows console,
// shows them as UTF-8. On POSIX a write past the file size limit fails instead of ending the
// process.
void PrepareOutput();

// Loads the library and calls its factory. Looks at DATENBANK_LIBRARY first, then next to this
// executable, then lets the system search by the library's own name. On failure returns null with
// the reason in error. library receives the path or name that was loaded.
TMainDB* LoadModule(std::string& library, std::string& error);

// The factory's type, and the table object it makes, for both platforms' LoadModule: null with the
// reason in error when the library has no factory (factory null) or the factory makes no object.
using Factory = TMainDB* DB_CALL (*)();
TMainDB* CreateTable(Factory factory, const std::string& library, std::string& error);

// A file name given on the command line (UTF-8) as the module's SetFileName takes it: the bytes
// unchanged on POSIX, where names are bytes; the ANSI code page on Windows, whose module opens
// names with the A functions. False with a reason in problem when the name cannot be expressed.
bool ModuleFileName(const std::string& utf8, std::string& name, std::string& problem);

// True when something, of any type, has this module file name.
bool NameExists(const std::string& name);

// True when standard output is a terminal (a console on Windows).
bool OutputIsTerminal();

// The width of the terminal on standard output in columns, or 0 when it is not a terminal or does
// not tell.
int TerminalWidth();

// True when standard output is a terminal that takes SGR escapes (dim and normal).
bool TerminalTakesEscapes();

// ---- files the tool itself opens: standard input spooled, outputs, the head of a file ----

// Opens a file given on the command line (UTF-8) for reading bytes; null with errno's reason in
// problem.
std::FILE* OpenForReading(const std::string& utf8, std::string& problem);

// Creates a new, empty file in directory (the system's temporary directory when empty), named
// after stem; path receives its name in the form of the command line (UTF-8). Only this user may
// read it, unless shared asks for the permissions a new file gets (an output that will replace
// its target). Open for writing and reading, or null with the reason in problem.
std::FILE* CreateTemporaryFile(const std::string& directory, const std::string& stem, bool shared,
                               std::string& path, std::string& problem);

// Moves a finished file over target (replacing it); false with the reason in problem.
bool MoveOver(const std::string& from, const std::string& target, std::string& problem);

// Removes a file the tool created; quietly does nothing when it is gone.
void RemoveFile(const std::string& path);

// Standard input and output as bytes (no line-end translation).
std::FILE* BinaryStandardInput();

// ---- why the module refused a file ----

// What the tool finds itself about a file that could not be read (forWriting false) or saved:
// "not found", "is a directory", "not a regular file", "permission denied", "read-only file",
// "directory not writable", "locked by another process", or empty when it finds nothing. The lock
// is probed by taking it for a moment, as the module takes it.
std::string FileProblem(const std::string& name, bool forWriting);

// Why writing about needed bytes to name failed once it was opened: "disk full" when its file
// system has less room, a file size limit of the process below it, else empty.
std::string WriteProblem(const std::string& name, unsigned long long needed);

// The size of a file in bytes; 0 when it cannot be told.
unsigned long long FileSize(const std::string& name);

}  // namespace datenbank_tool

#endif
