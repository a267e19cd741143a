// What the POSIX file layer refuses and what it keeps: locks held by other descriptors, files
// without a write bit, symbolic links, permission bits, special files, immutable files and a
// device that runs full.
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/faulty_allocator.h"
#include "tests/support/posix_child.h"
#include "tests/support/test_support.h"

namespace {

using dbtest::Dump;
using dbtest::ReadBytes;
using dbtest::RunInChild;
using dbtest::ScopedTable;
using dbtest::TempDir;

std::vector<std::string> Only(const std::string& name) {
  return {name};
}

std::vector<std::string> Entries(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

unsigned Mode(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

int OpenDescriptors() {
  int count = 0;
  if (DIR* fds = opendir("/proc/self/fd")) {
    while (readdir(fds) != nullptr) {
      ++count;
    }
    closedir(fds);
  }
  return count;
}

// A table of two records that SaveFile writes as "n;1\r\nn;2\r\n".
using dbtest::kTwoRecords;
using dbtest::MakeTwoRecords;

TEST(FileAccessPosixTest, FileLockedByAnotherDescriptor) {
  for (const int lock : {LOCK_EX, LOCK_SH}) {
    SCOPED_TRACE(lock == LOCK_EX ? "exclusive" : "shared");
    TempDir dir;
    const std::string path = dir.File("in.csv");
    dbtest::WriteBytes(path, "a;b\n");
    const int descriptors = OpenDescriptors();
    const int holder = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, lock | LOCK_NB), 0);

    ScopedTable db;
    MakeTwoRecords(db.get(), path);
    db->FirstRecord();
    int fieldCount = -99;
    DB_BOOL same = 7;
    EXPECT_EQ(db->SaveFile(), dbErrFileAccess);
    EXPECT_EQ(db->AppendFile(&fieldCount, 0, &same), dbErrFileAccess);
    EXPECT_EQ(db->GetRecordIndex(), 1);
    EXPECT_EQ(Dump(db.get()), "n|1\nn|2\n");
    EXPECT_EQ(db->LoadFile(&fieldCount, 0, &same), dbErrFileAccess);
    EXPECT_EQ(fieldCount, -99);
    EXPECT_EQ(same, 7);
    EXPECT_EQ(db->GetRecordCount(), dbErrNotOpen);  // the closing step had closed it
    EXPECT_EQ(ReadBytes(path), "a;b\n");
    EXPECT_EQ(dir.Entries(), Only("in.csv"));
    EXPECT_EQ(OpenDescriptors(), descriptors + 1);

    close(holder);
    EXPECT_EQ(db->LoadFile(nullptr, 0, nullptr), 1);
    MakeTwoRecords(db.get(), path);
    EXPECT_EQ(db->SaveFile(), 2);
    EXPECT_EQ(ReadBytes(path), kTwoRecords);
    EXPECT_EQ(OpenDescriptors(), descriptors);
  }
}

TEST(FileAccessPosixTest, FileWithoutWriteBitIsReadOnlyEvenForRoot) {
  for (const unsigned mode : {0444U, 0400U, 0000U, 0555U}) {
    SCOPED_TRACE(mode);
    TempDir dir;
    const std::string path = dir.File("out.csv");
    dbtest::WriteBytes(path, "old\r\n");
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
    ScopedTable db;
    MakeTwoRecords(db.get(), path);
    EXPECT_EQ(db->SaveFile(), dbErrFileAccess);
    EXPECT_EQ(ReadBytes(path), "old\r\n");
    EXPECT_EQ(Mode(path), mode);
    EXPECT_EQ(dir.Entries(), Only("out.csv"));
    ASSERT_EQ(chmod(path.c_str(), mode | 0200), 0);
    EXPECT_EQ(db->SaveFile(), 2);
    EXPECT_EQ(ReadBytes(path), kTwoRecords);
  }
}

TEST(FileAccessPosixTest, PermissionBitsAndOwnerAreKept) {
  const mode_t oldMask = umask(022);
  for (const unsigned mode : {0600U, 0640U, 0604U, 0755U, 0666U, 0620U}) {
    SCOPED_TRACE(mode);
    TempDir dir;
    const std::string path = dir.File("out.csv");
    dbtest::WriteBytes(path, "old\r\n");
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
    const bool root = geteuid() == 0;
    if (root) {
      ASSERT_EQ(chown(path.c_str(), 4321, 8765), 0);
    }
    ScopedTable db;
    MakeTwoRecords(db.get(), path);
    EXPECT_EQ(db->SaveFile(), 2);
    EXPECT_EQ(ReadBytes(path), kTwoRecords);
    EXPECT_EQ(Mode(path), mode);
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    if (root) {
      EXPECT_EQ(info.st_uid, 4321U);
      EXPECT_EQ(info.st_gid, 8765U);
    }
  }
  // A new file gets the usual mode under the process's mask.
  TempDir dir;
  ScopedTable db;
  MakeTwoRecords(db.get(), dir.File("new.csv"));
  EXPECT_EQ(db->SaveFile(), 2);
  EXPECT_EQ(Mode(dir.File("new.csv")), 0644U);
  umask(oldMask);
}

TEST(FileAccessPosixTest, SymbolicLinksAreFollowedAndKept) {
  struct Case {
    const char* name;
    std::vector<std::pair<const char*, const char*>> links;  // link name, what it names
    const char* real;
    std::vector<std::string> top, sub;  // what the directories hold afterwards
  };
  const Case cases[] = {
      {"beside", {{"link.csv", "real.csv"}}, "real.csv", {"link.csv", "real.csv", "sub"}, {}},
      {"into a subdirectory",
       {{"link.csv", "sub/real.csv"}},
       "sub/real.csv",
       {"link.csv", "sub"},
       {"real.csv"}},
      {"chain",
       {{"link2.csv", "sub/link1.csv"}, {"sub/link1.csv", "real.csv"}},
       "sub/real.csv",
       {"link2.csv", "sub"},
       {"link1.csv", "real.csv"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    mkdir(dir.File("sub").c_str(), 0755);
    dbtest::WriteBytes(dir.File(c.real), "old\r\n");
    ASSERT_EQ(chmod(dir.File(c.real).c_str(), 0640), 0);
    for (const auto& link : c.links) {
      ASSERT_EQ(symlink(link.second, dir.File(link.first).c_str()), 0);
    }
    const std::string linkPath = dir.File(c.links.front().first);
    ScopedTable db;
    MakeTwoRecords(db.get(), linkPath);
    EXPECT_EQ(db->SaveFile(), 2);
    EXPECT_EQ(ReadBytes(dir.File(c.real)), kTwoRecords);
    EXPECT_EQ(Mode(dir.File(c.real)), 0640U);
    for (const auto& link : c.links) {
      char target[256] = {};
      ASSERT_GT(readlink(dir.File(link.first).c_str(), target, sizeof(target) - 1), 0)
          << link.first << " is no longer a link";
      EXPECT_STREQ(target, link.second);
    }
    // Nothing but the links and the file is left in either directory.
    EXPECT_EQ(Entries(dir.path()), c.top);
    EXPECT_EQ(Entries(dir.path() / "sub"), c.sub);
    EXPECT_EQ(db->LoadFile(nullptr, 0, nullptr), 2);  // and it reads through the link
  }
}

TEST(FileAccessPosixTest, UnusableTargetsAreRefused) {
  struct Case {
    const char* name;
    std::function<void(const TempDir&)> make;
    const char* path;
  };
  const Case cases[] = {
      {"link loop",
       [](const TempDir& d) {
         EXPECT_EQ(symlink("u", d.File("t").c_str()), 0);
         EXPECT_EQ(symlink("t", d.File("u").c_str()), 0);
       },
       "t"},
      {"link to a directory",
       [](const TempDir& d) {
         mkdir(d.File("dir").c_str(), 0755);
         EXPECT_EQ(symlink("dir", d.File("t").c_str()), 0);
       },
       "t"},
      {"directory", [](const TempDir& d) { mkdir(d.File("t").c_str(), 0755); }, "t"},
      {"path ending in a slash", [](const TempDir& d) { dbtest::WriteBytes(d.File("t"), "x"); },
       "t/"},
      {"fifo", [](const TempDir& d) { mkfifo(d.File("t").c_str(), 0644); }, "t"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    c.make(dir);
    const std::vector<std::string> before = dir.Entries();
    ScopedTable db;
    MakeTwoRecords(db.get(), dir.File(c.path));
    // In a child: a save that blocked on the FIFO would otherwise hang the suite.
    EXPECT_EQ(RunInChild([&] { return -db->SaveFile(); }, 10), -dbErrFileAccess);
    EXPECT_EQ(dir.Entries(), before);
  }
}

TEST(FileAccessPosixTest, LoadersRefuseSpecialFilesWithoutBlocking) {
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0644), 0);
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = dir.File("sock");
  ASSERT_LT(socketPath.size(), sizeof(address.sun_path));
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  ASSERT_EQ(bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(listen(sock, 1), 0);
  for (const std::string& path : {dir.File("fifo"), socketPath, std::string("/dev/null")}) {
    for (const bool append : {false, true}) {
      SCOPED_TRACE(path + (append ? " append" : " load"));
      const int status = RunInChild(
          [&] {
            ScopedTable db;
            db->NewTable(1);
            db->AddRecord();
            db->SetFileName(path.c_str());
            db->SetDelimiter(';');
            const int result =
                append ? db->AppendFile(nullptr, 0, nullptr) : db->LoadFile(nullptr, 0, nullptr);
            // The appended-to table keeps its record; the loaded-over one is closed.
            const bool stateOk = db->GetRecordCount() == (append ? 1 : dbErrNotOpen);
            return stateOk ? -result : 100;
          },
          10);
      EXPECT_EQ(status, -dbErrFileAccess);
    }
  }
  close(sock);
}

TEST(FileAccessPosixTest, ImmutableFileIsRefused) {
  TempDir dir;
  const std::string path = dir.File("out.csv");
  dbtest::WriteBytes(path, "old\r\n");
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  int flags = 0;
  if (ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
    close(fd);
    GTEST_SKIP() << "this file system keeps no inode flags: " << std::strerror(errno);
  }
  const int original = flags;
  flags |= FS_IMMUTABLE_FL;
  if (ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) {
    close(fd);
    GTEST_SKIP() << "cannot make a file immutable here: " << std::strerror(errno);
  }
  ScopedTable db;
  MakeTwoRecords(db.get(), path);
  EXPECT_EQ(db->SaveFile(), dbErrFileAccess);
  EXPECT_EQ(ReadBytes(path), "old\r\n");
  EXPECT_EQ(dir.Entries(), Only("out.csv"));
  EXPECT_EQ(db->LoadFile(nullptr, 0, nullptr), 1);  // reading it is fine
  flags = original;
  EXPECT_EQ(ioctl(fd, FS_IOC_SETFLAGS, &flags), 0);
  close(fd);
}

// Exit codes of the child below.
enum FullDevice : int {
  kFullOk = 0,
  kFullOkWithLimit = 1,
  kFullSkip = 77,
  kFullWrongResult = 10,
  kFullOldBytesLost = 11,
  kFullTemporaryLeft = 12,
  kFullRetryFailed = 13,
};

bool WriteProcFile(const char* path, const std::string& text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return ok;
}

// Makes every write past 64 KiB fail, as on a full device: a 64 KiB tmpfs in a mount namespace of
// the child's own where that is permitted (kFullOk), else (in a chroot, or without user
// namespaces) a file size limit, which fails such a write with EFBIG instead of ENOSPC
// (kFullOkWithLimit). kFullSkip when neither works.
FullDevice LimitTo64KiB(const std::string& mountPoint) {
  const uid_t uid = geteuid();
  const gid_t gid = getegid();
  const bool ownNamespace =
      uid == 0 ? unshare(CLONE_NEWNS) == 0
               : unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 &&
                     WriteProcFile("/proc/self/setgroups", "deny") &&
                     WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") &&
                     WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
  // Keep the mount from reaching the parent's namespace.
  if (ownNamespace && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
      mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") == 0) {
    return kFullOk;
  }
  const rlimit limit{64 * 1024, 64 * 1024};
  return signal(SIGXFSZ, SIG_IGN) != SIG_ERR && setrlimit(RLIMIT_FSIZE, &limit) == 0
             ? kFullOkWithLimit
             : kFullSkip;
}

// A save of a table that does not fit where the old file lies.
int SaveIntoFullDevice(const std::string& mountPoint) {
  const FullDevice limited = LimitTo64KiB(mountPoint);
  if (limited == kFullSkip) {
    return kFullSkip;
  }
  // The helpers below report through the child's own copy of the test framework; only the exit
  // status reaches the parent.
  const std::string path = mountPoint + "/table.csv";
  const std::string old(20000, 'o');
  dbtest::WriteBytes(path, old);
  ScopedTable db;
  db->NewTable(1);
  const std::string line(999, 'n');
  for (int r = 0; r < 100; ++r) {  // about 100 KB
    db->AddRecord();
    db->SetField(0, line.c_str());
  }
  db->SetFileName(path.c_str());
  db->SetDelimiter(';');
  if (db->SaveFile() != dbErrWriteFailed) {
    return kFullWrongResult;
  }
  if (ReadBytes(path) != old) {
    return kFullOldBytesLost;
  }
  if (Entries(mountPoint) != Only("table.csv")) {
    return kFullTemporaryLeft;
  }
  // The space the failed save took is free again: a table that fits is saved.
  db->NewTable(1);
  db->AddRecord();
  db->SetField(0, line.c_str());
  return db->SaveFile() == 1 ? limited : kFullRetryFailed;
}

TEST(FileAccessPosixTest, FullDeviceKeepsTheOldFile) {
  TempDir dir;
  const std::string mountPoint = dir.File("tmpfs");
  ASSERT_EQ(mkdir(mountPoint.c_str(), 0755), 0);
  const int status = RunInChild([&] { return SaveIntoFullDevice(mountPoint); }, 60);
  if (status == kFullSkip) {
    GTEST_SKIP() << "neither a tmpfs nor a file size limit can be set up here";
  }
  if (status == kFullOkWithLimit) {
    return;  // no mount here: the files are the child's own
  }
  EXPECT_EQ(status, kFullOk);
  EXPECT_TRUE(std::filesystem::is_empty(mountPoint));  // the mount never left the child
}

}  // namespace
