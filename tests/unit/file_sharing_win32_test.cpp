// The Win32 file layer: share mode 0 both ways, the refusals that leave a file untouched (a file
// another handle holds, the read-only attribute, a directory, a missing directory), the 64-bit file
// size, and saves through relative and non-ASCII ANSI paths. Runs as a Windows executable (Wine).
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "tests/support/test_support.h"

namespace {

using dbtest::ReadBytes;
using dbtest::TempDir;
using dbtest::WriteBytes;

// A handle another party holds on a file for as long as it lives.
class THeldFile {
 public:
  THeldFile(const std::string& path, DWORD access, DWORD share)
      : FHandle(CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~THeldFile() { Release(); }
  THeldFile(const THeldFile&) = delete;
  THeldFile& operator=(const THeldFile&) = delete;

  bool Valid() const { return FHandle != INVALID_HANDLE_VALUE; }
  void Release() {
    if (Valid()) {
      CloseHandle(FHandle);
      FHandle = INVALID_HANDLE_VALUE;
    }
  }

 private:
  HANDLE FHandle;
};

// Whether some other handle could open path right now; the error when it could not.
bool OthersCanOpen(const std::string& path, DWORD* error) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return false;
  }
  CloseHandle(handle);
  return true;
}

struct THolder {
  const char* name;
  DWORD access;
  DWORD share;
};

