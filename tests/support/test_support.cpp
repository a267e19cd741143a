// Helpers shared by the unit tests.
#include "tests/support/test_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <vector>

namespace dbtest {

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info != nullptr ? std::string(info->test_suite_name()) + "." + info->name()
                                     : std::string("test");
  std::replace(name.begin(), name.end(), '/', '_');
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = std::filesystem::temp_directory_path() /
          ("datenbank-" + name + "-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::File(const std::string& name) const {
  return (path_ / name).string();
}

std::vector<std::string> TempDir::Entries() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  EXPECT_TRUE(out.good()) << "cannot write " << path;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << path;
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

namespace {

// Table objects are never destroyed through the interface. The objects a test makes from the
// process heap are released when the test ends, so leak checkers see only real leaks; objects made
// with a test's own allocator are that test's business.
class TTableReaper : public ::testing::EmptyTestEventListener {
 public:
  static std::vector<TDatenbank*>& Tables() {
    static std::vector<TDatenbank*> tables;
    return tables;
  }

  void OnTestEnd(const ::testing::TestInfo& /*info*/) override {
    for (TDatenbank* table : Tables()) {
      table->CloseTable();
      table->FreeFileName();
      table->TDatenbank::~TDatenbank();  // TDatenbankSse2 adds nothing to destroy
      SystemAllocator().Release(table);
    }
    Tables().clear();
  }
};

const bool kReaperInstalled = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new TTableReaper);
  return true;
}();

}  // namespace

TDatenbank* NewTable(const TModuleEnv& env) {
  auto* table = static_cast<TDatenbank*>(NewTableObject(env));
  if (table != nullptr && env.allocator == &SystemAllocator() && kReaperInstalled) {
    TTableReaper::Tables().push_back(table);
  }
  return table;
}

std::string Field(TMainDB* db, int index) {
  char probe[1];
  const int length = db->GetField(index, probe, 0);
  if (length == dbErrFieldEmpty) {
    return "<absent>";
  }
  if (length < 0) {
    return "<code " + std::to_string(length) + ">";
  }
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
  const int result = db->GetField(index, buffer.data(), static_cast<unsigned>(buffer.size()));
  if (result != 0) {
    return "<code " + std::to_string(result) + ">";
  }
  return std::string(buffer.data(), static_cast<std::size_t>(length));
}

void MakeTwoRecords(TMainDB* db, const std::string& path) {
  db->NewTable(2);
  for (const char* text : {"1", "2"}) {
    db->AddRecord();
    db->SetField(0, "n");
    db->SetField(1, text);
  }
  db->SetFileName(path.c_str());
  db->SetDelimiter(';');
}

std::string Dump(TMainDB* db) {
  std::string out;
  for (int r = db->FirstRecord(); r > 0; r = db->NextRecord()) {
    const int fields = db->GetFieldCount();
    for (int i = 0; i < fields; ++i) {
      if (i > 0) {
        out += '|';
      }
      out += Field(db, i);
    }
    out += '\n';
  }
  return out;
}

int LoadBytes(TMainDB* db, const TempDir& dir, const std::string& bytes, char delimiter,
              const std::string& name) {
  const std::string path = dir.File(name);
  WriteBytes(path, bytes);
  db->SetFileName(path.c_str());
  db->SetDelimiter(delimiter);
  int fieldCount = 0;
  DB_BOOL same = 0;
  return db->LoadFile(&fieldCount, 0, &same);
}

}  // namespace dbtest
