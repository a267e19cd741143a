#include "tools/datenbank/session.h"

#include <algorithm>
#include <cstring>
#include <iostream>

#include "tools/datenbank/cp1252.h"
#include "tools/datenbank/platform.h"

// The table object is never destroyed. Holding it in a global until the process ends keeps its
// block reachable, so leak checkers do not take it for lost.
TMainDB* g_table = nullptr;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

namespace datenbank_tool {

TMainDB* CreateTable(Factory factory, const std::string& library, std::string& error) {
  if (factory == nullptr) {
    error = library + " has no _CreateDatenbankClassInstance";
    return nullptr;
  }
  TMainDB* table = factory();
  if (table == nullptr) {
    error = "the factory returned no table object (out of memory)";
  }
  return table;
}

bool Session::Start() {
  std::string error;
  table_ = LoadModule(library_, error);
  if (table_ == nullptr) {
    std::cerr << "datenbank: " << error << "\n";
    return false;
  }
  g_table = table_;
  return true;
}

void Session::Finish() {
  if (table_ != nullptr) {
    table_->CloseTable();
    table_->FreeFileName();
  }
}

std::string Session::Message(int code) {
  std::string text;
  if (ReadText(
          [&](char* buffer, unsigned size) { return table_->GetErrorText(code, buffer, size); },
          text) < 0) {
    return {};
  }
  return Cp1252ToUtf8(text);
}

Session::~Session() {
  for (const std::string& temporary : temporaries_) {
    RemoveFile(temporary);
  }
}

void Session::Forget(const std::string& temporary) {
  RemoveFile(temporary);
  temporaries_.erase(std::remove(temporaries_.begin(), temporaries_.end(), temporary),
                     temporaries_.end());
}

int Session::Fail(const std::string& subject, int code, const std::string& reason) {
  std::string message = Message(code);
  if (message.empty()) {
    message = "unknown result";
  }
  std::cerr << "datenbank: " << subject << ": " << (reason.empty() ? "" : reason + ": ") << message
            << " (code " << code << ")\n";
  return kExitFailure;
}

bool Session::Name(const std::string& file) {
  std::string name;
  std::string problem;
  if (!ModuleFileName(file, name, problem)) {
    std::cerr << "datenbank: " << file << ": " << problem << "\n";
    return false;
  }
  if (table_->SetFileName(name.c_str()) != 1) {
    std::cerr << "datenbank: " << file << ": the module could not store the name\n";
    return false;
  }
  return true;
}

int Session::Load(int fieldsWhenEmpty) {
  int fields = 0;
  DB_BOOL same = 0;
  const int records = table_->LoadFile(&fields, 0, &same);
  if (records == 0) {
    // An empty file leaves no table open; an open one without records lets the edits, cursor
    // moves and appends give their own answers.
    table_->NewTable(fieldsWhenEmpty);
  }
  return records;
}

int Session::MoveTo(int record) {
  const int count = table_->GetRecordCount();
  if (count < 0) {
    return count;
  }
  if (count == 0) {
    return dbErrNoRecords;
  }
  if (record < 1 || record > count) {
    return dbErrNoSuchRecord;
  }
  // From whichever end is nearer.
  int position = 0;
  if (record <= count - record) {
    position = table_->FirstRecord();
    while (position > 0 && position < record) {
      position = table_->NextRecord();
    }
  } else {
    position = table_->LastRecord();
    while (position > record) {
      position = table_->PriorRecord();
    }
  }
  return position;
}

int Session::FieldText(int index, const char*& text) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    const int result = table_->GetField(index, field_.data(), static_cast<unsigned>(field_.size()));
    if (result < 0) {
      return result;
    }
    if (result == 0) {
      text = field_.data();
      return 0;
    }
    field_.resize(static_cast<std::size_t>(result) + 1);
  }
  return dbErrUnknown;
}

int Session::FieldView(int index, std::string_view& text) {
  const char* stored = nullptr;
  const int result = FieldText(index, stored);
  if (result == 0) {
    text = std::string_view(stored, std::strlen(stored));
  }
  return result;
}

int Session::Field(int index, std::string& text) {
  return ReadText(
      [&](char* buffer, unsigned size) { return table_->GetField(index, buffer, size); }, text);
}

}  // namespace datenbank_tool
