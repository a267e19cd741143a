// export, import: from the module's table to CSV, TSV or JSON Lines, and from CSV into a table
// file. export walks the records once and writes through the bounded output buffer; import reads
// the CSV twice, first to check every field and count the fields, then to fill the module's
// table, so nothing is written for an input that would be refused.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <set>

#include "tools/datenbank/commands.h"
#include "tools/datenbank/csv_reader.h"
#include "tools/datenbank/output.h"
#include "tools/datenbank/platform.h"

namespace datenbank_tool {

namespace {

struct ExportArguments {
  FileArguments file;
  std::string to = "csv";
  bool header = false;
  std::string columns;
};

// JSON keys for the columns: the names of the header, a field's number where it has none, and
// the number added where a name comes twice.
std::vector<std::string> JsonKeys(const std::vector<std::optional<std::string>>& names,
                                  const std::vector<int>& columns) {
  std::vector<std::string> keys;
  std::set<std::string> taken;
  for (const int column : columns) {
    const auto& name = names[static_cast<std::size_t>(column)];
    std::string key = name.has_value() && !name->empty() ? *name : std::to_string(column);
    if (!taken.insert(key).second) {
      key += "_" + std::to_string(column);
      taken.insert(key);
    }
    std::string quoted;
    AppendField(quoted, key, TextMode{Encoding::kUtf8, false}, FieldForm::kJson);
    keys.push_back(quoted + ":");
  }
  return keys;
}

int RunExport(Session& session, const ExportArguments& arguments) {
  const FileArguments& file = arguments.file;
  int records = 0;
  if (const int status = OpenFile(session, file, records); status != kExitOk) {
    return status;
  }
  TMainDB& table = session.Table();
  const int fieldCount = table.GetFieldCount();
  std::vector<std::optional<std::string>> names;
  if (arguments.header && records > 0) {
    names = HeaderNames(session, fieldCount);
  }
  std::vector<int> columns;
  if (!SelectColumns(arguments.columns, fieldCount, names, columns)) {
    return kExitUsage;
  }
  const FieldForm form = arguments.to == "csv"   ? FieldForm::kCsv
                         : arguments.to == "tsv" ? FieldForm::kTsv
                                                 : FieldForm::kJson;
  const bool objects = form == FieldForm::kJson && arguments.header;
  const std::vector<std::string> keys =
      objects ? JsonKeys(names, columns) : std::vector<std::string>();
  Output out;
  std::string problem;
  if (!out.Open(file.out.empty() ? "-" : file.out, problem)) {
    std::cerr << "datenbank: " << file.out << ": " << problem << "\n";
    return kExitFailure;
  }
  const char separator = form == FieldForm::kCsv ? ',' : form == FieldForm::kTsv ? '\t' : ',';
  const TextMode& mode = session.mode;
  int position = records > 0 ? table.FirstRecord() : 0;
  if (objects && position == 1) {
    position = table.NextRecord();  // the names
  }
  for (; position > 0; position = table.NextRecord()) {
    std::string& text = out.Text();
    const std::size_t start = text.size();
    if (form == FieldForm::kJson) {
      text += objects ? '{' : '[';
    }
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if (i > 0) {
        text += separator;
      }
      if (objects) {
        text += keys[i];
      }
      const char* field = nullptr;
      const int read = session.FieldText(columns[i], field);
      if (read == dbErrFieldEmpty) {
        if (form == FieldForm::kJson) {
          text += "null";
        }
        continue;
      }
      if (read < 0) {
        return session.Fail(Subject(file.file) + ": record " + std::to_string(position), read);
      }
      const std::size_t bad = AppendStoredField(text, field, mode, form);
      if (bad != std::string_view::npos) {
        std::cerr << "datenbank: " << Subject(file.file) << ": record " << position << ", field "
                  << columns[i] << ": byte 0x" << Hex(static_cast<unsigned char>(field[bad]), 2)
                  << " at " << bad << " is not " << EncodingName(mode.encoding)
                  << " (--encoding cp1252 or latin-1 reads every byte)\n";
        return kExitFailure;
      }
    }
    if (form == FieldForm::kJson) {
      text += objects ? "}\n" : "]\n";
    } else if (form == FieldForm::kCsv) {
      EndCsvRecord(text, start);
    } else {
      text += '\n';
    }
    out.Written();
  }
  if (position < 0 && position != dbErrNoSuchRecord && position != dbErrNoRecords) {
    return session.Fail(Subject(file.file), position);
  }
  if (!out.Finish(problem)) {
    std::cerr << "datenbank: " << out.Name() << ": " << problem << "\n";
    return kExitFailure;
  }
  return kExitOk;
}

struct ImportArguments {
  FileArguments file;  // file: the CSV; out: the table file
  bool force = false;
};

// One pass over the CSV: every field converted for the table, checked, and handed to take.
// kExitOk, or the exit status after the problem was reported.
template <typename Take>
int ReadCsv(Session& session, const std::string& path, const std::string& subject, Take take) {
  std::string problem;
  std::FILE* input = path == "-" ? BinaryStandardInput() : OpenForReading(path, problem);
  if (input == nullptr) {
    std::cerr << "datenbank: " << subject << ": " << problem << "\n";
    return kExitFailure;
  }
  CsvReader reader(
      [input](char* buffer, std::size_t size) { return std::fread(buffer, 1, size, input); });
  std::vector<std::string> fields;
  std::vector<std::string> texts;
  int status = kExitOk;
  CsvReader::Result result = CsvReader::Result::kEnd;
  while (status == kExitOk &&
         (result = reader.Next(fields, problem)) == CsvReader::Result::kRecord) {
    texts.resize(fields.size());
    for (std::size_t i = 0; i < fields.size() && status == kExitOk; ++i) {
      const std::string where =
          subject + ": line " + std::to_string(reader.Line()) + ", field " + std::to_string(i + 1);
      std::string why;
      if (!session.mode.bytes &&
          EncodeText(session.mode.encoding, fields[i], texts[i], why) != Conversion::kDone) {
        std::cerr << "datenbank: " << where << ": " << why << "\n";
        status = kExitFailure;
      } else if (session.mode.bytes) {
        texts[i] = fields[i];
      }
      if (status == kExitOk && !FitsInField(session, texts[i], where)) {
        status = kExitFailure;
      }
    }
    if (status == kExitOk) {
      status = take(texts);
    }
  }
  const bool readFailed = std::ferror(input) != 0;
  if (input != stdin) {
    static_cast<void>(std::fclose(input));  // only read
  }
  if (status == kExitOk && result == CsvReader::Result::kError) {
    std::cerr << "datenbank: " << subject << ": " << problem << "\n";
    status = kExitFailure;
  }
  if (status == kExitOk && readFailed) {
    std::cerr << "datenbank: " << subject << ": read failed\n";
    status = kExitFailure;
  }
  return status;
}

int RunImport(Session& session, const ImportArguments& arguments) {
  const FileArguments& file = arguments.file;
  if (file.delimiter == "auto") {
    std::cerr << "datenbank: import: -d auto needs a table to look at; give OUT's delimiter\n";
    return kExitUsage;
  }
  if (!TakeTextArguments(session, file)) {
    return kExitUsage;
  }
  if (!session.Start()) {
    return kExitFailure;
  }
  std::string csv = file.file;
  const std::string subject = Subject(file.file);
  if (csv == "-") {
    // Read twice: standard input is kept in a temporary file first.
    if (!SpoolStandardInput(session, csv)) {
      return kExitFailure;
    }
  }
  if (!arguments.force && file.out != "-" && NameExists(file.out)) {
    std::cerr << "datenbank: " << file.out << ": exists (--force replaces it)\n";
    return kExitFailure;
  }
  std::size_t fields = 0;
  int status = ReadCsv(session, csv, subject, [&](const std::vector<std::string>& texts) {
    fields = std::max(fields, texts.size());
    return kExitOk;
  });
  if (status != kExitOk) {
    return status;
  }
  if (fields > 1000000) {
    std::cerr << "datenbank: " << subject << ": " << fields << " fields in a record\n";
    return kExitFailure;
  }
  TMainDB& table = session.Table();
  table.NewTable(static_cast<int>(fields));
  session.ApplyDelimiter();
  status = ReadCsv(session, csv, subject, [&](const std::vector<std::string>& texts) {
    const int position = table.AddRecord();
    if (position < 0) {
      return session.Fail(file.out, position);
    }
    for (std::size_t i = 0; i < texts.size(); ++i) {
      const int result = table.SetField(static_cast<int>(i), texts[i].c_str());
      if (result < 0) {
        return session.Fail(file.out + ": record " + std::to_string(position), result);
      }
    }
    return kExitOk;
  });
  if (status != kExitOk) {
    return status;
  }
  FileArguments target = file;
  target.file = file.out;
  target.out.clear();
  return SaveFile(session, target);
}

}  // namespace

