// Names a host may pass that lead to no usable file: too long, ending in a slash, links that lead
// nowhere or to a FIFO, FIFOs that another process holds open, devices, bytes that are not UTF-8.
// Each operation answers with a documented code, returns promptly (every call runs in a child
// process that is killed if it hangs) and leaves the table and the directory as documented. Names
// are byte strings: a file whose name is not UTF-8 loads and saves like any other.
//
// Cases tested elsewhere with the same name and operation are marked kElsewhere: the empty name
// (loader, writer and settings tests), a plain directory, and for SaveFile the dangling link, the
// link loop, the link to a directory, the FIFO without peers and the trailing slash after a file
// (file access and writer tests); for the loaders the FIFO without peers, a socket and /dev/null.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/faulty_allocator.h"
#include "tests/support/test_support.h"

namespace {

using dbtest::Dump;
using dbtest::ScopedTable;
using dbtest::TempDir;

constexpr int kElsewhere = INT_MIN;  // this name and operation are tested in another file
constexpr int kSeconds = 10;         // a call that takes longer counts as hanging

enum class Op { kLoad, kAppend, kSave };

const char* OpName(Op op) {
  return op == Op::kLoad ? "LoadFile" : op == Op::kAppend ? "AppendFile" : "SaveFile";
}

// Every readable file of the cases holds this one line.
const char kContent[] = "u1;u2\r\n";
const char kContentDump[] = "u1|u2\n";
// The table each call starts from: two records, the second current.
const char kTableDump[] = "b1|b2\nb3|b4\n";
const char kTableSaved[] = "b1;b2\r\nb3;b4\r\n";

// The result of one call in a child process, and what it found wrong with the table afterwards.
struct Outcome {
  bool finished = false;  // false: killed (a hang) or crashed
  int status = 0;         // the signal when not finished
  int result = 0;
  std::string problems;
};

// Runs op on name in a child process that is killed after kSeconds.
Outcome RunInChild(Op op, const std::string& name) {
  int channel[2];
  if (pipe(channel) != 0) {
    return {};
  }
  (void)std::fflush(nullptr);  // nothing buffered may be written twice
  const pid_t pid = fork();
  if (pid == 0) {
    close(channel[0]);
    (void)alarm(kSeconds);
    ScopedTable db;
    db->NewTable(2);
    for (const char* text : {"b1", "b3"}) {
      db->AddRecord();
      db->SetField(0, text);
      db->SetField(1, text[1] == '1' ? "b2" : "b4");
    }
    db->SetDelimiter(';');
    db->SetFileName(name.c_str());
    int fieldCount = -99;
    DB_BOOL same = 7;
    const int result = op == Op::kLoad     ? db->LoadFile(&fieldCount, 0, &same)
                       : op == Op::kAppend ? db->AppendFile(&fieldCount, 0, &same)
                                           : db->SaveFile();
    std::string problems;
    const auto expect = [&problems](bool ok, const char* what) {
      if (!ok) {
        problems += std::string(what) + "; ";
      }
    };
    expect(db->CheckInvariants() == nullptr, "invariants broken");
    expect(std::strcmp(db->GetFileName(), name.c_str()) == 0, "name changed");
    const bool measured = op != Op::kSave && result > 0;
    expect(fieldCount == (measured ? 2 : -99) && same == (measured ? 1 : 7), "out-parameters");
    if (op == Op::kLoad && result > 0) {
      expect(db->GetRecordIndex() == dbErrNoRecordSelected, "a current record after the load");
      expect(Dump(db.get()) == kContentDump, "records loaded");
    } else if (op == Op::kLoad && result == dbErrFileAccess) {
      // The closing step had closed the table before the file was refused.
      expect(db->GetRecordCount() == dbErrNotOpen, "table still open");
    } else if (op == Op::kAppend && result > 0) {
      expect(db->GetRecordCount() == 3, "record count after the append");
      expect(Dump(db.get()) == std::string(kTableDump) + kContentDump, "records appended");
    } else {
      expect(db->GetRecordIndex() == 2 && db->GetRecordCount() == 2, "cursor or count changed");
      expect(Dump(db.get()) == kTableDump, "records changed");
    }
    const std::string report = std::to_string(result) + "\n" + problems;
    const bool sent =
        write(channel[1], report.data(), report.size()) == static_cast<ssize_t>(report.size());
    _exit(sent ? 0 : 1);
  }
  close(channel[1]);
  std::string report;
  char buffer[256];
  for (ssize_t n; (n = read(channel[0], buffer, sizeof(buffer))) != 0;) {
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      break;
    }
    report.append(buffer, static_cast<std::size_t>(n));
  }
  close(channel[0]);
  int status = 0;
  Outcome outcome;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) {
    return outcome;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    outcome.status = WIFSIGNALED(status) ? WTERMSIG(status) : 1000 + WEXITSTATUS(status);
    return outcome;
  }
  const std::size_t line = report.find('\n');
  outcome.finished = true;
  outcome.result = std::stoi(report.substr(0, line));
  outcome.problems = report.substr(line + 1);
  return outcome;
}

