// What the subcommands share: the file arguments, the delimiter forms and -d auto, the text
// conversion of arguments, standard input and output, column lists, and loading and saving
// through the session with the reasons the tool finds for a refusal.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <iostream>
#include <map>

#include "tools/datenbank/commands.h"
#include "tools/datenbank/output.h"
#include "tools/datenbank/platform.h"

namespace datenbank_tool {

const char* const kNumberingNote =
    "Records are numbered from 1, as the module's cursor counts them; fields from 0, as GetField "
    "counts them.";
const char* const kDelimiterHelp =
    "Field delimiter: one character, \\t for a tab, a byte as 0xNN, or auto to pick it from the "
    "first lines (default ;)";
const char* const kBytesHelp =
    "Take text arguments and print field texts as the file's bytes, unconverted";
const char* const kEncodingHelp =
    "Encoding of the file's texts: cp1252 (default), utf-8 or latin-1";
const char* const kRewriteNote =
    "Saving rewrites every line of the file: each ends with CR LF, and a line shorter than the "
    "table's field count is filled up with delimiters.";

namespace {

// -d auto's candidates, in the order a tie goes to.
constexpr std::array<char, 5> kCandidates = {';', ',', '\t', ':', '|'};
constexpr std::size_t kHeadBytes = std::size_t{64} * 1024;
constexpr int kHeadLines = 100;

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

std::string DelimiterName(char delimiter) {
  if (delimiter == '\t') {
    return "\\t";
  }
  const auto byte = static_cast<unsigned char>(delimiter);
  if (byte < 0x20 || byte >= 0x7F) {
    return "0x" + Hex(byte, 2);
  }
  return std::string(1, delimiter);
}

bool DelimiterByte(const std::string& argument, const Session& session, char& delimiter) {
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
  if (!ModuleText(session, argument, "delimiter", text)) {
    return false;
  }
  if (text.size() != 1) {
    std::cerr << "datenbank: delimiter '" << argument
              << "': give one character, \\t, a byte as 0xNN, or auto\n";
    return false;
  }
  delimiter = text[0];
  return true;
}

// The first lines of a file, without their line ends; the last one only when it is complete.
std::vector<std::string> HeadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::string problem;
  std::FILE* file = OpenForReading(path, problem);
  if (file == nullptr) {
    return lines;
  }
  std::string head(kHeadBytes, '\0');
  head.resize(std::fread(head.data(), 1, head.size(), file));
  const bool whole = std::feof(file) != 0;
  static_cast<void>(std::fclose(file));  // only read
  std::size_t start = 0;
  while (start < head.size() && static_cast<int>(lines.size()) < kHeadLines) {
    std::size_t end = head.find('\n', start);
    if (end == std::string::npos && !whole) {
      break;
    }
    end = end == std::string::npos ? head.size() : end;
    std::string line = head.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (!line.empty()) {
      lines.push_back(std::move(line));
    }
    start = end + 1;
  }
  return lines;
}

// The candidate that splits the most lines into one field count above one; false when none splits
// any line. fields receives that count.
bool Sniff(const std::vector<std::string>& lines, char& delimiter, int& fields) {
  int bestLines = 0;
  for (const char candidate : kCandidates) {
    std::map<int, int> linesByCount;
    for (const std::string& line : lines) {
      const int count = 1 + static_cast<int>(std::count(line.begin(), line.end(), candidate));
      if (count > 1) {
        ++linesByCount[count];
      }
    }
    for (const auto& [count, number] : linesByCount) {
      if (number > bestLines) {
        bestLines = number;
        delimiter = candidate;
        fields = count;
      }
    }
  }
  return bestLines > 0;
}

// True when the first lines hold characters of more than one byte in UTF-8 and nothing that is
// not UTF-8: Windows-1252 would show them as two or three characters each.
bool LooksLikeUtf8(const std::string& path) {
  bool wide = false;
  for (const std::string& line : HeadLines(path)) {
    std::size_t position = 0;
    while (position < line.size()) {
      const bool ascii = static_cast<unsigned char>(line[position]) < 0x80;
      char32_t character = 0;
      if (!NextUtf8Character(line, position, character)) {
        return false;
      }
      wide = wide || !ascii;
    }
  }
  return wide;
}

std::string ByteName(char byte, char delimiter) {
  if (byte == delimiter) {
    return "the delimiter '" + DelimiterName(delimiter) + "'";
  }
  switch (byte) {
    case '\r':
      return "a carriage return (0x0D)";
    case '\n':
      return "a line feed (0x0A)";
    default:
      return "a NUL byte (0x00)";
  }
}

}  // namespace

