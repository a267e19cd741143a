// datenbank: a command-line host of the Ovelt Datenbank module.
//
// The tool loads the shared library at run time and drives one table object through the
// operations of TMainDB, as any host does; every answer about a file is the module's. main parses
// the command line with CLI11 and runs the subcommand that was given.
#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>

#include "tools/datenbank/commands.h"
#include "tools/datenbank/platform.h"

#ifndef DATENBANK_TOOL_VERSION
#define DATENBANK_TOOL_VERSION "unknown"
#endif

namespace {

using datenbank_tool::kExitFailure;
using datenbank_tool::kExitUsage;

// "datenbank: WHAT" and where to look for help, on standard error.
std::string FailureMessage(const CLI::App* app, const CLI::Error& error) {
  std::string help = "datenbank --help";
  const auto selected = app->get_subcommands();
  if (!selected.empty()) {
    help = "datenbank " + selected.front()->get_name() + " --help";
  }
  return "datenbank: " + std::string(error.what()) + "\nTry '" + help + "' for more information.\n";
}

int Run(int argc, char** argv) {
  datenbank_tool::PrepareOutput();
  CLI::App app{
      datenbank_tool::Wrapped(
          "Shows, checks and edits delimited text files with the Ovelt Datenbank module, with the "
          "module's own rules: no quoting, a line feed always ends a line, absent and empty fields "
          "differ. Field texts are Windows-1252 in the file and UTF-8 on the command line and the "
          "terminal; a character without a Windows-1252 byte is an error."),
      "datenbank"};
  app.footer(datenbank_tool::Wrapped(
      std::string(datenbank_tool::kNumberingNote) +
      "\nThe library is libdatenbank.so (datenbank.dll on Windows) from DATENBANK_LIBRARY, else "
      "next to this program, else the system's search path.\nExit status: 0 success, 1 the "
      "module or the system refused (message on standard error), 2 wrong usage.\nEach command "
      "has its own help: datenbank COMMAND --help."));
  app.set_version_flag("--version", std::string("datenbank ") + DATENBANK_TOOL_VERSION);
  app.require_subcommand(1);
  app.failure_message(FailureMessage);

  std::vector<datenbank_tool::Command> commands;
  datenbank_tool::AddViewCommands(app, commands);
  datenbank_tool::AddEditCommands(app, commands);
  datenbank_tool::AddModuleCommands(app, commands);

  std::vector<std::string> arguments = datenbank_tool::Utf8Arguments(argc, argv);
  std::vector<char*> pointers;
  pointers.reserve(arguments.size());
  for (std::string& argument : arguments) {
    pointers.push_back(argument.data());
  }
  try {
    app.parse(static_cast<int>(pointers.size()), pointers.data());
  } catch (const CLI::ParseError& error) {
    // Help and version exit with 0; CLI11's own codes for the rest become the usual 2.
    return app.exit(error) == 0 ? 0 : kExitUsage;
  }

  datenbank_tool::Session session;
  int status = kExitFailure;
  for (const auto& command : commands) {
    if (command.app->parsed()) {
      status = command.run(session);
    }
  }
  session.Finish();
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "datenbank: cannot write to standard output\n";
    return kExitFailure;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << "datenbank: " << error.what() << "\n";
  } catch (...) {
    std::cerr << "datenbank: unexpected failure\n";
  }
  return kExitFailure;
}