// Every entry under root by its path relative to root: its type, and a file's bytes, a link's
// target, a device's numbers. Names are taken as bytes; links are not followed.
void Snapshot(const std::string& root, const std::string& relative,
              std::map<std::string, std::string>* entries) {
  DIR* directory = opendir((root + relative).c_str());
  if (directory == nullptr) {
    return;
  }
  while (const dirent* entry = readdir(directory)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") {
      continue;
    }
    std::string path = relative;
    path += '/';
    path += name;
    const std::string full = root + path;
    struct stat info {};
    if (lstat(full.c_str(), &info) != 0) {
      (*entries)[path] = "unreadable";
    } else if (S_ISDIR(info.st_mode)) {
      (*entries)[path] = "directory";
      Snapshot(root, path, entries);
    } else if (S_ISREG(info.st_mode)) {
      (*entries)[path] = "file " + dbtest::ReadBytes(full);
    } else if (S_ISLNK(info.st_mode)) {
      char target[PATH_MAX];
      const ssize_t length = readlink(full.c_str(), target, sizeof(target));
      (*entries)[path] = "link " + std::string(target, length > 0 ? std::size_t(length) : 0);
    } else if (S_ISFIFO(info.st_mode)) {
      (*entries)[path] = "fifo";
    } else if (S_ISCHR(info.st_mode)) {
      (*entries)[path] = "device " + std::to_string(major(info.st_rdev)) + "," +
                         std::to_string(minor(info.st_rdev));
    } else {
      (*entries)[path] = "other";
    }
  }
  closedir(directory);
}

std::map<std::string, std::string> Snapshot(const TempDir& dir) {
  std::map<std::string, std::string> entries;
  Snapshot(dir.path().string(), "", &entries);
  return entries;
}

// dir, then as many "./" as make the path to file exactly length bytes long.
std::string PaddedPath(const TempDir& dir, std::size_t length, const std::string& file) {
  std::string path = dir.path().string() + "/";
  if ((length - path.size() - file.size()) % 2 != 0) {
    path += "/";
  }
  while (path.size() + file.size() < length) {
    path += "./";
  }
  return path + file;
}

// A character device node like /dev/<name> inside dir, where this process may make one; else the
// system's own node, which a process that may not make nodes cannot replace either. "" when
// neither is safe to hand to a save.
std::string DeviceLike(const TempDir& dir, const char* name, unsigned minorNumber) {
  std::string node = dir.File(name);
  if (mknod(node.c_str(), S_IFCHR | 0666, makedev(1, minorNumber)) == 0) {
    return node;
  }
  return geteuid() == 0 ? std::string() : std::string("/dev/") + name;
}

struct Case {
  const char* name;
  // Makes what the case needs in dir and returns the name to pass; "" when the case cannot run
  // here. Descriptors pushed to held stay open while the case runs.
  std::function<std::string(const TempDir&, std::vector<int>*)> make;
  int load;
  int append;
  int save;
  const char* savedAs;  // the file a successful save writes, relative to dir
};

