// The fast code exists twice, portable and SSE2 (primitives/simd.h). Both are compiled on every x86
// build and must give the same answers: the primitives are compared on random blocks and texts,
// and tables made with either kernel set load, read and save the same random files alike. The
// portable set also runs wherever the selection says the processor has no SSE2.
#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "primitives/byte_scan.h"
#include "primitives/byte_scan_sse2.h"
#include "primitives/fingerprint.h"
#include "primitives/text_window.h"
#include "primitives/text_window_sse2.h"
#include "tests/support/faulty_allocator.h"
#include "tests/support/test_support.h"

namespace {

using dbtest::ScopedTable;
using dbtest::TempDir;

// Bytes that matter to the loader, often, among others; NUL too.
std::string RandomBytes(std::mt19937& random, std::size_t size) {
  static const char kAlphabet[] = "ab;\n\r\t\0\xE4|x";
  std::string bytes(size, 'a');
  for (char& byte : bytes) {
    byte = kAlphabet[random() % (sizeof kAlphabet - 1)];
  }
  return bytes;
}

// Where two long texts first differ; npos when they are equal.
std::size_t FirstDifference(const std::string& a, const std::string& b) {
  const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  return at.first == a.end() && at.second == b.end()
             ? std::string::npos
             : static_cast<std::size_t>(at.first - a.begin());
}

TEST(KernelsTest, ChoiceFollowsTheProcessor) {
  EXPECT_EQ(ChooseKernels(false), TKernelSet::kPortable);
  EXPECT_EQ(ChooseKernels(true), DB_SSE2_VARIANT ? TKernelSet::kSse2 : TKernelSet::kPortable);
  EXPECT_EQ(DefaultModuleEnv().kernels, ChooseKernels(ProcessorHasSse2()));
  // The object made for a processor without SSE2 runs the portable GetField.
  TModuleEnv env = dbtest::MakeEnv();
  env.kernels = ChooseKernels(false);
  ScopedTable chosen(env);
  EXPECT_EQ(dynamic_cast<TDatenbankSse2*>(chosen.get()), nullptr);
}

// The loader tells a file that changed between its passes by the fingerprint; each build takes
// one of the two, so both must notice a changed byte anywhere, and words that changed places.
TEST(KernelsTest, BothFingerprintsNoticeChangedBytes) {
  std::mt19937 random(11);
  const std::string block = RandomBytes(random, 100);
  for (auto* fingerprint : {&Fingerprint32, &Fingerprint64}) {
    const auto of = [fingerprint](const std::string& bytes) {
      return fingerprint(5, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    };
    for (const std::size_t size : {std::size_t{3}, std::size_t{17}, std::size_t{100}}) {
      const std::string original = block.substr(0, size);
      for (std::size_t at = 0; at < size; ++at) {
        std::string changed = original;
        changed[at] = static_cast<char>(changed[at] ^ (1 << (random() % 8)));
        EXPECT_NE(of(changed), of(original)) << "size " << size << ", byte " << at;
        std::string swapped = original;
        std::swap(swapped[at], swapped[(at + 4) % size]);
        if (swapped != original) {
          EXPECT_NE(of(swapped), of(original)) << "size " << size << ", swap at " << at;
        }
      }
    }
  }
}

#if DB_SSE2_VARIANT
TEST(KernelsTest, PrimitivesAgreeOnRandomBlocks) {
  std::mt19937 random(20261209);
  for (int round = 0; round < 500; ++round) {
    // Windows are read whole: every text below has 16 readable bytes after its start.
    const std::string block = RandomBytes(random, 64 + kTextWindow + random() % 64);
    const auto* bytes = reinterpret_cast<const unsigned char*>(block.data());
    const std::size_t scanned = block.size() - kTextWindow;
    const auto a = static_cast<unsigned char>(block[random() % block.size()]);
    const unsigned char c = random() % 2 == 0 ? a : ';';
    const portable::TByteScan slow(a, '\n', c);
    const sse2::TByteScan fast(a, '\n', c);
    for (std::size_t at = 0; at + kScanWidth <= scanned; ++at) {
      SCOPED_TRACE("round " + std::to_string(round) + ", offset " + std::to_string(at));
      EXPECT_EQ(slow.Find(bytes + at, bytes + scanned), fast.Find(bytes + at, bytes + scanned));
      EXPECT_EQ(slow.Hits(bytes + at), fast.Hits(bytes + at));
      std::uint32_t masks[4] = {};
      slow.Masks(bytes + at, &masks[0], &masks[1]);
      fast.Masks(bytes + at, &masks[2], &masks[3]);
      EXPECT_EQ(masks[0], masks[2]);
      EXPECT_EQ(masks[1], masks[3]);
      if (at + 4 * kScanWidth <= block.size()) {
        EXPECT_EQ(slow.AnyInFour(bytes + at), fast.AnyInFour(bytes + at));
      }
      const char* text = block.data() + at;
      EXPECT_EQ(portable::NulInWindow(text), sse2::NulInWindow(text));
      // A text whose NUL lies early enough that its last window is inside the block.
      const std::size_t nul = block.find('\0', at);
      if (nul < scanned) {
        const std::size_t length = nul - at;
        EXPECT_EQ(portable::StoredTextLength(text), length);
        EXPECT_EQ(sse2::StoredTextLength(text), length);
        std::string copied[2] = {std::string(length + 20, '#'), std::string(length + 20, '#')};
        portable::CopyStoredText(&copied[0][0], text, length);
        sse2::CopyStoredText(&copied[1][0], text, length);
        EXPECT_EQ(copied[0], copied[1]);
      }
      char copies[2][kTextWindow];
      EXPECT_EQ(portable::CopyWindow(copies[0], text), sse2::CopyWindow(copies[1], text));
      EXPECT_EQ(std::memcmp(copies[0], copies[1], kTextWindow), 0);
      // Buffers full of a marker: only the text and its NUL may change.
      const unsigned size = static_cast<unsigned>(kTextWindow - 2 + random() % 4);
      std::string buffers[2] = {std::string(size, '#'), std::string(size, '#')};
      EXPECT_EQ(portable::DeliverShortText(&buffers[0][0], size, text),
                sse2::DeliverShortText(&buffers[1][0], size, text));
      EXPECT_EQ(buffers[0], buffers[1]);
    }
  }
}

TEST(KernelsTest, BothKernelSetsLoadReadAndSaveAlike) {
  TempDir dir;
  std::mt19937 random(7);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    // Lines of short and long fields, so both the one-look and the long-field ways run.
    std::string bytes;
    while (bytes.size() < 40000) {
      const std::size_t run = random() % 8 == 0 ? 20 + random() % 300 : random() % 12;
      bytes += std::string(run, static_cast<char>('A' + random() % 26)) +
               RandomBytes(random, 1 + random() % 3);
    }
    dbtest::WriteBytes(dir.File("in.csv"), bytes);
    std::string dumps[2];
    std::string saved[2];
    int results[2][3] = {};
    const TKernelSet sets[2] = {TKernelSet::kPortable, TKernelSet::kSse2};
    for (int k = 0; k < 2; ++k) {
      TModuleEnv env =
          dbtest::MakeEnv(nullptr, nullptr, static_cast<std::uint32_t>(1000 + random() % 5000));
      env.kernels = sets[k];
      ScopedTable db(env);
      db->SetFileName(dir.File("in.csv").c_str());
      db->SetDelimiter(';');
      int fieldCount = 0;
      DB_BOOL same = 0;
      results[k][0] = db->LoadFile(&fieldCount, 0, &same);
      results[k][1] = fieldCount;
      results[k][2] = same;
      EXPECT_INVARIANTS(db.get());
      dumps[k] = dbtest::Dump(db.get());
      const std::string out = dir.File("out" + std::to_string(k) + ".csv");
      db->SetFileName(out.c_str());
      EXPECT_EQ(db->SaveFile(), results[k][0]);
      saved[k] = dbtest::ReadBytes(out);
    }
    EXPECT_EQ(std::memcmp(results[0], results[1], sizeof results[0]), 0);
    EXPECT_EQ(FirstDifference(dumps[0], dumps[1]), std::string::npos) << "in the records read";
    EXPECT_EQ(FirstDifference(saved[0], saved[1]), std::string::npos) << "in the bytes saved";
  }
}
#endif  // DB_SSE2_VARIANT

}  // namespace
