// The subcommands. Each group registers its subcommands with CLI11 and a runner for each; main
// runs the runner of the subcommand that was given once the whole command line has been parsed.
#ifndef DATENBANK_TOOL_COMMANDS_H
#define DATENBANK_TOOL_COMMANDS_H

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

#include "tools/datenbank/session.h"

namespace datenbank_tool {

struct Command {
  CLI::App* app = nullptr;
  std::function<int(Session&)> run;  // returns the exit status
};

// show, check, get
void AddViewCommands(CLI::App& app, std::vector<Command>& commands);
// set, add, delete, append, new
void AddEditCommands(CLI::App& app, std::vector<Command>& commands);
// info, error
void AddModuleCommands(CLI::App& app, std::vector<Command>& commands);

// What the commands that work on a file have in common.
struct FileArguments {
  std::string file;
  std::string delimiter = ";";
  bool bytes = false;
  std::string out;  // -o; empty when the file is edited in place
};

// Adds FILE, -d and --bytes to sub, and -o when withOut is set.
void AddFileArguments(CLI::App* sub, FileArguments& arguments, bool withOut);

// The delimiter byte of -d. False after reporting a form that names no single byte.
bool DelimiterByte(const std::string& argument, bool bytes, char& delimiter);

// Names the file, sets the delimiter and loads the file. kExitOk with the number of records in
// records (an empty file becomes an open table with fieldsWhenEmpty fields), or the exit status
// after the problem was reported.
int OpenFile(Session& session, const FileArguments& arguments, int& records,
             int fieldsWhenEmpty = 0);

// OpenFile, then the cursor moved to record (1-based). kExitOk with where naming the file and the
// record for later messages, or the exit status after the problem was reported.
int OpenAtRecord(Session& session, const FileArguments& arguments, int record, std::string& where);

// Saves the table under -o's name if given, else under the file's own. The exit status.
int SaveFile(Session& session, const FileArguments& arguments);

// A text argument as the module takes it: Windows-1252, or the bytes unchanged with --bytes.
// False after reporting a text that cannot be converted; what names the argument.
bool ModuleText(const std::string& argument, bool bytes, const std::string& what,
                std::string& text);

// A Windows-1252 text for standard output: UTF-8, or the bytes unchanged with bytes set.
std::string TerminalText(const std::string& cp1252, bool bytes);

// Checks of number arguments, with messages that name the bound.
CLI::Validator FromOne();
CLI::Validator FromZero();

// text broken into lines of at most 96 characters at its blanks; its own line breaks are kept.
std::string Wrapped(const std::string& text);

// Explains the numbering and the text conversion; shown in the help of the commands it concerns.
extern const char* const kNumberingNote;
extern const char* const kDelimiterHelp;
extern const char* const kBytesHelp;

}  // namespace datenbank_tool

#endif
