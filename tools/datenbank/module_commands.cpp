// info, error: what the module says about itself and its result codes.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "tools/datenbank/commands.h"
#include "tools/datenbank/cp1252.h"

namespace datenbank_tool {

namespace {

int RunInfo(Session& session) {
  if (!session.Start()) {
    return kExitFailure;
  }
  TMainDB& table = session.Table();
  int major = 0;
  int minor = 0;
  table.GetVersion(&major, &minor);
  // GetVersionText checks no size: the buffer is sized from GetVersionTextLength.
  const int length = table.GetVersionTextLength();
  std::string version(static_cast<std::size_t>(length > 0 ? length : 0) + 1, '\0');
  table.GetVersionText(version.data());
  version.resize(version.find('\0'));

  const auto text = [&](int (DB_CALL TMainDB::*operation)(char*, unsigned)) {
    std::string value;
    ReadText([&](char* buffer, unsigned size) { return (table.*operation)(buffer, size); }, value);
    return Cp1252ToUtf8(value);
  };
  std::cout << "version: " << major << "." << minor << "\n"
            << "version text: " << Cp1252ToUtf8(version) << "\n"
            << "module: " << text(&TMainDB::GetModuleName) << "\n"
            << "copyright: " << text(&TMainDB::GetCopyrightText) << "\n"
            << "maker: " << text(&TMainDB::GetMakerText) << "\n"
            << "description: " << text(&TMainDB::GetDescription) << "\n"
            << "library: " << session.Library() << "\n";
  return kExitOk;
}

struct ErrorArguments {
  int code = 0;
  bool given = false;
};

int RunError(Session& session, const ErrorArguments& arguments) {
  if (!session.Start()) {
    return kExitFailure;
  }
  if (arguments.given) {
    const std::string message = session.Message(arguments.code);
    if (message.empty()) {
      std::cerr << "datenbank: " << arguments.code << " is not a result code of the module\n";
      return kExitFailure;
    }
    std::cout << message << "\n";
    return kExitOk;
  }
  // Every code the module has a message for: 0 and the negative codes down to the first gap.
  for (int code = 0;; --code) {
    const std::string message = session.Message(code);
    if (message.empty()) {
      break;
    }
    std::cout << code << "\t" << message << "\n";
  }
  return kExitOk;
}

}  // namespace

void AddModuleCommands(CLI::App& app, std::vector<Command>& commands) {
  CLI::App* sub = app.add_subcommand("info", "Print the module's version and information texts");
  commands.push_back({sub, [](Session& session) { return RunInfo(session); }});

  auto error = std::make_shared<ErrorArguments>();
  sub = app.add_subcommand("error", "Print the message of a result code, or of every code");
  sub->add_option("CODE", error->code, "A result code, e.g. -5")->each([error](const std::string&) {
    error->given = true;
  });
  commands.push_back({sub, [error](Session& session) { return RunError(session, *error); }});
}

}  // namespace datenbank_tool