TEST(BadPathsPosixTest, EveryNameGivesItsDocumentedResultWithoutHanging) {
  const Case cases[] = {
      {"a name of 5,000 bytes",
       [](const TempDir& d, std::vector<int>*) { return d.File(std::string(5000, 'a')); },
       dbErrFileNotFound, dbErrFileNotFound, dbErrFileAccess, nullptr},
      {"a path of 4,900 bytes through many components to an existing file",
       [](const TempDir& d, std::vector<int>*) {
         std::string path = d.path().string();
         for (int i = 0; i < 700; ++i) {
           path += "/sub/..";
         }
         return path + "/in.csv";
       },
       dbErrFileNotFound, dbErrFileNotFound, dbErrFileAccess, nullptr},
      // Long, but short enough for the file and a temporary file beside it.
      {"a path of 4,000 bytes to an existing file",
       [](const TempDir& d, std::vector<int>*) { return PaddedPath(d, 4000, "in.csv"); }, 1, 1, 2,
       "/in.csv"},
      // The longest path the system takes: the file can be read, but no temporary file fits
      // beside it, so it cannot be replaced and keeps its bytes.
      {"a path of PATH_MAX - 1 bytes to an existing file",
       [](const TempDir& d, std::vector<int>*) { return PaddedPath(d, PATH_MAX - 1, "in.csv"); }, 1,
       1, dbErrFileAccess, nullptr},
      {"a trailing slash after a file",
       [](const TempDir& d, std::vector<int>*) { return d.File("in.csv") + "/"; },
       dbErrFileNotFound, dbErrFileNotFound, kElsewhere, nullptr},
      {"a trailing slash after a directory",
       [](const TempDir& d, std::vector<int>*) { return d.File("sub") + "/"; }, dbErrFileNotFound,
       dbErrFileNotFound, dbErrFileAccess, nullptr},
      {"a link to a directory",
       [](const TempDir& d, std::vector<int>*) {
         EXPECT_EQ(symlink("sub", d.File("t").c_str()), 0);
         return d.File("t");
       },
       dbErrFileNotFound, dbErrFileNotFound, kElsewhere, nullptr},
      {"a dangling link",
       [](const TempDir& d, std::vector<int>*) {
         EXPECT_EQ(symlink("missing.csv", d.File("t").c_str()), 0);
         return d.File("t");
       },
       dbErrFileNotFound, dbErrFileNotFound, kElsewhere, nullptr},
      {"a link loop",
       [](const TempDir& d, std::vector<int>*) {
         EXPECT_EQ(symlink("u", d.File("t").c_str()), 0);
         EXPECT_EQ(symlink("t", d.File("u").c_str()), 0);
         return d.File("t");
       },
       dbErrFileNotFound, dbErrFileNotFound, kElsewhere, nullptr},
      // Opening it does not block, since it has peers; reading or writing it would.
      {"a FIFO another process holds open",
       [](const TempDir& d, std::vector<int>* held) {
         EXPECT_EQ(mkfifo(d.File("t").c_str(), 0644), 0);
         held->push_back(open(d.File("t").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
         return d.File("t");
       },
       dbErrFileAccess, dbErrFileAccess, dbErrFileAccess, nullptr},
      {"a link to a FIFO without peers",
       [](const TempDir& d, std::vector<int>*) {
         EXPECT_EQ(mkfifo(d.File("fifo").c_str(), 0644), 0);
         EXPECT_EQ(symlink("fifo", d.File("t").c_str()), 0);
         return d.File("t");
       },
       dbErrFileAccess, dbErrFileAccess, dbErrFileAccess, nullptr},
      {"a device like /dev/null",
       [](const TempDir& d, std::vector<int>*) { return DeviceLike(d, "null", 3); }, kElsewhere,
       kElsewhere, dbErrFileAccess, nullptr},
      // Reading it would never end.
      {"a device like /dev/zero",
       [](const TempDir& d, std::vector<int>*) { return DeviceLike(d, "zero", 5); },
       dbErrFileAccess, dbErrFileAccess, dbErrFileAccess, nullptr},
      {"an existing file named by bytes E4 FF",
       [](const TempDir& d, std::vector<int>*) {
         dbtest::WriteBytes(d.File("\xE4\xFF.csv"), kContent);
         return d.File("\xE4\xFF.csv");
       },
       1, 1, 2, "/\xE4\xFF.csv"},
      {"an existing file in a directory named by bytes E4 FF",
       [](const TempDir& d, std::vector<int>*) {
         EXPECT_EQ(mkdir(d.File("\xE4\xFF").c_str(), 0755), 0);
         dbtest::WriteBytes(d.File("\xE4\xFF/\xFC\x80.csv"), kContent);
         return d.File("\xE4\xFF/\xFC\x80.csv");
       },
       1, 1, 2, "/\xE4\xFF/\xFC\x80.csv"},
      {"a missing file named by bytes E4 FF",
       [](const TempDir& d, std::vector<int>*) { return d.File("\xE4\xFF-neu.csv"); },
       dbErrFileNotFound, dbErrFileNotFound, 2, "/\xE4\xFF-neu.csv"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const Op op : {Op::kLoad, Op::kAppend, Op::kSave}) {
      const int expected = op == Op::kLoad ? c.load : op == Op::kAppend ? c.append : c.save;
      if (expected == kElsewhere) {
        continue;
      }
      SCOPED_TRACE(OpName(op));
      TempDir dir;
      dbtest::WriteBytes(dir.File("in.csv"), kContent);
      ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0755), 0);
      std::vector<int> held;
      const std::string name = c.make(dir, &held);
      if (name.empty()) {
        std::printf("[ skipped  ] %s, %s: no device node can be made safely here\n", c.name,
                    OpName(op));
        continue;
      }
      const std::map<std::string, std::string> before = Snapshot(dir);

      const Outcome outcome = RunInChild(op, name);

      for (const int fd : held) {
        close(fd);
      }
      ASSERT_TRUE(outcome.finished) << "the call did not return: "
                                    << (outcome.status == SIGALRM ? "still running after the limit"
                                                                  : "ended by signal or status ")
                                    << outcome.status;
      EXPECT_EQ(outcome.result, expected);
      EXPECT_EQ(outcome.problems, "");
      // The directory is as it was, but for the file a successful save wrote; no temporary file
      // is left anywhere.
      std::map<std::string, std::string> after = before;
      if (op == Op::kSave && outcome.result >= 0 && c.savedAs != nullptr) {
        after[c.savedAs] = std::string("file ") + kTableSaved;
      }
      EXPECT_EQ(Snapshot(dir), after);
    }
  }
}

}  // namespace