CLI::Validator FromOne() {
  return AtLeast(1);
}
CLI::Validator FromZero() {
  return AtLeast(0);
}

std::string Subject(const std::string& file) {
  return file == "-" ? "standard input" : file;
}

void AddDelimiterArgument(CLI::App* sub, FileArguments& arguments) {
  sub->add_option("-d,--delimiter", arguments.delimiter, kDelimiterHelp)
      ->type_name("D")
      ->each([&arguments](const std::string&) { arguments.delimiterGiven = true; });
}

void AddEncodingArgument(CLI::App* sub, FileArguments& arguments) {
  sub->add_option("--encoding", arguments.encoding, kEncodingHelp)
      ->type_name("E")
      ->each([&arguments](const std::string&) { arguments.encodingGiven = true; })
      ->check(CLI::Validator(
          [](std::string& value) -> std::string {
            Encoding encoding = Encoding::kCp1252;
            return ParseEncoding(value, encoding)
                       ? std::string()
                       : "'" + value + "' is not one of cp1252, utf-8, latin-1";
          },
          "cp1252|utf-8|latin-1"));
}

void AddFileArguments(CLI::App* sub, FileArguments& arguments, bool withOut) {
  sub->add_option("FILE", arguments.file, "The table file; - reads standard input")->required();
  AddDelimiterArgument(sub, arguments);
  AddEncodingArgument(sub, arguments);
  sub->add_flag("--bytes", arguments.bytes, kBytesHelp);
  if (withOut) {
    sub->add_option("-o,--output", arguments.out,
                    "Write the result to OUT instead of replacing FILE; - for standard output")
        ->type_name("OUT");
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

bool ModuleText(const Session& session, const std::string& argument, const std::string& what,
                std::string& text) {
  if (session.mode.bytes) {
    text = argument;
    return true;
  }
  std::string problem;
  if (EncodeText(session.mode.encoding, argument, text, problem) == Conversion::kDone) {
    return true;
  }
  const bool utf8 = session.mode.encoding == Encoding::kUtf8;
  std::cerr << "datenbank: " << what << ": " << problem << " ("
            << (utf8 ? "" : "--encoding utf-8 takes any character; ")
            << "--bytes passes arguments unconverted)\n";
  return false;
}

bool FitsInField(const Session& session, const std::string& text, const std::string& what) {
  const char breakers[] = {session.delimiter, '\r', '\n', '\0'};
  const std::size_t at = text.find_first_of(std::string_view(breakers, sizeof breakers));
  if (at == std::string::npos) {
    return true;
  }
  std::cerr << "datenbank: " << what << ": holds " << ByteName(text[at], session.delimiter)
            << " at byte " << at << ", which would "
            << (text[at] == session.delimiter ? "split the field" : "split the record")
            << " when the file is saved; nothing was written\n";
  return false;
}

std::string TerminalText(const Session& session, std::string_view text) {
  if (session.mode.bytes) {
    return std::string(text);
  }
  std::string out;
  AppendField(out, text, session.mode, FieldForm::kPlain, true);
  return out;
}

bool TakeTextArguments(Session& session, const FileArguments& arguments) {
  session.mode.bytes = arguments.bytes;
  ParseEncoding(arguments.encoding, session.mode.encoding);  // checked by the command line
  if (arguments.delimiter == "auto") {
    return true;
  }
  return DelimiterByte(arguments.delimiter, session, session.delimiter);
}

bool SpoolStandardInput(Session& session, std::string& path) {
  std::string problem;
  std::FILE* copy = CreateTemporaryFile("", "datenbank-stdin", false, path, problem);
  if (copy == nullptr) {
    std::cerr << "datenbank: cannot copy standard input: " << problem << "\n";
    return false;
  }
  session.Keep(path);
  std::FILE* input = BinaryStandardInput();
  std::vector<char> block(Output::kLimit);
  std::size_t count = 0;
  bool written = true;
  while (written && (count = std::fread(block.data(), 1, block.size(), input)) > 0) {
    written = std::fwrite(block.data(), 1, count, copy) == count;
  }
  const bool read = std::ferror(input) == 0;
  if (std::fclose(copy) != 0 || !written || !read) {
    std::cerr << "datenbank: cannot copy standard input: " << path << ": "
              << (read ? "write failed" : "read failed") << "\n";
    return false;
  }
  return true;
}

int PrepareFile(Session& session, const FileArguments& arguments) {
  if (!TakeTextArguments(session, arguments)) {
    return kExitUsage;
  }
  if (!session.Start()) {
    return kExitFailure;
  }
  session.source = arguments.file;
  if (arguments.file == "-") {
    // The module reads named files only: standard input goes to a temporary file first.
    if (!SpoolStandardInput(session, session.source)) {
      return kExitFailure;
    }
  }
  session.sourceSize = FileSize(session.source);
  if (arguments.delimiter == "auto") {
    int fields = 0;
    Sniff(HeadLines(session.source), session.delimiter, fields);
  }
  if (!session.Name(session.source)) {
    return kExitFailure;
  }
  session.ApplyDelimiter();
  return kExitOk;
}

int FinishLoad(Session& session, const FileArguments& arguments, int loaded) {
  const bool spooled = arguments.file == "-";
  int status = kExitOk;
  if (loaded < 0) {
    std::string reason;
    if (!spooled && (loaded == dbErrFileNotFound || loaded == dbErrFileAccess)) {
      reason = FileProblem(arguments.file, false);
    }
    status = session.Fail(Subject(arguments.file), loaded, reason);
  } else if (loaded > 0 && !arguments.delimiterGiven && session.Table().GetFieldCount() == 1) {
    char candidate = 0;
    int fields = 0;
    if (Sniff(HeadLines(session.source), candidate, fields) && candidate != session.delimiter) {
      std::cerr << "datenbank: " << Subject(arguments.file) << ": 1 field with '"
                << DelimiterName(session.delimiter) << "'; try -d '" << DelimiterName(candidate)
                << "' (" << fields << " fields) or -d auto\n";
    }
  }
  if (loaded > 0 && !arguments.encodingGiven && !arguments.bytes && LooksLikeUtf8(session.source)) {
    std::cerr << "datenbank: " << Subject(arguments.file)
              << ": the texts look like UTF-8; --encoding utf-8 reads them as such\n";
  }
  if (spooled) {
    session.Forget(session.source);
  }
  return status;
}

int OpenFile(Session& session, const FileArguments& arguments, int& records, int fieldsWhenEmpty) {
  if (const int status = PrepareFile(session, arguments); status != kExitOk) {
    return status;
  }
  records = session.Load(fieldsWhenEmpty);
  return FinishLoad(session, arguments, records);
}

int OpenAtRecord(Session& session, const FileArguments& arguments, int record, std::string& where) {
  int records = 0;
  if (const int status = OpenFile(session, arguments, records); status != kExitOk) {
    return status;
  }
  where = Subject(arguments.file) + ": record " + std::to_string(record);
  const int position = session.MoveTo(record);
  return position < 0 ? session.Fail(where, position) : kExitOk;
}

int SaveFile(Session& session, const FileArguments& arguments) {
  const std::string& target = arguments.out.empty() ? arguments.file : arguments.out;
  const bool toOutput = target == "-";
  std::string path = target;
  std::string problem;
  if (toOutput) {
    std::FILE* file = CreateTemporaryFile("", "datenbank-out", false, path, problem);
    if (file == nullptr) {
      std::cerr << "datenbank: cannot make a temporary file: " << problem << "\n";
      return kExitFailure;
    }
    static_cast<void>(std::fclose(file));  // empty; the module replaces it
    session.Keep(path);
  }
  if (!session.Name(path)) {
    return kExitFailure;
  }
  const int written = session.Table().SaveFile();
  if (written < 0) {
    std::string reason;
    if (!toOutput && written == dbErrFileAccess) {
      reason = FileProblem(target, true);
    } else if (!toOutput && written == dbErrWriteFailed) {
      reason = WriteProblem(target, session.sourceSize);
    }
    return session.Fail(toOutput ? "standard output" : target, written, reason);
  }
  if (toOutput) {
    std::FILE* saved = OpenForReading(path, problem);
    if (saved == nullptr) {
      std::cerr << "datenbank: " << path << ": " << problem << "\n";
      return kExitFailure;
    }
    RemoveFile(path);  // where the system allows it while open: nothing is left if output stops
    std::cout.flush();
    const bool copied = CopyToStandardOutput(saved, problem);
    static_cast<void>(std::fclose(saved));  // only read
    session.Forget(path);
    if (!copied) {
      std::cerr << "datenbank: cannot write to standard output: " << problem << "\n";
      return kExitFailure;
    }
  }
  return kExitOk;
}

bool SelectColumns(const std::string& list, int fieldCount,
                   const std::vector<std::optional<std::string>>& names,
                   std::vector<int>& columns) {
  columns.clear();
  if (list.empty()) {
    for (int i = 0; i < fieldCount; ++i) {
      columns.push_back(i);
    }
    return true;
  }
  const auto number = [](const std::string& text, int& value) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
      return false;
    }
    value = std::stoi(text);
    return true;
  };
  const auto fail = [](const std::string& item, const std::string& problem) {
    std::cerr << "datenbank: --columns: '" << item << "': " << problem << "\n";
    return false;
  };
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(',', start);
    end = end == std::string::npos ? list.size() : end;
    const std::string item = list.substr(start, end - start);
    start = end + 1;
    int first = 0;
    int last = 0;
    const std::size_t dash = item.find('-');
    if (number(item, first)) {
      last = first;
    } else if (dash != std::string::npos && number(item.substr(0, dash), first) &&
               (dash + 1 == item.size() || number(item.substr(dash + 1), last))) {
      last = dash + 1 == item.size() ? fieldCount - 1 : last;
      if (last < first) {
        return fail(item, "the range runs backwards");
      }
    } else if (names.empty()) {
      return fail(item, "not a field number (names need --header)");
    } else {
      const auto found = std::find(names.begin(), names.end(), std::optional<std::string>(item));
      if (found == names.end()) {
        std::string known;
        for (const auto& name : names) {
          known += (known.empty() ? "" : ", ") + name.value_or("");
        }
        return fail(item, "no column of that name (the header has: " + known + ")");
      }
      first = last = static_cast<int>(found - names.begin());
    }
    if (fieldCount > 0 && last >= fieldCount) {
      return fail(item, "the file has fields 0-" + std::to_string(fieldCount - 1));
    }
    for (int i = first; i <= last && fieldCount > 0; ++i) {
      columns.push_back(i);
    }
  }
  return true;
}

std::vector<std::optional<std::string>> HeaderNames(Session& session, int fieldCount) {
  std::vector<std::optional<std::string>> names;
  if (session.MoveTo(1) != 1) {
    return names;
  }
  for (int i = 0; i < fieldCount; ++i) {
    std::string_view text;
    if (session.FieldView(i, text) == 0) {
      names.emplace_back(ReadableText(text, session.mode));
    } else {
      names.emplace_back();
    }
  }
  return names;
}

}  // namespace datenbank_tool
