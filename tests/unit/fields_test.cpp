// Field access on the current record: GetField and SetField, their checks and the text-out rules.
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using dbtest::TempDir;

constexpr char kUntouched = 'Z';

// A table of three records with three fields each, as loaded: no current record.
class FieldsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = dbtest::NewTable();
    ASSERT_EQ(dbtest::LoadBytes(db_, dir_, "a0;a1;a2\r\nb0;b1;b2\r\nc0;c1;c2\r\n"), 3);
  }

  TempDir dir_;
  TDatenbank* db_ = nullptr;
};

// The checks come in one order: open, records, current record, index. Each state below fails
// exactly one of them, and no index hides the earlier failure. A null text is refused only after
// all of them.
TEST_F(FieldsTest, ChecksInOrder) {
  const struct {
    const char* state;
    int expected;
    std::vector<int> indices;
  } cases[] = {{"closed", dbErrNotOpen, {0, -1, 3, INT_MAX}},
               {"empty", dbErrNoRecords, {0, 7, INT_MIN}},
               {"no current", dbErrNoRecordSelected, {0, 2, 3, -1}},
               {"current", dbErrNoSuchField, {-1, 3, INT_MIN, INT_MAX}}};
  for (const auto& c : cases) {
    for (const int index : c.indices) {
      SCOPED_TRACE(std::string(c.state) + ", index " + std::to_string(index));
      int fieldCount = 0;
      DB_BOOL same = 0;
      ASSERT_EQ(db_->LoadFile(&fieldCount, 0, &same), 3);
      if (std::strcmp(c.state, "closed") == 0) {
        db_->CloseTable();
      } else if (std::strcmp(c.state, "empty") == 0) {
        db_->NewTable(3);
      } else if (std::strcmp(c.state, "current") == 0) {
        db_->NextRecord();
      }
      char buffer[16];
      std::memset(buffer, kUntouched, sizeof(buffer));
      EXPECT_EQ(db_->GetField(index, buffer, sizeof(buffer)), c.expected);
      EXPECT_EQ(std::string(buffer, 2), std::string("\0", 1) + kUntouched);
      buffer[0] = kUntouched;
      EXPECT_EQ(db_->GetField(index, buffer, 0), c.expected);
      EXPECT_EQ(buffer[0], kUntouched);
      EXPECT_EQ(db_->GetField(index, nullptr, 16), c.expected);
      EXPECT_EQ(db_->SetField(index, "new"), c.expected);
      EXPECT_EQ(db_->SetField(index, nullptr), c.expected);
      EXPECT_INVARIANTS(db_);
    }
  }
  int fieldCount = 0;
  DB_BOOL same = 0;
  ASSERT_EQ(db_->LoadFile(&fieldCount, 0, &same), 3);
  ASSERT_EQ(db_->FirstRecord(), 1);
  EXPECT_EQ(db_->SetField(1, nullptr), dbErrUnknown);
  ASSERT_EQ(db_->AddRecord(), 4);
  EXPECT_EQ(db_->SetField(0, nullptr), dbErrUnknown);
  EXPECT_EQ(db_->GetRecordIndex(), 4);
  EXPECT_INVARIANTS(db_);
  EXPECT_EQ(dbtest::Dump(db_), "a0|a1|a2\nb0|b1|b2\nc0|c1|c2\n<absent>|<absent>|<absent>\n");
}

TEST_F(FieldsTest, LastIndexIsValidAndZeroFieldsHaveNone) {
  ASSERT_EQ(db_->LastRecord(), 3);
  EXPECT_EQ(dbtest::Field(db_, 2), "c2");
  EXPECT_EQ(db_->SetField(2, "z"), dbOK);
  EXPECT_EQ(dbtest::Field(db_, 2), "z");
  ASSERT_EQ(db_->NewTable(0), dbOK);
  ASSERT_EQ(db_->AddRecord(), 1);
  for (const int index : {-1, 0, 1}) {
    EXPECT_EQ(db_->GetField(index, nullptr, 0), dbErrNoSuchField) << index;
    EXPECT_EQ(db_->SetField(index, "x"), dbErrNoSuchField) << index;
  }
}

