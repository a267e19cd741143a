// What a save keeps of the old file on Windows: its security descriptor, the file itself where the
// directory refuses a new one (written in place), and a target whose directory leaves little room
// for the temporary file's name. Runs as a Windows executable (Wine). A dangling symbolic link
// needs a Unix link and is checked by tools/test_windows.sh.
#include <windows.h>
// After windows.h, whose types it uses.
#include <sddl.h>

#include <cstdint>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "tests/support/faulty_allocator.h"
#include "tests/support/test_support.h"

namespace {

using dbtest::ReadBytes;
using dbtest::TempDir;

constexpr const char* kSaved = dbtest::kTwoRecords;
constexpr SECURITY_INFORMATION kSecurity =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// Saves two records to path; with memory, the write buffer is refused and the save does without.
int Save(const std::string& path, dbtest::FaultyAllocator* memory = nullptr) {
  dbtest::ScopedTable db(dbtest::MakeEnv(memory));
  dbtest::MakeTwoRecords(db.get(), path);
  if (memory != nullptr) {
    memory->FailAt(1, true);
  }
  return db->SaveFile();
}

// The file's identity on its volume.
std::uint64_t FileIndex(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  BY_HANDLE_FILE_INFORMATION info{};
  EXPECT_TRUE(GetFileInformationByHandle(file, &info)) << path;
  CloseHandle(file);
  return (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
}

// Owner, group and DACL of path in SDDL.
std::string Security(const std::string& path) {
  char descriptor[4096];
  DWORD needed = 0;
  char* text = nullptr;
  if (!GetFileSecurityA(path.c_str(), kSecurity, descriptor, sizeof(descriptor), &needed) ||
      !ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, kSecurity,
                                                            &text, nullptr)) {
    return "<error " + std::to_string(GetLastError()) + ">";
  }
  const std::string result = text;
  LocalFree(text);
  return result;
}

// Wine 8 keeps of a DACL only what the Unix mode bits say (the owner's and Everyone's ACE; SYSTEM
// always has full access), Windows all of it: either way the saved file must report what the old
// one did. Each DACL here differs from the one a new file gets.
TEST(SaveKeepsWin32Test, AReplacedFileKeepsItsSecurityDescriptor) {
  TempDir dir;
  const std::string path = dir.File("t.csv");
  dbtest::WriteBytes(path, "old\r\n");
  const std::string fresh = Security(path);
  const std::string owner = fresh.substr(2, fresh.find("G:") - 2);  // "O:<sid>G:..."
  const std::string dacls[] = {
      "D:P(A;;FA;;;WD)",                                                      // Everyone may write
      "D:P(A;;FA;;;SY)(A;;FA;;;" + owner + ")(A;;FR;;;S-1-5-21-1-2-3-4321)",  // no one else
  };
  for (const std::string& dacl : dacls) {
    for (const bool smallBuffer : {false, true}) {
      SCOPED_TRACE(dacl + (smallBuffer ? ", without the write buffer" : ""));
      PSECURITY_DESCRIPTOR wanted = nullptr;
      ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
          dacl.c_str(), SDDL_REVISION_1, &wanted, nullptr));
      ASSERT_TRUE(SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, wanted));
      LocalFree(wanted);
      const std::string before = Security(path);
      ASSERT_NE(before, fresh);
      dbtest::FaultyAllocator memory;
      EXPECT_EQ(Save(path, smallBuffer ? &memory : nullptr), 2);
      EXPECT_EQ(ReadBytes(path), kSaved);
      EXPECT_EQ(Security(path), before);
      EXPECT_EQ(dir.Entries(), std::vector<std::string>{"t.csv"});
    }
  }
}

// Only a refused existing target is written in place: emptied, written, the same file.
TEST(SaveKeepsWin32Test, WriteInPlaceWritesTheHeldFileOnlyWhereRefused) {
  const struct { bool exists, refused; } cases[] = {{true, true}, {true, false}, {false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.exists ? "existing" : "new") + (c.refused ? ", refused" : ""));
    TempDir dir;
    const std::string path = dir.File("t.csv");
    if (c.exists) {
      dbtest::WriteBytes(path, "old and longer\r\n");
    }
    const std::uint64_t index = c.exists ? FileIndex(path) : 0;
    TFileSystem& files = PlatformFileSystem();
    TSaveTarget target;
    target.temporary[0] = '\0';
    ASSERT_TRUE(files.OpenTarget(path.c_str(), &target));
    target.refused = c.refused;
    const bool inPlace = c.exists && c.refused;
    ASSERT_EQ(files.WriteInPlace(&target), inPlace);
    EXPECT_EQ(target.temp != kNoFile, inPlace);
    if (inPlace) {
      EXPECT_TRUE(files.Write(&target, "new\r\n", 5) && files.Flush(&target) &&
                  files.CloseTemporary(&target));
    }
    files.EndSave(&target);
    EXPECT_EQ(dir.Entries().size(), c.exists ? 1U : 0U);
    if (c.exists) {
      EXPECT_EQ(ReadBytes(path), inPlace ? "new\r\n" : "old and longer\r\n");
      EXPECT_EQ(FileIndex(path), index);
    }
  }
}

// Where the directory leaves no room for the usual temporary name, a short one ("~", seven hex
// digits, ".tmp": 12 characters) is used while that fits within MAX_PATH - 1.
TEST(SaveKeepsWin32Test, TargetsNearThePathLimitAreSaved) {
  const struct {
    std::size_t directory;  // characters, the last separator included
    bool exists, saved;
  } cases[] = {{245, true, true},
               {245, false, true},
               {247, true, true},
               {248, true, false},
               {248, false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.directory) + (c.exists ? ", existing" : ", new"));
    TempDir top;
    std::string directory = top.path().string();
    for (std::size_t needed = c.directory - 1 - directory.size(); needed > 0;) {
      std::size_t step = needed < 101 ? needed : 101;  // a separator and up to 100 characters
      step -= needed - step == 1 ? 1 : 0;              // leaves room for a separator and a name
      directory += "\\" + std::string(step - 1, 'd');
      needed -= step;
      ASSERT_TRUE(CreateDirectoryA(directory.c_str(), nullptr)) << directory.size();
    }
    const std::string path = directory + "\\t.csv";
    ASSERT_EQ(path.size(), c.directory + 5);
    if (c.exists) {
      dbtest::WriteBytes(path, "old\r\n");
    }
    EXPECT_EQ(Save(path), c.saved ? 2 : dbErrFileAccess);
    const auto entries = std::distance(std::filesystem::directory_iterator(directory), {});
    EXPECT_EQ(entries, c.exists || c.saved ? 1 : 0);
    if (c.exists || c.saved) {
      EXPECT_EQ(ReadBytes(path), c.saved ? kSaved : "old\r\n");
    }
  }
}

}  // namespace
