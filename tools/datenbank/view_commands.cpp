// show, check, get: the commands that read a file and change nothing.
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "tools/datenbank/commands.h"
#include "tools/datenbank/platform.h"
#include "tools/datenbank/render.h"

namespace datenbank_tool {

namespace {

struct ShowArguments {
  FileArguments file;
  int from = 1;
  int count = -1;  // all
  bool raw = false;
  std::string absent;
  bool absentGiven = false;
  int width = -1;  // from the environment
};

std::string Record(int record) {
  return "record " + std::to_string(record);
}

// --width, else COLUMNS, else the terminal's width; 0 (no limit) when output goes elsewhere.
int OutputWidth(int given) {
  if (given >= 0) {
    return given;
  }
  const char* columns = std::getenv("COLUMNS");
  if (columns != nullptr) {
    char* end = nullptr;
    const long value = std::strtol(columns, &end, 10);
    if (end != columns && *end == '\0' && value > 0 && value < 100000) {
      return static_cast<int>(value);
    }
  }
  return TerminalWidth();
}

bool TerminalTakesAttributes() {
  const char* noColor = std::getenv("NO_COLOR");
  const char* term = std::getenv("TERM");
  return TerminalTakesEscapes() && (noColor == nullptr || *noColor == '\0') &&
         (term == nullptr || std::string(term) != "dumb");
}

int RunShow(Session& session, const ShowArguments& arguments) {
  const FileArguments& file = arguments.file;
  // Raw output is the file's own bytes, so the marker for absent fields goes out in them too; the
  // table prints it as given, in the encoding of its other texts.
  const bool convertMarker = arguments.raw && !file.bytes;
  std::string absent;
  if (arguments.absentGiven && !ModuleText(arguments.absent, !convertMarker, "--absent", absent)) {
    return kExitUsage;
  }
  int records = 0;
  if (const int status = OpenFile(session, file, records); status != kExitOk) {
    return status;
  }
  TMainDB& table = session.Table();
  const int total = table.GetRecordCount();
  const int fieldCount = table.GetFieldCount();
  std::vector<Row> rows;
  if (total > 0 && arguments.count != 0) {
    int position = session.MoveTo(arguments.from);
    if (position < 0) {
      return session.Fail(file.file + ": " + Record(arguments.from), position);
    }
    for (int shown = 0; position > 0 && (arguments.count < 0 || shown < arguments.count); ++shown) {
      Row row;
      row.record = position;
      for (int i = 0; i < fieldCount; ++i) {
        Cell cell;
        std::string text;
        const int result = session.Field(i, text);
        if (result == dbErrFieldEmpty) {
          cell.absent = true;
        } else if (result < 0) {
          return session.Fail(file.file + ": " + Record(position), result);
        }
        cell.shown = arguments.raw ? Shown{text, 0} : DisplayText(text, file.bytes);
        row.cells.push_back(std::move(cell));
      }
      rows.push_back(std::move(row));
      position = table.NextRecord();
    }
  }

  if (arguments.raw) {
    std::string out;
    for (const Row& row : rows) {
      for (std::size_t i = 0; i < row.cells.size(); ++i) {
        if (i > 0) {
          out += '\t';
        }
        out += row.cells[i].absent ? absent : row.cells[i].shown.text;
      }
      out += '\n';
    }
    std::cout << out;
    return kExitOk;
  }

  TableStyle style;
  style.width = OutputWidth(arguments.width);
  style.bytes = file.bytes;
  style.dimAbsent = TerminalTakesAttributes();
  if (arguments.absentGiven) {
    style.absentMarker = PlainText(absent, file.bytes);
  } else {
    // Empty set, or the middle dot of Windows-1252.
    style.absentMarker = PlainText(file.bytes ? "\xB7" : "\u2205", file.bytes);
  }
  style.cutMarker = PlainText(file.bytes ? "\x85" : "\u2026", file.bytes);  // ellipsis
  if (rows.empty()) {
    if (total == 0) {
      std::cout << "0 records\n";
    } else {
      std::cout << "no records shown of " << total << ", " << fieldCount << " fields\n";
    }
    return kExitOk;
  }
  const int shownFields = RenderTable(std::cout, rows, fieldCount, style);
  std::cout << "records " << rows.front().record << "-" << rows.back().record << " of " << total;
  if (shownFields < fieldCount) {
    std::cout << ", fields 0-" << shownFields - 1 << " of " << fieldCount << " shown\n";
  } else {
    std::cout << ", " << fieldCount << (fieldCount == 1 ? " field\n" : " fields\n");
  }
  return kExitOk;
}

struct CheckArguments {
  FileArguments file;
  int fields = -1;  // not checked
  bool same = false;
};

int RunCheck(Session& session, const CheckArguments& arguments) {
  const FileArguments& file = arguments.file;
  char delimiter = 0;
  if (!DelimiterByte(file.delimiter, file.bytes, delimiter)) {
    return kExitUsage;
  }
  if (!session.Start() || !session.Name(file.file)) {
    return kExitFailure;
  }
  session.Delimiter(delimiter);
  const bool checkCount = arguments.fields >= 0;
  int fields = checkCount ? arguments.fields : 0;
  DB_BOOL same = arguments.same ? 1 : 0;
  const int records = session.Table().LoadFile(&fields, checkCount ? 1 : 0, &same);
  if (records == 0) {
    std::cout << "records: 0\nfields: 0\nsame field count: yes\n";
    return kExitOk;
  }
  // The module reports the file's field count with either refusal, and the agreement with the
  // second.
  if (records == dbErrFieldCount || records == dbErrIntegrity) {
    std::cout << "fields: " << fields;
    if (records == dbErrFieldCount) {
      std::cout << " (expected " << arguments.fields << ")";
    }
    std::cout << "\n";
    if (records == dbErrIntegrity) {
      std::cout << "same field count: no\n";
    }
  }
  if (records < 0) {
    return session.Fail(file.file, records);
  }
  std::cout << "records: " << records << "\nfields: " << fields
            << "\nsame field count: " << (same == 1 ? "yes" : "no") << "\n";
  return kExitOk;
}

struct GetArguments {
  FileArguments file;
  int record = 0;
  int field = 0;
};

int RunGet(Session& session, const GetArguments& arguments) {
  std::string where;
  if (const int status = OpenAtRecord(session, arguments.file, arguments.record, where);
      status != kExitOk) {
    return status;
  }
  std::string text;
  const int result = session.Field(arguments.field, text);
  if (result < 0) {
    return session.Fail(where + ", field " + std::to_string(arguments.field), result);
  }
  std::cout << TerminalText(text, arguments.file.bytes) << "\n";
  return kExitOk;
}

}  // namespace

void AddViewCommands(CLI::App& app, std::vector<Command>& commands) {
  auto show = std::make_shared<ShowArguments>();
  CLI::App* sub = app.add_subcommand("show", "Print the records as an aligned table");
  sub->footer(
      Wrapped(std::string(kNumberingNote) +
              "\nAn absent field (the line ended before it) shows as \u2205, dimmed on a "
              "terminal; an empty field shows as nothing. Long texts end in \u2026 to fit the "
              "width (--width, else COLUMNS, else the terminal's; no limit when output is not a "
              "terminal). Control bytes show as \\t or \\xNN.\n--raw prints each record on a "
              "line, fields separated by a tab, as the file's Windows-1252 bytes; an absent field "
              "prints as nothing, or as the text of --absent."));
  AddFileArguments(sub, show->file, false);
  sub->add_option("--from", show->from, "First record to show (default 1)")->check(FromOne());
  sub->add_option("--count", show->count, "Number of records to show (default all)")
      ->check(FromZero());
  sub->add_flag("--raw", show->raw, "Fields as they are, tab-separated, one record per line");
  sub->add_option("--absent", show->absent, "Text shown for an absent field")
      ->each([show](const std::string&) { show->absentGiven = true; });
  sub->add_option("--width", show->width, "Width of the table in columns; 0 for no limit")
      ->check(FromZero());
  commands.push_back({sub, [show](Session& session) { return RunShow(session, *show); }});

  auto check = std::make_shared<CheckArguments>();
  sub = app.add_subcommand("check", "Load a file with the module's checks and report");
  sub->footer(Wrapped(
      "Prints the number of records, the field count (the largest of any line) and whether "
      "every line has the first line's field count. Exit status 1, with the module's message, "
      "when the file cannot be loaded or a check fails."));
  AddFileArguments(sub, check->file, false);
  sub->add_option("--fields", check->fields, "Refuse a file whose field count is not N")
      ->check(FromZero());
  sub->add_flag("--same", check->same, "Refuse a file whose lines differ in field count");
  commands.push_back({sub, [check](Session& session) { return RunCheck(session, *check); }});

  auto get = std::make_shared<GetArguments>();
  sub = app.add_subcommand("get", "Print one field");
  sub->footer(Wrapped(std::string(kNumberingNote) +
                      "\nAn empty field prints an empty line; an absent field is an error (exit "
                      "status 1, the module's message for code -12)."));
  AddFileArguments(sub, get->file, false);
  sub->add_option("RECORD", get->record, "Record number, from 1")->required()->check(FromOne());
  sub->add_option("FIELD", get->field, "Field number, from 0")->required()->check(FromZero());
  commands.push_back({sub, [get](Session& session) { return RunGet(session, *get); }});
}

}  // namespace datenbank_tool
