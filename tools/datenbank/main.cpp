// datenbank: a command-line host of the Ovelt Datenbank module.
//
// The tool loads the shared library at run time and drives one table object through the
// operations of TMainDB, as any host does; every answer about a file is the module's. main parses
// the command line with CLI11 and runs the subcommand that was given.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <exception>
#include <iostream>
#include <new>

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
  std::string what = error.what();
  // CLI11 says "--count: 1 required N missing" for an option given without its value.
  const std::size_t required = what.find(": 1 required ");
  if (required != std::string::npos && what.size() > 8 &&
      what.compare(what.size() - 8, 8, " missing") == 0) {
    const std::size_t type = required + 13;
    const std::string name = what.substr(type, what.size() - 8 - type);
    what = what.substr(0, required) + " needs a value (" + name.substr(0, name.find(':')) + ")";
  }
  return "datenbank: " + what + "\nTry '" + help + "' for more information.\n";
}

// The number of single-character edits that turn a into b.
std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) {
    row[j] = j;
  }
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The command a mistyped word most likely meant: the nearest within two edits, or one it begins.
std::string Nearest(const std::string& word, const std::vector<std::string>& names) {
  std::string best;
  std::size_t distance = 3;
  for (const std::string& name : names) {
    const std::size_t d = EditDistance(word, name);
    if (d < distance || (best.empty() && !word.empty() && name.rfind(word, 0) == 0)) {
      best = name;
      distance = std::min(d, distance);
    }
  }
  return best;
}

// Takes "help [COMMAND]" as "[COMMAND] --help" and refuses an unknown command with the nearest
// known one. False after reporting a command the tool does not have.
bool TakeCommandWord(std::vector<std::string>& arguments, const std::vector<std::string>& names) {
  if (arguments.size() < 2 || (!arguments[1].empty() && arguments[1][0] == '-')) {
    return true;
  }
  const auto known = [&](const std::string& word) {
    return std::find(names.begin(), names.end(), word) != names.end();
  };
  std::size_t word = 1;
  if (arguments[1] == "help") {
    if (arguments.size() == 2) {
      arguments = {arguments[0], "--help"};
      return true;
    }
    word = 2;
  }
  if (!known(arguments[word])) {
    std::cerr << "datenbank: unknown command '" << arguments[word] << "'";
    const std::string nearest = Nearest(arguments[word], names);
    if (!nearest.empty()) {
      std::cerr << " (did you mean '" << nearest << "'?)";
    }
    std::cerr << "\nTry 'datenbank --help' for the list of commands.\n";
    return false;
  }
  if (word == 2) {
    arguments = {arguments[0], arguments[2], "--help"};
  }
  return true;
}

int Run(int argc, char** argv) {
  datenbank_tool::PrepareOutput();
  CLI::App app{
      datenbank_tool::Wrapped(
          "Shows, checks, edits and converts delimited text files with the Ovelt Datenbank module, "
          "with the module's own rules: no quoting, a line feed always ends a line, absent and "
          "empty fields differ. Field texts are Windows-1252 in the file (--encoding utf-8 or "
          "latin-1 says otherwise) and UTF-8 on the command line and the terminal; a character "
          "the file's encoding lacks is an error."),
      "datenbank"};
  app.set_version_flag("--version", std::string("datenbank ") + DATENBANK_TOOL_VERSION);
  app.require_subcommand(1);
  app.get_formatter()->label("SUBCOMMAND", "COMMAND");
  app.failure_message(FailureMessage);

  std::vector<datenbank_tool::Command> commands;
  datenbank_tool::AddViewCommands(app, commands);
  datenbank_tool::AddEditCommands(app, commands);
  datenbank_tool::AddConvertCommands(app, commands);
  datenbank_tool::AddModuleCommands(app, commands);
  // Set after the subcommands: a subcommand takes its parent's footer when it is added.
  app.footer(datenbank_tool::Wrapped(
      std::string(datenbank_tool::kNumberingNote) +
      "\nFILE - reads standard input; -o - writes to standard output.\nThe library is "
      "libdatenbank.so (datenbank.dll on Windows) from DATENBANK_LIBRARY, else next to this "
      "program, else the system's search path.\nExit status: 0 success, 1 the module or the "
      "system refused (message on standard error), 2 wrong usage.\nEach command has its own "
      "help: datenbank help COMMAND, or datenbank COMMAND --help. man datenbank tells more."));

  std::vector<std::string> names{"help"};
  for (const auto& command : commands) {
    names.push_back(command.app->get_name());
    command.app->group("Commands");
  }
  std::vector<std::string> arguments = datenbank_tool::Utf8Arguments(argc, argv);
  if (!TakeCommandWord(arguments, names)) {
    return kExitUsage;
  }
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
  } catch (const std::bad_alloc&) {
    // Run's locals are gone by now: temporary files are removed, nothing half-written is left.
    std::cerr << "datenbank: out of memory\n";
  } catch (const std::exception& error) {
    std::cerr << "datenbank: " << error.what() << "\n";
  } catch (...) {
    std::cerr << "datenbank: unexpected failure\n";
  }
  return kExitFailure;
}
