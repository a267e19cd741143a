#include "tools/datenbank/render.h"

#include <algorithm>

#include "tools/datenbank/cp1252.h"

namespace datenbank_tool {

namespace {

constexpr int kGap = 2;  // spaces between columns

// The first count characters of text (bytes when bytes is set).
std::string Prefix(const std::string& text, int count, bool bytes) {
  if (bytes) {
    return text.substr(0, static_cast<std::size_t>(count));
  }
  std::size_t position = 0;
  for (int i = 0; i < count && position < text.size(); ++i) {
    char32_t character = 0;
    if (!NextUtf8Character(text, position, character)) {
      ++position;
    }
  }
  return text.substr(0, position);
}

// What a cell shows, cut to width with the cut marker when longer.
Shown Fitted(const Cell& cell, int width, const TableStyle& style) {
  const Shown& shown = cell.absent ? style.absentMarker : cell.shown;
  if (shown.width <= width) {
    return shown;
  }
  if (style.cutMarker.width > width) {
    return {Prefix(shown.text, width, style.bytes), width};
  }
  const int keep = width - style.cutMarker.width;
  return {Prefix(shown.text, keep, style.bytes) + style.cutMarker.text, width};
}

// One printed line from its cells; the last cell is not padded, so no line ends in blanks.
void PrintLine(std::ostream& out, const std::vector<std::string>& texts,
               const std::vector<int>& shownWidths, const std::vector<int>& widths) {
  std::string line;
  int pending = 0;  // blanks owed before the next text
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) {
      pending += kGap;
    }
    if (!texts[i].empty()) {
      line.append(static_cast<std::size_t>(pending), ' ');
      line += texts[i];
      pending = 0;
    }
    pending += widths[i] - shownWidths[i];
  }
  out << line << '\n';
}

// Narrows the columns to fit the total width: the widest are capped first, and what is left of
// the width goes back to the capped columns from the left.
std::vector<int> FitWidths(const std::vector<int>& natural, const std::vector<int>& minimum,
                           int available) {
  const auto total = [&](int cap) {
    int sum = 0;
    for (std::size_t i = 0; i < natural.size(); ++i) {
      sum += kGap + std::max(minimum[i], std::min(natural[i], cap));
    }
    return sum;
  };
  int low = 0;
  int high = *std::max_element(natural.begin(), natural.end());
  while (low < high) {
    const int middle = low + (high - low + 1) / 2;
    if (total(middle) <= available) {
      low = middle;
    } else {
      high = middle - 1;
    }
  }
  std::vector<int> widths(natural.size());
  for (std::size_t i = 0; i < natural.size(); ++i) {
    widths[i] = std::max(minimum[i], std::min(natural[i], low));
  }
  int left = available - total(low);
  for (std::size_t i = 0; i < natural.size() && left > 0; ++i) {
    if (widths[i] < natural[i]) {
      ++widths[i];
      --left;
    }
  }
  return widths;
}

}  // namespace

Shown DisplayText(const std::string& cp1252, bool bytes) {
  Shown shown;
  shown.text.reserve(cp1252.size());
  for (const char c : cp1252) {
    const auto byte = static_cast<unsigned char>(c);
    const char32_t character = Cp1252Character(byte);
    const bool control =
        character < 0x20 || character == 0x7F || (character >= 0x80 && character < 0xA0 && !bytes);
    if (control) {
      const std::string escape = byte == '\t' ? std::string("\\t") : "\\x" + Hex(byte, 2);
      shown.text += escape;
      shown.width += static_cast<int>(escape.size());
    } else {
      shown.text += bytes ? std::string(1, c) : Utf8Of(character);
      ++shown.width;
    }
  }
  return shown;
}

Shown PlainText(const std::string& text, bool bytes) {
  Shown shown{text, 0};
  if (bytes) {
    shown.width = static_cast<int>(text.size());
    return shown;
  }
  std::size_t position = 0;
  while (position < text.size()) {
    char32_t character = 0;
    if (!NextUtf8Character(text, position, character)) {
      ++position;
    }
    ++shown.width;
  }
  return shown;
}

int RenderTable(std::ostream& out, const std::vector<Row>& rows, int fieldCount,
                const TableStyle& style) {
  const int lastRecord = rows.empty() ? 0 : rows.back().record;
  const int numberWidth = std::max(1, static_cast<int>(std::to_string(lastRecord).size()));
  std::vector<int> natural;
  std::vector<int> minimum;
  for (int i = 0; i < fieldCount; ++i) {
    const int header = static_cast<int>(std::to_string(i).size());
    int widest = header;
    for (const Row& row : rows) {
      const Cell& cell = row.cells[static_cast<std::size_t>(i)];
      widest = std::max(widest, (cell.absent ? style.absentMarker : cell.shown).width);
    }
    natural.push_back(widest);
    minimum.push_back(std::min(widest, std::max(header, style.cutMarker.width + 1)));
  }

  std::vector<int> widths = natural;
  int shown = fieldCount;
  if (style.width > 0) {
    int needed = numberWidth;
    for (const int width : natural) {
      needed += kGap + width;
    }
    if (needed > style.width) {
      // Leave out trailing fields until the narrowest columns fit; one field is always shown.
      int narrowest = numberWidth;
      for (int i = 0; i < fieldCount; ++i) {
        narrowest += kGap + minimum[static_cast<std::size_t>(i)];
      }
      while (shown > 1 && narrowest > style.width) {
        --shown;
        narrowest -= kGap + minimum[static_cast<std::size_t>(shown)];
      }
      natural.resize(static_cast<std::size_t>(shown));
      minimum.resize(static_cast<std::size_t>(shown));
      widths = shown > 0 ? FitWidths(natural, minimum, style.width - numberWidth) : natural;
    }
  }

  // Columns: the record number, right-aligned, then the fields.
  std::vector<int> columnWidths{numberWidth};
  columnWidths.insert(columnWidths.end(), widths.begin(), widths.end());
  std::vector<std::string> texts;
  std::vector<int> shownWidths;
  const auto start = [&](const std::string& number) {
    texts.assign(1,
                 std::string(static_cast<std::size_t>(numberWidth) - number.size(), ' ') + number);
    shownWidths.assign(1, numberWidth);
  };

  start("#");
  for (int i = 0; i < shown; ++i) {
    texts.push_back(std::to_string(i));
    shownWidths.push_back(static_cast<int>(texts.back().size()));
  }
  PrintLine(out, texts, shownWidths, columnWidths);
  texts.clear();
  for (const int width : columnWidths) {
    texts.emplace_back(static_cast<std::size_t>(width), '-');
  }
  PrintLine(out, texts, columnWidths, columnWidths);

  for (const Row& row : rows) {
    start(std::to_string(row.record));
    for (int i = 0; i < shown; ++i) {
      const Cell& cell = row.cells[static_cast<std::size_t>(i)];
      const Shown fitted = Fitted(cell, widths[static_cast<std::size_t>(i)], style);
      std::string text = fitted.text;
      if (cell.absent && style.dimAbsent) {
        text.insert(0, "\x1b[2m");
        text += "\x1b[22m";
      }
      texts.push_back(text);
      shownWidths.push_back(fitted.width);
    }
    PrintLine(out, texts, shownWidths, columnWidths);
  }
  return shown;
}

}  // namespace datenbank_tool
