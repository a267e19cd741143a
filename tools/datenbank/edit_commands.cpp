// set, add, delete, append, new: the commands that write a file. Each loads through the module,
// edits through it and saves with SaveFile, which replaces the file only once every byte is
// written; -o saves under another name and leaves FILE as it was.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <memory>

#include "tools/datenbank/commands.h"
#include "tools/datenbank/platform.h"

namespace datenbank_tool {

namespace {

std::string Record(int record) {
  return "record " + std::to_string(record);
}

struct SetArguments {
  FileArguments file;
  int record = 0;
  int field = 0;
  std::string text;
};

int RunSet(Session& session, const SetArguments& arguments) {
  std::string text;
  if (!TakeTextArguments(session, arguments.file) ||
      !ModuleText(session, arguments.text, "TEXT", text)) {
    return kExitUsage;
  }
  std::string where;
  if (const int status = OpenAtRecord(session, arguments.file, arguments.record, where);
      status != kExitOk) {
    return status;
  }
  // After loading: -d auto has chosen the delimiter by now.
  if (!FitsInField(session, text, "TEXT")) {
    return kExitUsage;
  }
  const int result = session.Table().SetField(arguments.field, text.c_str());
  if (result < 0) {
    return session.Fail(where + ", field " + std::to_string(arguments.field), result);
  }
  return SaveFile(session, arguments.file);
}

struct AddArguments {
  FileArguments file;
  std::vector<std::string> texts;
};

int RunAdd(Session& session, const AddArguments& arguments) {
  if (!TakeTextArguments(session, arguments.file)) {
    return kExitUsage;
  }
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < arguments.texts.size(); ++i) {
    texts.emplace_back();
    if (!ModuleText(session, arguments.texts[i], "TEXT " + std::to_string(i), texts.back())) {
      return kExitUsage;
    }
  }
  int records = 0;
  // An empty file says nothing of its fields: the new record brings as many as it has texts.
  if (const int status = OpenFile(session, arguments.file, records, static_cast<int>(texts.size()));
      status != kExitOk) {
    return status;
  }
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (!FitsInField(session, texts[i], "TEXT " + std::to_string(i))) {
      return kExitUsage;
    }
  }
  const int position = session.Table().AddRecord();
  if (position < 0) {
    return session.Fail(Subject(arguments.file.file), position);
  }
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const int result = session.Table().SetField(static_cast<int>(i), texts[i].c_str());
    if (result < 0) {
      return session.Fail(
          Subject(arguments.file.file) + ": " + Record(position) + ", field " + std::to_string(i),
          result);
    }
  }
  return SaveFile(session, arguments.file);
}

struct DeleteArguments {
  FileArguments file;
  int record = 0;
};

int RunDelete(Session& session, const DeleteArguments& arguments) {
  std::string where;
  if (const int status = OpenAtRecord(session, arguments.file, arguments.record, where);
      status != kExitOk) {
    return status;
  }
  const int result = session.Table().DeleteRecord();
  if (result < 0) {
    return session.Fail(where, result);
  }
  return SaveFile(session, arguments.file);
}

struct AppendArguments {
  FileArguments file;
  std::vector<std::string> others;
  bool same = false;
};

int RunAppend(Session& session, const AppendArguments& arguments) {
  // Standard input can be read once: checked before anything is read.
  const auto fromInput = std::count(arguments.others.begin(), arguments.others.end(), "-") +
                         (arguments.file.file == "-" ? 1 : 0);
  if (fromInput > 1) {
    std::cerr << "datenbank: append: standard input can be read once\n";
    return kExitUsage;
  }
  int records = 0;
  if (const int status = OpenFile(session, arguments.file, records); status != kExitOk) {
    return status;
  }
  for (const std::string& other : arguments.others) {
    std::string path = other;
    if (other == "-") {
      if (!SpoolStandardInput(session, path)) {
        return kExitFailure;
      }
    }
    if (!session.Name(path)) {
      return kExitFailure;
    }
    int fields = 0;
    DB_BOOL same = arguments.same ? 1 : 0;
    const int appended = session.Table().AppendFile(&fields, 0, &same);
    if (appended < 0) {
      const bool access =
          other != "-" && (appended == dbErrFileNotFound || appended == dbErrFileAccess);
      return session.Fail(Subject(other), appended,
                          access ? FileProblem(other, false) : std::string());
    }
  }
  // The stored name is now the last file appended; SaveFile names the target again.
  return SaveFile(session, arguments.file);
}