// Drives GetField on field index of the current record through the size edges for text.
void ExpectFieldOut(TMainDB* db, int index, const std::string& text) {
  const std::size_t n = text.size();
  const std::string untouched(n + 16, kUntouched);
  std::string buffer = untouched;
  EXPECT_EQ(db->GetField(index, buffer.data(), 0), static_cast<int>(n));
  EXPECT_EQ(buffer, untouched);
  EXPECT_EQ(db->GetField(index, nullptr, static_cast<unsigned>(n + 1)), static_cast<int>(n));
  if (n > 0) {
    EXPECT_EQ(db->GetField(index, buffer.data(), static_cast<unsigned>(n)), static_cast<int>(n));
    EXPECT_EQ(buffer, '\0' + untouched.substr(1));
  }
  buffer = untouched;
  EXPECT_EQ(db->GetField(index, buffer.data(), static_cast<unsigned>(n + 1)), 0);
  EXPECT_EQ(buffer, text + '\0' + untouched.substr(n + 1));
}

// Field texts are bytes: nothing is refused, interpreted or converted on the way in or out. Each
// SetField replaces the text before it and touches no other field; the cursor stays.
TEST_F(FieldsTest, AnyTextStoredUnchanged) {
  const std::string texts[] = {"0123456789", "abc",
                               "",           ";",
                               "a;b;c",      "line\r\nbreak",
                               "\n",         "\r",
                               "\"quoted\"", "\xE4\xF6\xFC\xDF\x80\x81\xFF",
                               "\x01\x7F",   std::string(5000, 'L')};
  ASSERT_EQ(db_->FirstRecord(), 1);
  ASSERT_EQ(db_->NextRecord(), 2);
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.substr(0, 20));
    std::string host = text;
    ASSERT_EQ(db_->SetField(1, host.c_str()), dbOK);
    host.assign(host.size(), 'Q');  // the host's own memory, not the stored text
    EXPECT_EQ(dbtest::Field(db_, 1), text);
    ExpectFieldOut(db_, 1, text);
    EXPECT_EQ(db_->GetRecordIndex(), 2);
  }
  ASSERT_EQ(db_->SetField(1, "x;y\r\nz\xE4"), dbOK);
  EXPECT_INVARIANTS(db_);
  EXPECT_EQ(dbtest::Dump(db_), "a0|a1|a2\nb0|x;y\r\nz\xE4|b2\nc0|c1|c2\n");
  // The writer takes the text as it is, delimiter and line break included.
  EXPECT_EQ(db_->SaveFile(), 3);
  EXPECT_EQ(dbtest::ReadBytes(dir_.File("input.csv")),
            "a0;a1;a2\r\nb0;x;y\r\nz\xE4;b2\r\nc0;c1;c2\r\n");
}

// An absent field holds no text; the empty text is a text. SetField makes either one a text.
TEST(FieldsEmptyTest, EmptyTextIsNotAbsent) {
  TempDir dir;
  TDatenbank* db = dbtest::NewTable();
  // Short lines leave trailing fields absent; an empty last field of the unterminated last line is
  // absent, in a terminated line it is the empty text.
  ASSERT_EQ(dbtest::LoadBytes(db, dir, "a;;c\nd\ne;\nf;"), 4);
  EXPECT_EQ(dbtest::Dump(db), "a||c\nd|<absent>|<absent>\ne||<absent>\nf|<absent>|<absent>\n");
  ASSERT_EQ(db->FirstRecord(), 1);
  char buffer[4] = "xxx";
  EXPECT_EQ(db->GetField(1, buffer, sizeof(buffer)), 0);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], 'x');
  EXPECT_EQ(db->GetField(1, buffer, 0), 0);
  ASSERT_EQ(db->NextRecord(), 2);
  std::memcpy(buffer, "xxx", 4);
  EXPECT_EQ(db->GetField(1, buffer, sizeof(buffer)), dbErrFieldEmpty);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(db->GetField(1, buffer, 0), dbErrFieldEmpty);
  EXPECT_EQ(db->SetField(1, ""), dbOK);
  EXPECT_EQ(db->GetField(1, buffer, 1), 0);
  EXPECT_EQ(db->SetField(2, "set"), dbOK);

  ASSERT_EQ(db->AddRecord(), 5);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(db->GetField(i, buffer, sizeof(buffer)), dbErrFieldEmpty) << i;
  }
  EXPECT_EQ(db->SetField(0, ""), dbOK);
  EXPECT_INVARIANTS(db);
  EXPECT_EQ(dbtest::Dump(db),
            "a||c\nd||set\ne||<absent>\nf|<absent>|<absent>\n|<absent>|<absent>\n");
}