void AddConvertCommands(CLI::App& app, std::vector<Command>& commands) {
  auto exporting = std::make_shared<ExportArguments>();
  CLI::App* sub = app.add_subcommand("export", "Write the records as CSV, TSV or JSON Lines");
  sub->footer(Wrapped(
      "All outputs are UTF-8, decoded from the file's --encoding; a byte that is no character "
      "of it is an error (exit status 1), nothing is replaced.\ncsv: RFC 4180, fields quoted "
      "where they hold a comma, quote or line end, lines ended by CR LF.\ntsv: fields separated "
      "by a tab, a tab, CR, LF or backslash in a field written as \\t, \\r, \\n or \\\\.\njsonl: "
      "one JSON array per record, or with --header one object keyed by the column names (a "
      "field's number where the name is empty, the number added to a name that comes twice); an "
      "absent field is null. In CSV and TSV an absent field is empty.\n--header takes the first "
      "record as the column names: for --columns and the keys of jsonl; csv and tsv write it as "
      "their first line.\n-o writes OUT once complete (- for standard output, the default)."));
  AddFileArguments(sub, exporting->file, true);
  sub->add_option("--to", exporting->to, "Output form: csv (default), tsv or jsonl")
      ->type_name("FORM")
      ->check(CLI::IsMember({"csv", "tsv", "jsonl"}));
  sub->add_flag("--header", exporting->header, "The first record holds the column names");
  sub->add_option("--columns", exporting->columns, "Fields to write, by number or name: 0,3-5,Name")
      ->type_name("LIST");
  commands.push_back(
      {sub, [exporting](Session& session) { return RunExport(session, *exporting); }});

  auto importing = std::make_shared<ImportArguments>();
  sub = app.add_subcommand("import", "Make a table file from RFC 4180 CSV");
  sub->footer(Wrapped(
      std::string(
          "CSV is read as UTF-8 (a byte order mark is skipped); - reads standard input. Each "
          "field is converted to OUT's --encoding. A field holding OUT's delimiter, a CR, a LF or "
          "a NUL, or a character the encoding lacks, is refused with its line and field number, "
          "and nothing is written. The table takes the largest field count of any record; "
          "shorter records are filled with empty fields when saved. ") +
      kRewriteNote +
      "\nOUT - writes to standard output; an existing OUT is replaced only with "
      "--force."));
  sub->add_option("CSV", importing->file.file, "The CSV file; - reads standard input")->required();
  sub->add_option("OUT", importing->file.out, "The table file to write; - for standard output")
      ->required();
  AddDelimiterArgument(sub, importing->file);
  AddEncodingArgument(sub, importing->file);
  sub->add_flag("--bytes", importing->file.bytes,
                "Take the CSV's field bytes as they are, unconverted");
  sub->add_flag("--force", importing->force, "Replace an existing OUT");
  commands.push_back(
      {sub, [importing](Session& session) { return RunImport(session, *importing); }});
}

}  // namespace datenbank_tool
