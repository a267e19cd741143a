// What a save keeps of the old file on Windows: its security descriptor, the file itself where the
// directory refuses a new one (written in place), and a target whose directory leaves little room
// for the temporary file's name. Runs as a Windows executable (Wine). A dangling symbolic link
// needs a Unix link and is checked by tools/test_windows.sh.
#include <windows.h>
// After windows.h, whose types it uses.
#include <sddl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "tests/support/faulty_allocator.h"
#include "tests/support/test_support.h"

namespace {

using dbtest::ReadBytes;
using dbtest::TempDir;
using dbtest::WriteBytes;

constexpr char kSaved[] = "n;1\r\nn;2\r\n";

// Saves two records to path; with memory, the write buffer is refused and the save does without.
int Save(const std::string& path, dbtest::FaultyAllocator* memory = nullptr) {
  dbtest::ScopedTable db(dbtest::MakeEnv(memory));
  db->NewTable(2);
  for (const char* text : {"1", "2"}) {
    db->AddRecord();
    db->SetField(0, "n");
    db->SetField(1, text);
  }
  db->SetFileName(path.c_str());
  db->SetDelimiter(';');
  if (memory != nullptr) {
    memory->FailAt(1, true);
  }
  const int result = db->SaveFile();
  if (memory != nullptr) {
    memory->Heal();
  }
  return result;
}

std::vector<std::string> Entries(const std::string& directory) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) {
    return names;
  }
  do {
    const std::string name = entry.cFileName;
    if (name != "." && name != "..") {
      names.push_back(name);
    }
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return names;
}

// The file's identity on its volume; 0 when it cannot be opened.
std::uint64_t FileIndex(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return 0;
  }
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(file, &info) != 0;
  CloseHandle(file);
  return known ? (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow : 0;
}

// Owner, group and DACL of path as an SDDL string, or the error.
std::string Security(const std::string& path) {
  constexpr SECURITY_INFORMATION kParts =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  std::vector<char> descriptor(4096);
  DWORD needed = 0;
  if (!GetFileSecurityA(path.c_str(), kParts, descriptor.data(),
                        static_cast<DWORD>(descriptor.size()), &needed)) {
    return "<error " + std::to_string(GetLastError()) + ">";
  }
  char* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor.data(), SDDL_REVISION_1,
                                                            kParts, &text, nullptr)) {
    return "<error " + std::to_string(GetLastError()) + ">";
  }
  std::string result = text;
  LocalFree(text);
  return result;
}

bool SetDacl(const std::string& path, const std::string& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return false;
  }
  const bool set = SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor) != 0;
  LocalFree(descriptor);
  return set;
}

// The owner in a descriptor's SDDL ("O:<sid>G:..."), to name in a DACL.
std::string OwnerOf(const std::string& security) {
  const std::size_t group = security.find("G:");
  return security.rfind("O:", 0) == 0 && group != std::string::npos ? security.substr(2, group - 2)
                                                                    : "";
}

// Wine keeps of a file's DACL only what its Unix mode bits say (the owner's ACE, Everyone's; SYSTEM
// always has full access); Windows keeps all of it. Either way the saved file must report the
// descriptor the old one reported, and each DACL here differs from the one a new file gets.
TEST(SaveKeepsWin32Test, AReplacedFileKeepsItsSecurityDescriptor) {
  TempDir dir;
  const std::string fresh = dir.File("fresh.csv");
  WriteBytes(fresh, "");
  const std::string owner = OwnerOf(Security(fresh));
  ASSERT_FALSE(owner.empty()) << Security(fresh);
  const std::string dacls[] = {
      "D:P(A;;FA;;;WD)",                                                      // Everyone may write
      "D:P(A;;FA;;;SY)(A;;FA;;;" + owner + ")(A;;FR;;;S-1-5-21-1-2-3-4321)",  // no one else
  };
  for (const std::string& dacl : dacls) {
    for (const bool smallBuffer : {false, true}) {
      SCOPED_TRACE(dacl + (smallBuffer ? ", without the write buffer" : ""));
      const std::string path = dir.File("t.csv");
      WriteBytes(path, "old\r\n");
      ASSERT_TRUE(SetDacl(path, dacl));
      const std::string before = Security(path);
      ASSERT_NE(before, Security(fresh));
      dbtest::FaultyAllocator memory;
      EXPECT_EQ(Save(path, smallBuffer ? &memory : nullptr), 2);
      EXPECT_EQ(ReadBytes(path), kSaved);
      EXPECT_EQ(Security(path), before);
      EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"fresh.csv", "t.csv"}));
      ASSERT_TRUE(DeleteFileA(path.c_str()));
    }
  }
}