// Checks one field of the current record against text through buffers of several sizes, each
// prefilled: a text that fits comes out with its NUL and every later byte of the buffer as it was;
// one that does not leaves only the leading NUL.
void ExpectExactOut(TMainDB* db, int index, const std::string& text) {
  const std::size_t n = text.size();
  for (const std::size_t size : {n, n + 1, n + 2, std::size_t{15}, std::size_t{16}, std::size_t{17},
                                 n + 16, std::size_t{64}}) {
    if (size == 0) {
      continue;
    }
    SCOPED_TRACE("length " + std::to_string(n) + ", size " + std::to_string(size));
    std::string buffer(size + 8, kUntouched);
    const int result = db->GetField(index, buffer.data(), static_cast<unsigned>(size));
    if (n + 1 <= size) {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(buffer, text + '\0' + std::string(size + 7 - n, kUntouched));
    } else {
      EXPECT_EQ(result, static_cast<int>(n));
      EXPECT_EQ(buffer, '\0' + std::string(size + 7, kUntouched));
    }
  }
}

// Texts of every length around sixteen bytes, wherever they live (loaded, appended, set by
// SetField, the last bytes of a file with and without a line end), come out byte-exact.
TEST(FieldsOutTest, EveryLengthFromEveryPlaceIsExact) {
  std::vector<std::string> firsts;
  std::vector<std::string> seconds;
  std::string file;
  for (int n = 0; n <= 40; ++n) {
    std::string first;
    std::string second;
    for (int i = 0; i < n; ++i) {
      first += static_cast<char>(i % 2 == 0 ? 'a' + (n + i) % 26 : 0x80 + (n * 7 + i) % 128);
    }
    for (int i = 0; i < 41 - n; ++i) {
      second += static_cast<char>('A' + i % 26);
    }
    firsts.push_back(first);
    seconds.push_back(second);
    file += first + ";" + second + (n < 40 ? "\r\n" : "");
  }
  const int records = static_cast<int>(firsts.size());
  for (const bool lineEnd : {false, true}) {
    SCOPED_TRACE(lineEnd ? "file ends with CR LF" : "file ends inside its last field");
    TempDir dir;
    TDatenbank* db = dbtest::NewTable();
    ASSERT_EQ(dbtest::LoadBytes(db, dir, lineEnd ? file + "\r\n" : file), records);
    int fieldCount = 0;
    DB_BOOL same = 0;
    ASSERT_EQ(db->AppendFile(&fieldCount, 0, &same), records);
    int position = db->FirstRecord();
    for (int r = 0; r < 2 * records; ++r, position = db->NextRecord()) {
      ASSERT_EQ(position, r + 1);
      ExpectExactOut(db, 0, firsts[r % records]);
      ExpectExactOut(db, 1, seconds[r % records]);
    }
    ASSERT_EQ(db->FirstRecord(), 1);
    for (int r = 0; r < records; ++r, db->NextRecord()) {
      const std::string& text = seconds[records - 1 - r];
      ASSERT_EQ(db->SetField(0, text.c_str()), dbOK);
      ExpectExactOut(db, 0, text);
    }
    EXPECT_INVARIANTS(db);
  }
}

}  // namespace
