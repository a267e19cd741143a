// The subcommands. Each group registers its subcommands with CLI11 and a runner for each; main
// runs the runner of the subcommand that was given once the whole command line has been parsed.
#ifndef DATENBANK_TOOL_COMMANDS_H
#define DATENBANK_TOOL_COMMANDS_H

#include <CLI/CLI.hpp>
#include <functional>
#include <optional>
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
// export, import
void AddConvertCommands(CLI::App& app, std::vector<Command>& commands);
// info, error
void AddModuleCommands(CLI::App& app, std::vector<Command>& commands);

// What the commands that work on a file have in common.
struct FileArguments {
  std::string file;  // "-" for standard input
  std::string delimiter = ";";
  bool delimiterGiven = false;
  bool bytes = false;
  std::string encoding = "cp1252";
  bool encodingGiven = false;
  std::string out;  // -o; empty when the file is edited in place, "-" for standard output
};

// Adds FILE, -d, --encoding and --bytes to sub, and -o when withOut is set.
void AddFileArguments(CLI::App* sub, FileArguments& arguments, bool withOut);
// Adds -d and --encoding alone.
void AddDelimiterArgument(CLI::App* sub, FileArguments& arguments);
void AddEncodingArgument(CLI::App* sub, FileArguments& arguments);

// The text mode of --encoding and --bytes, and the delimiter byte of -d ("auto" is left to
// PrepareFile) into the session. False after reporting a form that names no single byte.
bool TakeTextArguments(Session& session, const FileArguments& arguments);

// What a message calls FILE: its name, or "standard input" for "-".
std::string Subject(const std::string& file);

// Copies standard input to a new temporary file that the session removes when it ends; path
// receives its name. False, with the reason on standard error, when that fails.
bool SpoolStandardInput(Session& session, std::string& path);

// Starts the session and names FILE to the module: standard input is first copied to a temporary
// file; -d auto reads the first lines. kExitOk, or the exit status after the problem was reported.
int PrepareFile(Session& session, const FileArguments& arguments);
// After LoadFile: reports a failed load with the reason the tool finds (returns the exit status),
// removes the copy of standard input, and says on standard error when the default delimiter found
// one field but another candidate would split the lines, or when the default encoding reads lines
// that are UTF-8.
int FinishLoad(Session& session, const FileArguments& arguments, int loaded);

// PrepareFile, LoadFile and FinishLoad. kExitOk with the number of records in records (an empty
// file becomes an open table with fieldsWhenEmpty fields), or the exit status after the problem
// was reported.
int OpenFile(Session& session, const FileArguments& arguments, int& records,
             int fieldsWhenEmpty = 0);

// OpenFile, then the cursor moved to record (1-based). kExitOk with where naming the file and the
// record for later messages, or the exit status after the problem was reported.
int OpenAtRecord(Session& session, const FileArguments& arguments, int record, std::string& where);

// Saves the table under -o's name if given, else under the file's own; "-" (or FILE "-" without
// -o) writes the saved file to standard output. The exit status.
int SaveFile(Session& session, const FileArguments& arguments);

// A text argument as the module takes it: in the session's encoding, or the bytes unchanged with
// --bytes. False after reporting a text that cannot be converted; what names the argument.
bool ModuleText(const Session& session, const std::string& argument, const std::string& what,
                std::string& text);

// A text bound for a field: false after reporting (exit status 2) a delimiter, CR, LF or NUL in
// it, which would split the field or the record when the file is saved.
bool FitsInField(const Session& session, const std::string& text, const std::string& what);

// A field text for standard output: UTF-8 decoded from the session's encoding, control characters
// included (a byte that does not decode as \xNN), or the bytes unchanged with --bytes.
std::string TerminalText(const Session& session, std::string_view text);

// --columns LIST: field numbers (from 0), ranges N-M and N- and, when names are given (the first
// record's texts as UTF-8), names. Empty list: every field. False after reporting (exit status 2).
bool SelectColumns(const std::string& list, int fieldCount,
                   const std::vector<std::optional<std::string>>& names, std::vector<int>& columns);

// The first record's field texts as UTF-8 names, absent ones empty; for --header.
std::vector<std::optional<std::string>> HeaderNames(Session& session, int fieldCount);

// Checks of number arguments, with messages that name the bound.
CLI::Validator FromOne();
CLI::Validator FromZero();

// text broken into lines of at most 96 characters at its blanks; its own line breaks are kept.
std::string Wrapped(const std::string& text);

// Explains the numbering and the text conversion; shown in the help of the commands it concerns.
extern const char* const kNumberingNote;
extern const char* const kDelimiterHelp;
extern const char* const kBytesHelp;
extern const char* const kEncodingHelp;
extern const char* const kRewriteNote;

}  // namespace datenbank_tool

#endif
