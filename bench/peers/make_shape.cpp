// bench_make_shape --lines N --fields N --min L --max L --seed S --out PATH: writes one input file
// of bench/compare.sh. Every line holds the given number of fields, ';' between them and CR LF at
// its end; every field holds L random bytes, L drawn evenly from min to max. The bytes are
// printable ASCII and the blank, never ';' or '"', so no peer meets a quote and a save of the
// loaded table reproduces the file byte for byte.
//
// Prints the figures the comparison needs, the data model's memory floor among them: per record
// a node of three pointers and an array of one pointer per field, per field its text and a NUL.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "peer_common.h"

namespace {

struct Shape {
  unsigned long long lines = 0;
  unsigned long long fields = 0;
  int minLength = 0;
  int maxLength = 0;
  unsigned long long seed = 1;
  std::string out;
};

unsigned long long Number(const char* text) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (end == text || *end != '\0') {
    peer::Die("bench_make_shape", std::string("not a number: ") + text);
  }
  return value;
}

Shape ParseShape(int argc, char** argv) {
  Shape shape;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const char* value = argv[i + 1];
    if (option == "--lines") {
      shape.lines = Number(value);
    } else if (option == "--fields") {
      shape.fields = Number(value);
    } else if (option == "--min") {
      shape.minLength = static_cast<int>(Number(value));
    } else if (option == "--max") {
      shape.maxLength = static_cast<int>(Number(value));
    } else if (option == "--seed") {
      shape.seed = Number(value);
    } else if (option == "--out") {
      shape.out = value;
    } else {
      peer::Die("bench_make_shape", "unknown option " + option);
    }
  }
  if (argc % 2 != 1 || shape.lines == 0 || shape.fields == 0 || shape.minLength < 0 ||
      shape.maxLength < shape.minLength || shape.out.empty()) {
    peer::Die("bench_make_shape",
              "usage: bench_make_shape --lines N --fields N --min L --max L --seed S --out PATH");
  }
  return shape;
}

}  // namespace

int main(int argc, char** argv) {
  const Shape shape = ParseShape(argc, argv);
  std::string alphabet;
  for (int c = 0x20; c <= 0x7E; ++c) {
    if (c != ';' && c != '"') {
      alphabet += static_cast<char>(c);
    }
  }
  std::mt19937_64 random(shape.seed);
  std::uniform_int_distribution<int> length(shape.minLength, shape.maxLength);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);

  std::FILE* file = std::fopen(shape.out.c_str(), "wb");
  if (file == nullptr) {
    peer::Die("bench_make_shape", "cannot create " + shape.out);
  }
  std::uint64_t fileBytes = 0;
  std::uint64_t fieldBytes = 0;
  std::string block;
  constexpr std::size_t kBlock = std::size_t{1} << 22;
  block.reserve(kBlock + 4096);
  for (unsigned long long line = 0; line < shape.lines; ++line) {
    for (unsigned long long field = 0; field < shape.fields; ++field) {
      if (field > 0) {
        block += ';';
      }
      const int n = length(random);
      for (int k = 0; k < n; ++k) {
        block += alphabet[pick(random)];
      }
      fieldBytes += static_cast<std::uint64_t>(n);
    }
    block += "\r\n";
    if (block.size() >= kBlock) {
      fileBytes += std::fwrite(block.data(), 1, block.size(), file);
      block.clear();
    }
  }
  fileBytes += std::fwrite(block.data(), 1, block.size(), file);
  if (std::fclose(file) != 0) {
    peer::Die("bench_make_shape", "cannot write " + shape.out);
  }
  const std::uint64_t fieldCount = std::uint64_t{shape.lines} * shape.fields;
  const std::uint64_t floorBytes =
      std::uint64_t{shape.lines} * (3 + shape.fields) * sizeof(void*) + fieldBytes + fieldCount;
  std::printf("lines=%llu fields=%llu file_bytes=%llu field_bytes=%llu floor_bytes=%llu\n",
              shape.lines, shape.fields, static_cast<unsigned long long>(fileBytes),
              static_cast<unsigned long long>(fieldBytes),
              static_cast<unsigned long long>(floorBytes));
  return 0;
}