// Any other open handle refuses the module's open without sharing, whatever that handle shares.
const THolder kHolders[] = {
    {"reader sharing nothing", GENERIC_READ, 0},
    {"writer sharing nothing", GENERIC_WRITE, 0},
    {"reader sharing everything", GENERIC_READ,
     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
};

const char kTableBytes[] = "a;b\r\nc;d\r\n";

// A table of two records, (x, y) and (z, absent), with the delimiter ';'.
TDatenbank* TwoRecords() {
  TDatenbank* db = dbtest::NewTable();
  db->SetDelimiter(';');
  db->NewTable(2);
  db->AddRecord();
  db->SetField(0, "x");
  db->SetField(1, "y");
  db->AddRecord();
  db->SetField(0, "z");
  return db;
}

void Release(TMainDB* db) {
  db->CloseTable();
  db->FreeFileName();
}

TEST(Win32SharingTest, LoadFileRefusesAFileAnotherHandleHolds) {
  for (const THolder& holder : kHolders) {
    SCOPED_TRACE(holder.name);
    TempDir dir;
    const std::string path = dir.File("in.csv");
    WriteBytes(path, kTableBytes);
    TDatenbank* db = dbtest::NewTable();
    db->SetFileName(path.c_str());
    db->SetDelimiter(';');
    {
      THeldFile other(path, holder.access, holder.share);
      ASSERT_TRUE(other.Valid());
      int fieldCount = -99;
      DB_BOOL same = 7;
      EXPECT_EQ(db->LoadFile(&fieldCount, 0, &same), dbErrFileAccess);
      EXPECT_EQ(fieldCount, -99);
      EXPECT_EQ(same, 7);
      EXPECT_EQ(db->GetRecordCount(), dbErrNotOpen);
    }
    EXPECT_EQ(ReadBytes(path), kTableBytes);
    // Once the other handle is gone the same file loads.
    int fieldCount = 0;
    DB_BOOL same = 0;
    EXPECT_EQ(db->LoadFile(&fieldCount, 0, &same), 2);
    EXPECT_EQ(dbtest::Dump(db), "a|b\nc|d\n");
    EXPECT_INVARIANTS(db);
    Release(db);
  }
}

TEST(Win32SharingTest, AppendFileRefusesAFileAnotherHandleHoldsAndKeepsTheTable) {
  for (const THolder& holder : kHolders) {
    SCOPED_TRACE(holder.name);
    TempDir dir;
    const std::string path = dir.File("more.csv");
    WriteBytes(path, kTableBytes);
    TDatenbank* db = TwoRecords();
    db->SetFileName(path.c_str());
    db->FirstRecord();
    {
      THeldFile other(path, holder.access, holder.share);
      ASSERT_TRUE(other.Valid());
      int fieldCount = -99;
      DB_BOOL same = 7;
      EXPECT_EQ(db->AppendFile(&fieldCount, 0, &same), dbErrFileAccess);
      EXPECT_EQ(fieldCount, -99);
      EXPECT_EQ(same, 7);
      EXPECT_EQ(db->GetRecordIndex(), 1);
      EXPECT_EQ(db->GetRecordCount(), 2);
      EXPECT_EQ(dbtest::Dump(db), "x|y\nz|<absent>\n");
    }
    EXPECT_EQ(ReadBytes(path), kTableBytes);
    int fieldCount = 0;
    DB_BOOL same = 0;
    EXPECT_EQ(db->AppendFile(&fieldCount, 0, &same), 2);
    EXPECT_EQ(db->GetRecordCount(), 4);
    EXPECT_INVARIANTS(db);
    Release(db);
  }
}

TEST(Win32SharingTest, SaveFileRefusesATargetAnotherHandleHoldsAndTouchesNothing) {
  for (const THolder& holder : kHolders) {
    SCOPED_TRACE(holder.name);
    TempDir dir;
    const std::string path = dir.File("out.csv");
    WriteBytes(path, "old content\r\n");
    TDatenbank* db = TwoRecords();
    db->SetFileName(path.c_str());
    {
      THeldFile other(path, holder.access, holder.share);
      ASSERT_TRUE(other.Valid());
      EXPECT_EQ(db->SaveFile(), dbErrFileAccess);
    }
    EXPECT_EQ(ReadBytes(path), "old content\r\n");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.csv"});
    EXPECT_EQ(db->SaveFile(), 2);
    EXPECT_EQ(ReadBytes(path), "x;y\r\nz;\r\n");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.csv"});
    Release(db);
  }
}

TEST(Win32FileLayerTest, AFileOpenForReadingIsNotSharedWithAnyone) {
  TempDir dir;
  const std::string path = dir.File("in.csv");
  WriteBytes(path, kTableBytes);
  TFileSystem& files = PlatformFileSystem();
  TFileHandle file = kNoFile;
  ASSERT_TRUE(files.OpenForReading(path.c_str(), &file));
  DWORD error = 0;
  EXPECT_FALSE(OthersCanOpen(path, &error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  TFileHandle second = kNoFile;
  EXPECT_FALSE(files.OpenForReading(path.c_str(), &second));
  files.Close(file);
  EXPECT_TRUE(OthersCanOpen(path, &error));
}

TEST(Win32FileLayerTest, AHeldSaveTargetIsNotSharedWithAnyoneUntilItIsReplaced) {
  TempDir dir;
  const std::string path = dir.File("out.csv");
  WriteBytes(path, "old\r\n");
  TFileSystem& files = PlatformFileSystem();
  TSaveTarget target;
  target.path[0] = '\0';
  target.temporary[0] = '\0';
  ASSERT_TRUE(files.OpenTarget(path.c_str(), &target));
  EXPECT_TRUE(target.exists);
  DWORD error = 0;
  EXPECT_FALSE(OthersCanOpen(path, &error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  ASSERT_TRUE(files.CreateTemporary(&target));
  // The temporary file is made beside the target and shared with no one either.
  const std::string temporary = target.temporary;
  EXPECT_EQ(temporary.rfind(dir.path().string(), 0), 0U) << temporary;
  EXPECT_FALSE(OthersCanOpen(temporary, &error));
  ASSERT_TRUE(files.Write(&target, "new\r\n", 5));
  ASSERT_TRUE(files.Flush(&target));
  ASSERT_TRUE(files.CloseTemporary(&target));
  ASSERT_TRUE(files.Replace(&target));
  files.EndSave(&target);
  EXPECT_EQ(ReadBytes(path), "new\r\n");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.csv"});
  EXPECT_TRUE(OthersCanOpen(path, &error));
}

TEST(Win32FileLayerTest, AReplaceThatStaysRefusedKeepsTheTargetAndLeavesNoTemporaryFile) {
  TempDir dir;
  const std::string path = dir.File("out.csv");
  WriteBytes(path, "old\r\n");
  TFileSystem& files = PlatformFileSystem();
  TSaveTarget target;
  target.path[0] = '\0';
  target.temporary[0] = '\0';
  ASSERT_TRUE(files.OpenTarget(path.c_str(), &target));
  ASSERT_TRUE(files.CreateTemporary(&target));
  ASSERT_TRUE(files.Write(&target, "new\r\n", 5));
  ASSERT_TRUE(files.Flush(&target));
  ASSERT_TRUE(files.CloseTemporary(&target));
  // Another process opens the target in the moment between the module letting go of it and
  // the move, and keeps it open through every retry.
  CloseHandle(reinterpret_cast<HANDLE>(target.held));  // NOLINT(performance-no-int-to-ptr)
  target.held = kNoFile;
  {
    THeldFile other(path, GENERIC_READ, 0);
    ASSERT_TRUE(other.Valid());
    EXPECT_FALSE(files.Replace(&target));
    files.EndSave(&target);
  }
  EXPECT_EQ(ReadBytes(path), "old\r\n");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.csv"});
}

TEST(Win32FileLayerTest, TheSizeUsesTheHighWord) {
  TempDir dir;
  const std::string path = dir.File("big.bin");
  const std::uint64_t sizes[] = {0, 5, std::uint64_t{1} << 32, (std::uint64_t{1} << 32) + 7};
  for (const std::uint64_t size : sizes) {
    SCOPED_TRACE(size);
    {
      // A sparse file where the file system allows it: nothing of it is ever read.
      HANDLE handle =
          CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      ASSERT_NE(handle, INVALID_HANDLE_VALUE);
      LARGE_INTEGER end;
      end.QuadPart = static_cast<LONGLONG>(size);
      const bool sized = SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) && SetEndOfFile(handle);
      CloseHandle(handle);
      if (!sized) {
        GTEST_SKIP() << "cannot make a file of " << size << " bytes here";
      }
    }
    TFileSystem& files = PlatformFileSystem();
    TFileHandle file = kNoFile;
    ASSERT_TRUE(files.OpenForReading(path.c_str(), &file));
    std::uint64_t got = 12345;
    EXPECT_TRUE(files.GetSize(file, &got));
    EXPECT_EQ(got, size);
    files.Close(file);
  }
  DeleteFileA(path.c_str());
}

TEST(Win32FileLayerTest, ReadOnlyTargetIsRefusedAndLeftAlone) {
  TempDir dir;
  const std::string path = dir.File("out.csv");
  WriteBytes(path, kTableBytes);
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
  TDatenbank* db = TwoRecords();
  db->SetFileName(path.c_str());
  EXPECT_EQ(db->SaveFile(), dbErrFileAccess);
  EXPECT_EQ(ReadBytes(path), kTableBytes);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.csv"});
  EXPECT_NE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY, 0U);
  // Reading a read-only file is fine.
  int fieldCount = 0;
  DB_BOOL same = 0;
  EXPECT_EQ(db->LoadFile(&fieldCount, 0, &same), 2);
  EXPECT_EQ(dbtest::Dump(db), "a|b\nc|d\n");
  Release(db);
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(Win32FileLayerTest, DirectoriesAndMissingDirectoriesAreRefused) {
  TempDir dir;
  const std::string sub = dir.File("sub");
  ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
  const std::string names[] = {sub, sub + "\\", sub + "\\missing\\out.csv", sub + "\\out.csv\\"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    TDatenbank* db = TwoRecords();
    db->SetFileName(name.c_str());
    EXPECT_EQ(db->SaveFile(), dbErrFileAccess);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"sub"});
    EXPECT_TRUE(std::filesystem::is_empty(sub));
    Release(db);
  }
  // The existence test does not take a directory for a file.
  TDatenbank* db = dbtest::NewTable();
  db->SetFileName(sub.c_str());
  db->SetDelimiter(';');
  int fieldCount = 0;
  DB_BOOL same = 0;
  EXPECT_EQ(db->LoadFile(&fieldCount, 0, &same), dbErrFileNotFound);
  EXPECT_FALSE(PlatformFileSystem().FileExists(sub.c_str()));
  Release(db);
}

TEST(Win32FileLayerTest, RelativeAndNonAsciiAnsiPaths) {
  TempDir dir;
  char previous[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, previous), 0U);
  ASSERT_TRUE(SetCurrentDirectoryA(dir.path().string().c_str()));
  // "Straße.csv" in Windows-1252, and a plain relative name; both stay where they were named.
  const std::string names[] = {"rel.csv",
                               "Stra\xDF"
                               "e.csv"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    TDatenbank* db = TwoRecords();
    db->SetFileName(name.c_str());
    EXPECT_EQ(db->SaveFile(), 2);
    EXPECT_TRUE(PlatformFileSystem().FileExists(name.c_str()));
    int fieldCount = 0;
    DB_BOOL same = 0;
    EXPECT_EQ(db->LoadFile(&fieldCount, 0, &same), 2);
    EXPECT_EQ(dbtest::Dump(db), "x|y\nz|\n");
    Release(db);
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA("*", &entry);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    int files = 0;
    do {
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ++files;
        EXPECT_TRUE(name == entry.cFileName || std::string("rel.csv") == entry.cFileName)
            << entry.cFileName;
      }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    EXPECT_EQ(files, &name == &names[0] ? 1 : 2);
  }
  ASSERT_TRUE(SetCurrentDirectoryA(previous));
}

TEST(Win32FileLayerTest, AReplacedFileKeepsItsHiddenAttribute) {
  TempDir dir;
  const std::string path = dir.File("out.csv");
  WriteBytes(path, kTableBytes);
  if (!SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN) ||
      (GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_HIDDEN) == 0) {
    GTEST_SKIP() << "this file system keeps no hidden attribute";
  }
  TDatenbank* db = TwoRecords();
  db->SetFileName(path.c_str());
  EXPECT_EQ(db->SaveFile(), 2);
  EXPECT_EQ(ReadBytes(path), "x;y\r\nz;\r\n");
  EXPECT_NE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0U);
  Release(db);
}

}  // namespace
