// The editing measurements of datenbank_bench --mode edit and --mode close.
#ifndef OVELT_BENCH_BENCH_EDIT_H
#define OVELT_BENCH_BENCH_EDIT_H

#include <string>

#include "datenbank.h"

// A mix of edits and cursor moves on a loaded table of records records, in rounds of the same
// number of operations; the time per operation of the first and the last round and the resident
// memory after each tell whether either grows as the edits pile up. Prints key=value pairs and
// returns the seconds of all rounds; an empty text when all went well, else what went wrong.
struct TEditFigures {
  double seconds = 0;
  std::string problem;
};
TEditFigures RunEdits(TMainDB* db, int records, int fieldCount, long rounds, long stepsPerRound,
                      long (*statusKb)(const char* key));

#endif  // OVELT_BENCH_BENCH_EDIT_H
