// What the subcommands share: the file arguments, the delimiter forms, the text conversion of
// arguments, and loading and saving through the session.
#include <CLI/CLI.hpp>
#include <iostream>

#include "tools/datenbank/commands.h"
#include "tools/datenbank/cp1252.h"

namespace datenbank_tool {

const char* const kNumberingNote =
    "Records are numbered from 1, as the module's cursor counts them; fields from 0, as GetField "
    "counts them.";
const char* const kDelimiterHelp =
    "Field delimiter: one character, \\t for a tab, or a byte as 0xNN (default ;)";
const char* const kBytesHelp =
    "Take text arguments and print field texts as Windows-1252 bytes, unconverted";

namespace {

CLI::Validator AtLeast(int lowest) {
  return CLI::Validator(
      [lowest](std::string& value) -> std::string {
        int number = 0;
        if (!CLI::detail::lexical_cast(value, number) || number < lowest) {
          return "must be a whole number of at least " + std::to_string(lowest) + ", not " + value;
        }
        return {};
      },
      "INT>=" + std::to_string(lowest));
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

}  // namespace

CLI::Validator FromOne() {
  return AtLeast(1);
}
CLI::Validator FromZero() {
  return AtLeast(0);
}

bool DelimiterByte(const std::string& argument, bool bytes, char& delimiter) {
  if (argument == "\\t") {
    delimiter = '\t';
    return true;
  }
  if (argument.size() == 4 && argument[0] == '0' && (argument[1] == 'x' || argument[1] == 'X') &&
      HexDigit(argument[2]) >= 0 && HexDigit(argument[3]) >= 0) {
    delimiter = static_cast<char>(HexDigit(argument[2]) * 16 + HexDigit(argument[3]));
    return true;
  }
  std::string text;
  if (!ModuleText(argument, bytes, "delimiter", text)) {
    return false;
  }
  if (text.size() != 1) {
    std::cerr << "datenbank: delimiter '" << argument
              << "': give one character, \\t, or a byte as 0xNN\n";
    return false;
  }
  delimiter = text[0];
  return true;
}

void AddFileArguments(CLI::App* sub, FileArguments& arguments, bool withOut) {
  sub->add_option("FILE", arguments.file, "The table file")->required();
  sub->add_option("-d,--delimiter", arguments.delimiter, kDelimiterHelp);
  sub->add_flag("--bytes", arguments.bytes, kBytesHelp);
  if (withOut) {
    sub->add_option("-o,--output", arguments.out,
                    "Write the result to OUT instead of replacing FILE");
  }
}

std::string Wrapped(const std::string& text) {
  constexpr std::size_t kWidth = 96;
  std::string out;
  std::size_t lineStart = 0;  // in out
  std::size_t position = 0;
  while (position < text.size()) {
    const std::size_t end = text.find_first_of(" \n", position);
    const std::string word = text.substr(position, end - position);
    if (out.size() > lineStart && out.size() - lineStart + 1 + word.size() > kWidth) {
      out += '\n';
      lineStart = out.size();
    } else if (out.size() > lineStart) {
      out += ' ';
    }
    out += word;
    if (end == std::string::npos) {
      break;
    }
    if (text[end] == '\n') {
      out += '\n';
      lineStart = out.size();
    }
    position = end + 1;
  }
  return out;
}

bool ModuleText(const std::string& argument, bool bytes, const std::string& what,
                std::string& text) {
  if (bytes) {
    text = argument;
    return true;
  }
  std::string problem;
  const Conversion result = Utf8ToCp1252(argument, text, problem);
  if (result == Conversion::kDone) {
    return true;
  }
  std::cerr << "datenbank: " << what << ": " << problem
            << " (--bytes passes arguments unconverted)\n";
  return false;
}

std::string TerminalText(const std::string& cp1252, bool bytes) {
  return bytes ? cp1252 : Cp1252ToUtf8(cp1252);
}

int OpenFile(Session& session, const FileArguments& arguments, int& records, int fieldsWhenEmpty) {
  char delimiter = 0;
  if (!DelimiterByte(arguments.delimiter, arguments.bytes, delimiter)) {
    return kExitUsage;
  }
  if (!session.Start() || !session.Name(arguments.file)) {
    return kExitFailure;
  }
  session.Delimiter(delimiter);
  records = session.Load(fieldsWhenEmpty);
  if (records < 0) {
    return session.Fail(arguments.file, records);
  }
  return kExitOk;
}

int OpenAtRecord(Session& session, const FileArguments& arguments, int record, std::string& where) {
  int records = 0;
  if (const int status = OpenFile(session, arguments, records); status != kExitOk) {
    return status;
  }
  where = arguments.file + ": record " + std::to_string(record);
  const int position = session.MoveTo(record);
  return position < 0 ? session.Fail(where, position) : kExitOk;
}

int SaveFile(Session& session, const FileArguments& arguments) {
  const std::string& target = arguments.out.empty() ? arguments.file : arguments.out;
  if (!arguments.out.empty() && !session.Name(arguments.out)) {
    return kExitFailure;
  }
  const int written = session.Table().SaveFile();
  if (written < 0) {
    return session.Fail(target, written);
  }
  return kExitOk;
}

}  // namespace datenbank_tool