struct NewArguments {
  FileArguments file;
  int fields = 0;
  bool force = false;
};

int RunNew(Session& session, const NewArguments& arguments) {
  if (arguments.file.delimiter == "auto") {
    std::cerr << "datenbank: new: -d auto needs lines to look at; give the delimiter\n";
    return kExitUsage;
  }
  if (!TakeTextArguments(session, arguments.file)) {
    return kExitUsage;
  }
  if (!session.Start() || !session.Name(arguments.file.file)) {
    return kExitFailure;
  }
  const char* stored = session.Table().GetFileName();
  if (!arguments.force && arguments.file.file != "-" && stored != nullptr && NameExists(stored)) {
    std::cerr << "datenbank: " << arguments.file.file << ": exists (--force replaces it)\n";
    return kExitFailure;
  }
  session.ApplyDelimiter();
  session.Table().NewTable(arguments.fields);
  return SaveFile(session, arguments.file);
}

}  // namespace

void AddEditCommands(CLI::App& app, std::vector<Command>& commands) {
  const std::string inPlace = std::string(
                                  "\nFILE is replaced only once the module has written every "
                                  "byte; -o writes OUT and leaves FILE as it was. FILE - reads "
                                  "standard input and writes the result to standard output. ") +
                              kRewriteNote +
                              "\nA TEXT holding the delimiter, a CR, a LF or a NUL is refused "
                              "(exit status 2): it would split the field or the record.";

  auto set = std::make_shared<SetArguments>();
  CLI::App* sub = app.add_subcommand("set", "Replace the text of one field");
  sub->footer(Wrapped(std::string(kNumberingNote) + inPlace));
  AddFileArguments(sub, set->file, true);
  sub->add_option("RECORD", set->record, "Record number, from 1")->required()->check(FromOne());
  sub->add_option("FIELD", set->field, "Field number, from 0")->required()->check(FromZero());
  sub->add_option("TEXT", set->text, "The new text (may be empty)")->required();
  commands.push_back({sub, [set](Session& session) { return RunSet(session, *set); }});

  auto add = std::make_shared<AddArguments>();
  sub = app.add_subcommand("add", "Add a record at the end");
  sub->footer(Wrapped(
      "The new record's fields take the TEXTs in order, from field 0; fields without a TEXT "
      "have none and are saved empty. More TEXTs than the table has fields is an error. An "
      "empty FILE takes as many fields as TEXTs are given." +
      inPlace));
  AddFileArguments(sub, add->file, true);
  sub->add_option("TEXT", add->texts, "Field texts");
  commands.push_back({sub, [add](Session& session) { return RunAdd(session, *add); }});

  auto remove = std::make_shared<DeleteArguments>();
  sub = app.add_subcommand("delete", "Delete one record");
  sub->footer(Wrapped(std::string(kNumberingNote) + inPlace));
  AddFileArguments(sub, remove->file, true);
  sub->add_option("RECORD", remove->record, "Record number, from 1")->required()->check(FromOne());
  commands.push_back({sub, [remove](Session& session) { return RunDelete(session, *remove); }});

  auto append = std::make_shared<AppendArguments>();
  sub = app.add_subcommand("append", "Append the records of other files");
  sub->footer(Wrapped(
      "Each OTHER file is read with the same delimiter and must have FILE's field count (an "
      "empty FILE takes the first OTHER's)." +
      inPlace));
  AddFileArguments(sub, append->file, true);
  sub->add_option("OTHER", append->others, "Files whose records are appended; - for standard input")
      ->required();
  sub->add_flag("--same", append->same, "Refuse an OTHER file whose lines differ in field count");
  commands.push_back({sub, [append](Session& session) { return RunAppend(session, *append); }});

  auto create = std::make_shared<NewArguments>();
  sub = app.add_subcommand("new", "Save an empty table");
  sub->footer(Wrapped(
      "The file is empty: a table file holds no field count of its own, so --fields matters "
      "only to the module's table. An existing FILE is left alone unless --force is given."));
  AddFileArguments(sub, create->file, false);
  sub->add_option("--fields", create->fields, "Number of fields")
      ->type_name("N")
      ->required()
      ->check(FromZero());
  sub->add_flag("--force", create->force, "Replace an existing file");
  commands.push_back({sub, [create](Session& session) { return RunNew(session, *create); }});
}

}  // namespace datenbank_tool
