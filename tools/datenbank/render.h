// The aligned table of "show": record numbers, one column per field, absent fields marked, long
// texts cut to fit the width. The table is written as it is walked: the caller measures every cell
// it will show in a first walk over the records, and the layout then writes row by row.
#ifndef DATENBANK_TOOL_RENDER_H
#define DATENBANK_TOOL_RENDER_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/datenbank/encoding.h"

namespace datenbank_tool {

// A text as the table prints it and the terminal columns it takes.
struct Shown {
  std::string text;
  int width = 0;
};

// A text the tool prints as it is (a marker, a column name), measured in the output's encoding.
Shown PlainText(const std::string& text, bool bytes);

struct TableStyle {
  int width = 0;  // columns available; 0 for no limit
  TextMode mode;  // how field texts are shown (mode.bytes: the output is the file's bytes)
  Shown absentMarker;
  Shown cutMarker;
  bool dimAbsent = false;  // the terminal takes SGR escapes
};

class TableLayout {
 public:
  // labels: each column's heading; natural: each column's widest cell (DisplayWidth, or the
  // absent marker's width); lastRecord: the highest record number shown. Columns are shrunk,
  // widest first, until the table fits the style's width; when even the narrowest do not fit,
  // the trailing columns are left out.
  TableLayout(std::vector<Shown> labels, std::vector<int> natural, int lastRecord,
              const TableStyle& style);

  // The number of columns shown, from the first.
  int ShownColumns() const { return static_cast<int>(widths_.size()); }

  // Appends the heading and the rule.
  void Header(std::string& out) const;
  // Appends one row: a text for each column shown (as stored in the file), or nothing for an
  // absent field.
  void Row(std::string& out, int record,
           const std::vector<std::optional<std::string_view>>& cells) const;

 private:
  void Line(std::string& out, const std::vector<Shown>& cells) const;
  Shown Fitted(Shown shown, int width) const;

  TableStyle style_;
  std::vector<Shown> labels_;
  std::vector<int> widths_;  // of the columns shown
  int numberWidth_ = 1;
};

}  // namespace datenbank_tool

#endif
