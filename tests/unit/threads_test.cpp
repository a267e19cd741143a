// Separate table objects on separate threads. Each thread has its own object and its own files and
// runs load, walk, edit, add, delete, append, save, reload and compare, many times over, while the
// others do the same. Objects share nothing: no thread ever sees another's records, and under
// ThreadSanitizer no access to memory shared between the objects shows up.
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/faulty_allocator.h"
#include "tests/support/test_support.h"

namespace {

using Rows = std::vector<std::vector<std::string>>;

// The workers report through their own list of problems: the test framework's assertions are not
// safe on every platform the suite runs on when used from several threads.
struct Worker {
  int id = 0;
  std::string dir;
  std::uint32_t block = 4000;  // the read block size of its object
  bool ownAllocator = false;   // its own counting allocator, or the process heap
  std::vector<std::string> problems;
  int saves = 0;

  void Problem(const std::string& what) {
    if (problems.size() < 20) {
      problems.push_back(what);
    }
  }
  void Expect(bool ok, const std::string& what) {
    if (!ok) {
      Problem(what);
    }
  }
  std::string File(const char* name) const { return dir + "/" + name; }
};

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return out.good();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string Lines(const Rows& rows, const char* separator, const char* lineEnd) {
  std::string text;
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      text += (i > 0 ? separator : "") + row[i];
    }
    text += lineEnd;
  }
  return text;
}

// Moves the cursor to record position (from 1); false when the table answers otherwise.
bool MoveTo(TMainDB* db, int position) {
  int at = db->FirstRecord();
  while (at > 0 && at < position) {
    at = db->NextRecord();
  }
  return at == position;
}

void Work(Worker& w, int iterations, const std::atomic<bool>& go) {
  const std::string tag = "w" + std::to_string(w.id);
  Rows base;
  for (int r = 1; r <= 20; ++r) {
    base.push_back({tag + "r" + std::to_string(r), std::to_string(r * (w.id + 2)), tag});
  }
  const Rows extra = {{tag + "e1", "", ""},
                      {tag + "e2", "x", "y"},
                      {tag + "e3", "", tag},
                      {"", "", ""},
                      {tag + "e5", "z", ""}};
  w.Expect(WriteFile(w.File("base.csv"), Lines(base, ";", "\n")), "cannot write base.csv");
  w.Expect(WriteFile(w.File("extra.csv"), Lines(extra, ";", "\r\n")), "cannot write extra.csv");
  const std::string basePath = w.File("base.csv");
  const std::string extraPath = w.File("extra.csv");
  const std::string outPath = w.File("out.csv");

  dbtest::FaultyAllocator memory;
  while (!go.load()) {
    std::this_thread::yield();
  }
  {
    dbtest::ScopedTable db(dbtest::MakeEnv(w.ownAllocator ? &memory : nullptr, nullptr, w.block));
    if (db.get() == nullptr) {
      w.Problem("no table object");
      return;
    }
    db->SetDelimiter(';');
    for (int it = 0; it < iterations && w.problems.empty(); ++it) {
      const std::string at = " (iteration " + std::to_string(it) + ")";
      Rows rows = base;
      db->SetFileName(basePath.c_str());
      int fieldCount = 0;
      DB_BOOL same = 0;
      w.Expect(db->LoadFile(&fieldCount, 0, &same) == 20, "load" + at);
      w.Expect(fieldCount == 3 && same == 1, "load's out-parameters" + at);

      // Walk forward reading every field, then back.
      int seen = 0;
      for (int r = db->FirstRecord(); r > 0; r = db->NextRecord()) {
        for (int f = 0; f < 3; ++f) {
          w.Expect(dbtest::Field(db.get(), f) ==
                       rows[static_cast<std::size_t>(r - 1)][static_cast<std::size_t>(f)],
                   "field " + std::to_string(f) + " of record " + std::to_string(r) + at);
        }
        ++seen;
      }
      w.Expect(seen == 20, "records walked forward" + at);
      seen = 0;
      for (int r = db->LastRecord(); r > 0; r = db->PriorRecord()) {
        ++seen;
      }
      w.Expect(seen == 20, "records walked back" + at);

      // Edit one record, add one, delete the first.
      const int edited = it % 20 + 1;
      w.Expect(MoveTo(db.get(), edited), "move to record " + std::to_string(edited) + at);
      const std::string text = tag + "-" + std::to_string(it);
      w.Expect(db->SetField(1, text.c_str()) == dbOK, "set field" + at);
      rows[static_cast<std::size_t>(edited - 1)][1] = text;
      w.Expect(db->AddRecord() == 21, "add" + at);
      w.Expect(db->SetField(0, ("add" + text).c_str()) == dbOK, "set field of the new record" + at);
      w.Expect(db->SetField(2, tag.c_str()) == dbOK, "set field of the new record" + at);
      rows.push_back({"add" + text, "", tag});
      w.Expect(db->FirstRecord() == 1 && db->DeleteRecord() == 1, "delete" + at);
      rows.erase(rows.begin());

      // Append, save under a third name, load what was saved.
      db->SetFileName(extraPath.c_str());
      w.Expect(db->AppendFile(nullptr, 0, nullptr) == 5, "append" + at);
      rows.insert(rows.end(), extra.begin(), extra.end());
      db->SetFileName(outPath.c_str());
      w.Expect(db->SaveFile() == 25, "save" + at);
      ++w.saves;
      w.Expect(ReadFile(outPath) == Lines(rows, ";", "\r\n"), "saved bytes" + at);
      w.Expect(db->LoadFile(nullptr, 0, nullptr) == 25, "reload" + at);
      w.Expect(dbtest::Dump(db.get()) == Lines(rows, "|", "\n"), "reloaded records" + at);
      w.Expect(db->CheckInvariants() == nullptr, "invariants" + at);
    }
    db->CloseTable();
    db->FreeFileName();
    if (w.ownAllocator) {
      w.Expect(memory.Live() == 1, "blocks held besides the object");
    }
  }
  if (w.ownAllocator) {
    w.Expect(memory.Live() == 0 && memory.BadReleases() == 0, "blocks left or released wrongly");
  }
}

