// What a save keeps of the old file on POSIX systems: extended attributes and ACLs, the file a
// dangling link names, and the file itself where the directory refuses a new one (written in
// place).
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/faulty_allocator.h"
#include "tests/support/posix_child.h"
#include "tests/support/test_support.h"

namespace {

using dbtest::ReadBytes;
using dbtest::RunInChild;
using dbtest::ScopedTable;
using dbtest::TempDir;

constexpr const char* kSaved = dbtest::kTwoRecords;

int Save(const std::string& path) {
  ScopedTable db;
  dbtest::MakeTwoRecords(db.get(), path);
  return db->SaveFile();
}

std::string Attribute(const std::string& path, const char* name) {
  char value[256];
  const ssize_t length = getxattr(path.c_str(), name, value, sizeof(value));
  return length < 0 ? "<none>" : std::string(value, static_cast<std::size_t>(length));
}

// An access ACL that also lets user 4321 (0x10E1) read and write, as the kernel stores it: version
// 2, then tag, permissions and id of the owner, user 4321, the group, the mask and the others.
const char kAcl[] =
    "\x02\0\0\0"
    "\x01\0\x06\0\xff\xff\xff\xff\x02\0\x06\0\xe1\x10\0\0\x04\0\x04\0\xff\xff\xff\xff"
    "\x10\0\x06\0\xff\xff\xff\xff\x20\0\x04\0\xff\xff\xff\xff";

TEST(SaveKeepsPosixTest, ExtendedAttributesAndAclsAreKept) {
  TempDir dir;
  const std::string path = dir.File("t.csv");
  dbtest::WriteBytes(path, "old\r\n");
  const std::string acl(kAcl, sizeof(kAcl) - 1);
  if (setxattr(path.c_str(), "user.origin", "survey", 6, 0) != 0 ||
      setxattr(path.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0) {
    GTEST_SKIP() << "this file system keeps no extended attributes or ACLs: "
                 << std::strerror(errno);
  }
  struct stat before {};
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  EXPECT_EQ(Save(path), 2);
  EXPECT_EQ(ReadBytes(path), kSaved);
  EXPECT_EQ(Attribute(path, "user.origin"), "survey");
  EXPECT_EQ(Attribute(path, "system.posix_acl_access"), acl);
  struct stat after {};
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_NE(after.st_ino, before.st_ino);  // a new file, by design
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"t.csv"});
}

TEST(SaveKeepsPosixTest, ADanglingLinkGetsTheFileItNames) {
  struct Case {
    const char* name;
    std::vector<std::pair<const char*, const char*>> links;  // link name, what it names
    const char* created;
  };
  const Case cases[] = {
      {"beside", {{"t.csv", "new.csv"}}, "new.csv"},
      {"into a subdirectory", {{"t.csv", "sub/new.csv"}}, "sub/new.csv"},
      {"chain", {{"t.csv", "sub/l.csv"}, {"sub/l.csv", "new.csv"}}, "sub/new.csv"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0755), 0);
    for (const auto& link : c.links) {
      ASSERT_EQ(symlink(link.second, dir.File(link.first).c_str()), 0);
    }
    EXPECT_EQ(Save(dir.File("t.csv")), 2);
    EXPECT_EQ(ReadBytes(dir.File(c.created)), kSaved);
    struct stat info {};
    EXPECT_EQ(lstat(dir.File("t.csv").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link is gone";
  }
  // A link into a directory that does not exist is refused, and creates nothing.
  TempDir dir;
  ASSERT_EQ(symlink("none/new.csv", dir.File("t.csv").c_str()), 0);
  EXPECT_EQ(Save(dir.File("t.csv")), dbErrFileAccess);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"t.csv"});
}

// A directory this process may not write (but the file), and another user's writable file in a
// sticky directory: the temporary file or the rename is refused, the plain write is not. Run as
// nobody when the suite runs as root, who may write anywhere.
TEST(SaveKeepsPosixTest, ADirectoryThatRefusesNewFilesIsWrittenInPlace) {
  const bool root = geteuid() == 0;
  for (const bool sticky : {false, true}) {
    SCOPED_TRACE(sticky ? "sticky directory, another user's file" : "read-only directory");
    if (sticky && !root) {
      GTEST_SKIP() << "a file of another user needs root to set up";
    }
    TempDir top;
    const std::string dir = top.File("d");
    const std::string path = dir + "/t.csv";
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    dbtest::WriteBytes(path, "old\r\n");
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    ASSERT_EQ(chmod(dir.c_str(), sticky ? 01777 : 0555), 0);
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    const int status = RunInChild([&] {
      if (root && (setgid(65534) != 0 || setuid(65534) != 0)) {
        return 1;
      }
      return 100 + Save(path);  // the result, as an exit status
    });
    chmod(dir.c_str(), 0755);
    EXPECT_EQ(status, 102);
    EXPECT_EQ(ReadBytes(path), kSaved);
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);
    std::vector<std::string> entries;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      entries.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(entries, std::vector<std::string>{"t.csv"});
  }
}

}  // namespace
