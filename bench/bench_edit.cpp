// datenbank_bench --mode edit: edits and cursor moves in rounds (see bench_edit.h).
#include "bench/bench_edit.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Texts of 1 to 24 bytes for SetField.
std::vector<std::string> EditTexts() {
  std::vector<std::string> texts;
  for (int length = 1; length <= 24; ++length) {
    std::string text;
    for (int i = 0; i < length; ++i) {
      text += static_cast<char>('a' + (length * 7 + i) % 26);
    }
    texts.push_back(text);
  }
  return texts;
}

}  // namespace

TEditFigures RunEdits(TMainDB* db, int records, int fieldCount, long rounds, long stepsPerRound,
                      long (*statusKb)(const char* key)) {
  TEditFigures figures;
  const std::vector<std::string> texts = EditTexts();
  std::vector<double> nsPerOperation;
  std::vector<long> rssKb;
  long operations = 0;
  long failures = 0;
  auto expect = [&failures](bool ok) { failures += ok ? 0 : 1; };
  for (long round = 0; round < rounds; ++round) {
    long roundOperations = 0;
    const auto start = Clock::now();
    for (long step = 0; step < stepsPerRound; ++step) {
      const long i = round * stepsPerRound + step;
      const std::string& text = texts[static_cast<std::size_t>(i) % texts.size()];
      const int field = static_cast<int>(i / 8 % fieldCount);
      switch (i % 8) {
        case 0:
          expect(db->FirstRecord() == 1);
          break;
        case 1:
          expect(db->NextRecord() > 0);
          break;
        case 2:
          expect(db->SetField(field, text.c_str()) == 0);
          break;
        case 3:
          expect(db->LastRecord() == records);
          break;
        case 4:
          expect(db->PriorRecord() == records - 1);
          break;
        case 5:
          expect(db->AddRecord() == records + 1);
          expect(db->SetField(0, text.c_str()) == 0);
          ++roundOperations;
          break;
        case 6:
          expect(db->FirstRecord() == 1);
          expect(db->DeleteRecord() == 1);  // the first record goes; its follower is current
          ++roundOperations;
          break;
        default:
          expect(db->SetField(fieldCount - 1 - field, text.c_str()) == 0);
          break;
      }
      ++roundOperations;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    figures.seconds += seconds;
    operations += roundOperations;
    nsPerOperation.push_back(seconds * 1e9 / static_cast<double>(roundOperations));
    rssKb.push_back(statusKb("VmRSS"));
  }
  if (failures > 0 || db->GetRecordCount() != records) {
    figures.problem = std::to_string(failures) + " operations gave an unexpected result; " +
                      std::to_string(db->GetRecordCount()) + " records";
    return figures;
  }
  std::printf(" edit_ops=%ld edit_first_ns=%.1f edit_last_ns=%.1f rss_first_kb=%ld rss_last_kb=%ld",
              operations, nsPerOperation.front(), nsPerOperation.back(), rssKb.front(),
              rssKb.back());
  return figures;
}