TEST(ThreadsTest, SeparateObjectsOnSeparateThreadsShareNothing) {
  constexpr int kThreads = 4;
  constexpr int kIterations = 250;
  dbtest::TempDir dir;
  std::vector<Worker> workers(kThreads);
  for (int i = 0; i < kThreads; ++i) {
    Worker& w = workers[static_cast<std::size_t>(i)];
    w.id = i;
    w.dir = dir.File("w" + std::to_string(i));
    std::filesystem::create_directory(w.dir);
    // Half of the objects are made as the factory makes them (process heap, platform file layer);
    // the others count their blocks. Read block sizes differ, which is per-object state too.
    w.ownAllocator = i % 2 == 1;
    w.block = i == 2 ? 7 : 4000;
  }
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (Worker& w : workers) {
    threads.emplace_back([&w, &go] { Work(w, kIterations, go); });
  }
  go.store(true);
  for (std::thread& t : threads) {
    t.join();
  }
  for (const Worker& w : workers) {
    SCOPED_TRACE("thread " + std::to_string(w.id));
    EXPECT_EQ(w.problems, std::vector<std::string>{});
    EXPECT_EQ(w.saves, kIterations);
    // Nothing but its own three files in each directory: no temporary file of any save is left.
    const std::vector<std::string> names = [&] {
      std::vector<std::string> found;
      for (const auto& entry : std::filesystem::directory_iterator(w.dir)) {
        found.push_back(entry.path().filename().string());
      }
      std::sort(found.begin(), found.end());
      return found;
    }();
    EXPECT_EQ(names, (std::vector<std::string>{"base.csv", "extra.csv", "out.csv"}));
  }
}

}  // namespace
