// One table object of the module and the conversations the subcommands have with it. Everything
// goes through the 29 operations of TMainDB; the tool never reads a table file itself.
#ifndef DATENBANK_TOOL_SESSION_H
#define DATENBANK_TOOL_SESSION_H

#include <string>
#include <string_view>
#include <vector>

#include "datenbank.h"
#include "tools/datenbank/encoding.h"

namespace datenbank_tool {

// Exit statuses of the tool.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // the module or the system refused
constexpr int kExitUsage = 2;    // the command line was wrong

class Session {
 public:
  Session() = default;
  ~Session();  // removes the temporary files
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Loads the library and asks its factory for the table object. False, with the reason printed
  // on standard error, when either fails.
  bool Start();

  // Releases the records and the stored name; the object itself is never destroyed.
  void Finish();

  TMainDB& Table() { return *table_; }
  const std::string& Library() const { return library_; }

  // The module's German message of a result code, as UTF-8; empty for a code it does not know.
  std::string Message(int code);

  // Prints "datenbank: SUBJECT: MESSAGE (code N)" on standard error, or with a reason the tool
  // found itself "datenbank: SUBJECT: REASON: MESSAGE (code N)", and returns kExitFailure.
  int Fail(const std::string& subject, int code, const std::string& reason = {});

  // Sets the file name (UTF-8 on the command line, converted as the platform needs) and the
  // delimiter. False after printing the reason when the name cannot be given to the module.
  bool Name(const std::string& file);
  void ApplyDelimiter() { table_->SetDelimiter(delimiter); }

  // Loads the named file. The number of records (0 for an empty file, which then becomes an open
  // table without records and fieldsWhenEmpty fields), or a negative result code.
  int Load(int fieldsWhenEmpty = 0);

  // Moves the cursor to record (1-based). The record's position, or the module's code:
  // dbErrNoRecords for an empty table, dbErrNoSuchRecord past the end.
  int MoveTo(int record);

  // Field index of the current record into text (Windows-1252, as stored). 0, or a negative code;
  // dbErrFieldEmpty means the field is absent.
  int Field(int index, std::string& text);
  // The same into a buffer the session keeps: text is valid until the next call.
  int FieldView(int index, std::string_view& text);
  // The same without measuring it: text ends with a NUL.
  int FieldText(int index, const char*& text);

  // How texts are read and written, and the delimiter, once the command line has been taken.
  TextMode mode;
  char delimiter = ';';
  // The file the module reads (a temporary copy for standard input) and its size.
  std::string source;
  unsigned long long sourceSize = 0;

  // A temporary file the session removes when it ends (or earlier with Forget).
  void Keep(const std::string& temporary) { temporaries_.push_back(temporary); }
  void Forget(const std::string& temporary);

 private:
  TMainDB* table_ = nullptr;  // also held in a global, see session.cpp
  std::string library_;
  std::vector<char> field_ = std::vector<char>(4096);
  std::vector<std::string> temporaries_;
};

// Reads one text by the module's text-out convention, growing the buffer as the module asks.
// Returns the operation's negative result, or 0 with the text in text.
template <typename Operation>
int ReadText(Operation operation, std::string& text) {
  text.assign(256, '\0');
  // The module names the size it needs; asking a few times covers a text that grows in between.
  for (int attempt = 0; attempt < 4; ++attempt) {
    const int result = operation(text.data(), static_cast<unsigned>(text.size()));
    if (result < 0) {
      text.clear();
      return result;
    }
    if (result == 0) {
      text.resize(text.find('\0'));
      return 0;
    }
    text.assign(static_cast<std::size_t>(result) + 1, '\0');
  }
  text.clear();
  return dbErrUnknown;
}

}  // namespace datenbank_tool

#endif
