// The aligned table of "show": record numbers, one column per field, absent fields marked, long
// texts cut to fit the width.
#ifndef DATENBANK_TOOL_RENDER_H
#define DATENBANK_TOOL_RENDER_H

#include <ostream>
#include <string>
#include <vector>

namespace datenbank_tool {

// A text as the table prints it and the terminal columns it takes: one per character in UTF-8,
// one per byte when bytes is set and the output is Windows-1252. No character the tool prints is
// wide or combining: all come from Windows-1252.
struct Shown {
  std::string text;
  int width = 0;
};

// A field's text for the table: UTF-8 (or the bytes unchanged when bytes is set), with a control
// byte written as an escape (\t for a tab, \xNN otherwise) so that it cannot break a row. In UTF-8
// the five undefined bytes of the code page, which become C1 controls, are escaped too.
Shown DisplayText(const std::string& cp1252, bool bytes);

// A text the tool prints as it is (a marker), measured in the output's encoding.
Shown PlainText(const std::string& text, bool bytes);

struct Cell {
  bool absent = false;
  Shown shown;
};

struct Row {
  int record = 0;
  std::vector<Cell> cells;
};

struct TableStyle {
  int width = 0;       // columns available; 0 for no limit
  bool bytes = false;  // the output is Windows-1252, one column per byte
  Shown absentMarker;
  Shown cutMarker;
  bool dimAbsent = false;  // the terminal takes SGR escapes
};

// Prints header, rule and rows. Columns are shrunk, widest first, until the table fits; a text
// longer than its column ends in the cut marker. When even the narrowest columns do not fit, the
// trailing fields are left out. Returns the number of fields shown.
int RenderTable(std::ostream& out, const std::vector<Row>& rows, int fieldCount,
                const TableStyle& style);

}  // namespace datenbank_tool

#endif
