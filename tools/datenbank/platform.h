// What differs between POSIX and Windows: the command line, finding and loading the library, file
// names as the module takes them, and the terminal.
#ifndef DATENBANK_TOOL_PLATFORM_H
#define DATENBANK_TOOL_PLATFORM_H

#include <string>
#include <vector>

#include "datenbank.h"

namespace datenbank_tool {

// The arguments as UTF-8, program name first. On Windows they are read from the wide command line,
// since argv holds them in the ANSI code page with unmappable characters already replaced.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Makes standard output take bytes unchanged (no line-end translation) and, on a Windows console,
// shows them as UTF-8.
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

// The width of the terminal on standard output in columns, or 0 when it is not a terminal.
int TerminalWidth();

// True when standard output is a terminal that takes SGR escapes (dim and normal).
bool TerminalTakesEscapes();

}  // namespace datenbank_tool

#endif
