// show, check, get: the commands that read a file and change nothing. show writes as it walks the
// records: the table measures its columns in a first walk and writes in a second, raw output needs
// one; neither keeps a record, so memory stays what the module holds.
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "tools/datenbank/commands.h"
#include "tools/datenbank/output.h"
#include "tools/datenbank/platform.h"
#include "tools/datenbank/render.h"

namespace datenbank_tool {

namespace {

struct ShowArguments {
  FileArguments file;
  int from = 1;
  int count = -1;  // all
  bool raw = false;
  bool header = false;
  std::string columns;
  std::string absent;
  bool absentGiven = false;
  int width = -1;  // from the environment
};

// --width, else on a terminal COLUMNS or the terminal's width; 0 (no limit) when output goes
// elsewhere.
int OutputWidth(int given) {
  if (given >= 0) {
    return given;
  }
  if (!OutputIsTerminal()) {
    return 0;
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

// Calls visit(position) for the records from first on, count of them (all when negative). The
// module's code when a field cannot be read, else 0.
template <typename Visit>
int Walk(Session& session, int first, int count, Visit visit) {
  int position = session.MoveTo(first);
  for (int done = 0; position > 0 && (count < 0 || done < count); ++done) {
    if (const int result = visit(position); result < 0) {
      return result;
    }
    position = session.Table().NextRecord();
  }
  return 0;
}

// The shown fields of the current record: their texts, nullopt for an absent one. texts keeps
// the bytes, views point into it.
int ReadCells(Session& session, const std::vector<int>& columns, std::vector<std::string>& texts,
              std::vector<std::optional<std::string_view>>& cells) {
  texts.resize(columns.size());
  cells.assign(columns.size(), std::nullopt);
  for (std::size_t i = 0; i < columns.size(); ++i) {
    std::string_view text;
    const int result = session.FieldView(columns[i], text);
    if (result == dbErrFieldEmpty) {
      continue;
    }
    if (result < 0) {
      return result;
    }
    texts[i].assign(text);
    cells[i] = texts[i];
  }
  return 0;
}

int RunShow(Session& session, const ShowArguments& arguments) {
  const FileArguments& file = arguments.file;
  int records = 0;
  if (const int status = OpenFile(session, file, records); status != kExitOk) {
    return status;
  }
  // The marker for absent fields goes out in the encoding of the other texts: with --raw and
  // --bytes that is the file's own.
  std::string absent = arguments.absent;
  std::string problem;
  if (arguments.absentGiven && arguments.raw && file.bytes &&
      EncodeText(session.mode.encoding, arguments.absent, absent, problem) != Conversion::kDone) {
    std::cerr << "datenbank: --absent: " << problem << "\n";
    return kExitUsage;
  }
  TMainDB& table = session.Table();
  const int total = table.GetRecordCount();
  const int fieldCount = table.GetFieldCount();
  std::vector<std::optional<std::string>> names;
  if (arguments.header && total > 0) {
    names = HeaderNames(session, fieldCount);
  }
  std::vector<int> columns;
  if (!SelectColumns(arguments.columns, fieldCount, names, columns)) {
    return kExitUsage;
  }
  const int first = arguments.header ? std::max(arguments.from, 2) : arguments.from;
  const int last = arguments.count < 0
                       ? total
                       : static_cast<int>(std::min<long long>(
                             total, static_cast<long long>(first) - 1 + arguments.count));
  Output out;
  const std::string subject = Subject(file.file);
  const auto failed = [&](int code) {
    out.Finish(problem);
    return session.Fail(subject + ": record " + std::to_string(table.GetRecordIndex()), code);
  };
  std::vector<std::string> texts;
  std::vector<std::optional<std::string_view>> cells;

  if (arguments.raw) {
    const auto line = [&](const std::vector<std::optional<std::string_view>>& row) {
      std::string& text = out.Text();
      for (std::size_t i = 0; i < row.size(); ++i) {
        if (i > 0) {
          text += '\t';
        }
        if (!row[i].has_value()) {
          text += absent;
        } else {
          AppendField(text, *row[i], session.mode, FieldForm::kTsv, true);
        }
      }
      text += '\n';
      out.Written();
    };
    // The names go out as the first record's fields, escaped like the records after them.
    const int from = !names.empty() && first <= last ? 1 : first;
    if (first <= last) {
      const int result = Walk(session, from, last - from + 1, [&](int position) {
        if (position > 1 && position < first) {
          return 0;  // between the names and --from
        }
        const int read = ReadCells(session, columns, texts, cells);
        if (read == 0) {
          line(cells);
        }
        return read;
      });
      if (result < 0) {
        return failed(result);
      }
    }
  } else if (total == 0) {
    out.Write("0 records\n");
  } else if (first <= last) {
    TableStyle style;
    style.width = OutputWidth(arguments.width);
    style.mode = session.mode;
    style.dimAbsent = TerminalTakesAttributes();
    const bool bytes = file.bytes;
    // Empty set, or the middle dot of Windows-1252; the ellipsis likewise.
    style.absentMarker = PlainText(arguments.absentGiven ? absent
                                   : bytes               ? "\xB7"
                                                         : "\u2205",
                                   bytes);
    style.cutMarker = PlainText(bytes ? "\x85" : "\u2026", bytes);
    std::vector<Shown> labels;
    for (const int column : columns) {
      const auto& name = names.empty() ? std::optional<std::string>() : names[column];
      labels.push_back(name.has_value() && !name->empty()
                           ? PlainText(*name, false)
                           : PlainText(std::to_string(column), false));
    }
    // First walk: the widest cell of each column. The texts are measured where the module copies
    // them, many bytes at a time; the buffer keeps 16 bytes beyond what the module is given.
    std::vector<int> natural(columns.size(), 0);
    std::vector<char> buffer(std::size_t{64} * 1024);
    int result = Walk(session, first, last - first + 1, [&](int) {
      for (std::size_t i = 0; i < columns.size(); ++i) {
        int read = 0;
        while ((read = table.GetField(columns[i], buffer.data(),
                                      static_cast<unsigned>(buffer.size() - 16))) > 0) {
          buffer.assign(static_cast<std::size_t>(read) + 32, '\0');
        }
        const int width = read == 0                 ? StoredTextWidth(buffer.data(), session.mode)
                          : read == dbErrFieldEmpty ? style.absentMarker.width
                                                    : -1;
        if (width < 0) {
          return read;
        }
        natural[i] = std::max(natural[i], width);
      }
      return 0;
    });
    if (result < 0) {
      return failed(result);
    }
    // Second walk: the rows.
    const TableLayout layout(std::move(labels), natural, last, style);
    layout.Header(out.Text());
    cells.reserve(columns.size());
    result = Walk(session, first, last - first + 1, [&](int position) {
      const int read = ReadCells(session, columns, texts, cells);
      if (read == 0) {
        layout.Row(out.Text(), position, cells);
        out.Written();
      }
      return read;
    });
    if (result < 0) {
      return failed(result);
    }
    std::string& text = out.Text();
    text += "records " + std::to_string(first) + "-" + std::to_string(last) + " of " +
            std::to_string(total);
    const int shown = layout.ShownColumns();
    if (shown < static_cast<int>(columns.size())) {
      text += ", " + std::to_string(shown) + " of " + std::to_string(columns.size()) +
              " columns shown\n";
    } else {
      text += ", " + std::to_string(fieldCount) + (fieldCount == 1 ? " field\n" : " fields\n");
    }
  }
  if (!out.Finish(problem)) {
    std::cerr << "datenbank: cannot write to standard output: " << problem << "\n";
    return kExitFailure;
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
  if (const int status = PrepareFile(session, file); status != kExitOk) {
    return status;
  }
  const bool checkCount = arguments.fields >= 0;
  int fields = checkCount ? arguments.fields : 0;
  DB_BOOL same = arguments.same ? 1 : 0;
  const int records = session.Table().LoadFile(&fields, checkCount ? 1 : 0, &same);
  if (records == 0) {
    std::cout << "records: 0\nfields: 0\nsame field count: yes\n";
    return FinishLoad(session, file, records);
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
  if (const int status = FinishLoad(session, file, records); status != kExitOk) {
    return status;
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
  std::cout << TerminalText(session, text) << "\n";
  return kExitOk;
}

}  // namespace

void AddViewCommands(CLI::App& app, std::vector<Command>& commands) {
  auto show = std::make_shared<ShowArguments>();
  CLI::App* sub = app.add_subcommand("show", "Print the records as an aligned table");
  sub->footer(Wrapped(
      std::string(kNumberingNote) +
      "\nAn absent field (the line ended before it) shows as \u2205, dimmed on a terminal; an "
      "empty field shows as nothing. On a terminal long texts end in \u2026 to fit the width "
      "(--width, else COLUMNS, else the terminal's); elsewhere nothing is cut unless --width "
      "says so. Control bytes show as \\t or \\xNN, and so does a byte that is no character of "
      "the encoding.\n--raw prints each record on a line, fields separated by a tab, in UTF-8 "
      "(the file's bytes with --bytes); a tab, CR, LF or backslash in a field is written as \\t, "
      "\\r, \\n or \\\\. An absent field prints as nothing, or as the text of --absent.\n"
      "--header takes the first record as the column names and shows the records after it; "
      "--columns picks fields by number (0,2,5-7) or, with --header, by name.\nA --from past the "
      "last record prints nothing."));
  AddFileArguments(sub, show->file, false);
  sub->add_option("--from", show->from, "First record to show (default 1)")
      ->type_name("N")
      ->check(FromOne());
  sub->add_option("--count", show->count, "Number of records to show (default all)")
      ->type_name("N")
      ->check(FromZero());
  sub->add_flag("--raw", show->raw, "Fields tab-separated, one record per line, escaped");
  sub->add_flag("--header", show->header, "The first record holds the column names");
  sub->add_option("--columns", show->columns, "Fields to show, by number or name: 0,3-5,Name")
      ->type_name("LIST");
  sub->add_option("--absent", show->absent, "Text shown for an absent field")
      ->type_name("TEXT")
      ->each([show](const std::string&) { show->absentGiven = true; });
  sub->add_option("--width", show->width, "Width of the table in columns; 0 for no limit")
      ->type_name("N")
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
      ->type_name("N")
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