// Where the directory refused the temporary file or the rename, the held target itself is emptied
// and written; nothing else may be written in place.
TEST(SaveKeepsWin32Test, WriteInPlaceWritesTheHeldFileOnlyWhereRefused) {
  struct Case {
    const char* name;
    bool exists;
    bool refused;
  };
  const Case cases[] = {
      {"existing, refused", true, true},
      {"existing, not refused", true, false},
      {"new file, refused", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.File("t.csv");
    const std::string old = "old and longer\r\n";
    if (c.exists) {
      WriteBytes(path, old);
    }
    const std::uint64_t index = FileIndex(path);
    TFileSystem& files = PlatformFileSystem();
    TSaveTarget target;
    target.path[0] = '\0';
    target.temporary[0] = '\0';
    ASSERT_TRUE(files.OpenTarget(path.c_str(), &target));
    target.refused = c.refused;
    const bool inPlace = c.exists && c.refused;
    ASSERT_EQ(files.WriteInPlace(&target), inPlace);
    if (inPlace) {
      EXPECT_TRUE(files.Write(&target, "new\r\n", 5));
      EXPECT_TRUE(files.Flush(&target));
      EXPECT_TRUE(files.CloseTemporary(&target));
    } else {
      EXPECT_EQ(target.temp, kNoFile);
    }
    files.EndSave(&target);
    if (c.exists) {
      EXPECT_EQ(ReadBytes(path), inPlace ? "new\r\n" : old);
      EXPECT_EQ(FileIndex(path), index);
      EXPECT_EQ(dir.Entries(), std::vector<std::string>{"t.csv"});
    } else {
      EXPECT_TRUE(dir.Entries().empty());
    }
  }
}

// A target whose directory leaves no room for the usual temporary name gets a short one, as long
// as the directory leaves room for that: "~" and seven hex digits and ".tmp", 12 characters.
TEST(SaveKeepsWin32Test, TargetsNearThePathLimitAreSaved) {
  struct Case {
    std::size_t directory;  // characters up to and with the last separator
    bool exists;
    bool saved;
  };
  const Case cases[] = {
      {245, true, true},  {245, false, true},  {247, true, true},
      {248, true, false}, {248, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.directory) + (c.exists ? ", existing" : ", new"));
    TempDir top;
    std::string directory = top.path().string();
    ASSERT_LT(directory.size() + 2, c.directory);
    for (std::size_t needed = c.directory - 1 - directory.size(); needed > 0;) {
      std::size_t step = needed < 101 ? needed : 101;  // a separator and up to 100 characters
      if (needed - step == 1) {
        --step;  // leaves room for one more separator and name
      }
      directory += "\\" + std::string(step - 1, 'd');
      needed -= step;
      ASSERT_TRUE(CreateDirectoryA(directory.c_str(), nullptr)) << directory.size();
    }
    const std::string path = directory + "\\t.csv";
    ASSERT_EQ(path.size(), c.directory + 5);
    if (c.exists) {
      WriteBytes(path, "old\r\n");
    }
    EXPECT_EQ(Save(path), c.saved ? 2 : dbErrFileAccess);
    if (c.saved || c.exists) {
      EXPECT_EQ(ReadBytes(path), c.saved ? kSaved : "old\r\n");
      EXPECT_EQ(Entries(directory), std::vector<std::string>{"t.csv"});
    } else {
      EXPECT_TRUE(Entries(directory).empty());
    }
  }
}

}  // namespace
