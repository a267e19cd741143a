#include "tools/datenbank/render.h"

#include <algorithm>

#include "tools/datenbank/cp1252.h"

namespace datenbank_tool {

namespace {

constexpr int kGap = 2;  // spaces between columns

// The longest start of a shown text that takes at most count columns.
Shown Prefix(const std::string& text, int count, bool bytes) {
  if (bytes) {
    const std::size_t length = std::min(text.size(), static_cast<std::size_t>(count));
    return {text.substr(0, length), static_cast<int>(length)};
  }
  std::size_t position = 0;
  int width = 0;
  while (position < text.size()) {
    std::size_t next = position;
    char32_t character = 0;
    const int step = NextUtf8Character(text, next, character) ? CharacterWidth(character) : 1;
    if (next == position) {
      next = position + 1;
    }
    if (width + step > count) {
      break;
    }
    width += step;
    position = next;
  }
  return {text.substr(0, position), width};
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

Shown PlainText(const std::string& text, bool bytes) {
  if (bytes) {
    return {text, static_cast<int>(text.size())};
  }
  return {text, Prefix(text, 1 << 30, false).width};
}

TableLayout::TableLayout(std::vector<Shown> labels, std::vector<int> natural, int lastRecord,
                         const TableStyle& style)
    : style_(style), labels_(std::move(labels)) {
  numberWidth_ = std::max(1, static_cast<int>(std::to_string(lastRecord).size()));
  std::vector<int> minimum;
  for (std::size_t i = 0; i < natural.size(); ++i) {
    const int label = labels_[i].width;
    natural[i] = std::max(natural[i], label);
    minimum.push_back(
        std::min(natural[i], std::max(std::min(label, 4), style.cutMarker.width + 1)));
  }
  widths_ = natural;
  if (style.width <= 0 || natural.empty()) {
    return;
  }
  int needed = numberWidth_;
  for (const int width : natural) {
    needed += kGap + width;
  }
  if (needed <= style.width) {
    return;
  }
  // Leave out trailing columns until the narrowest fit; one column is always shown.
  std::size_t shown = natural.size();
  int narrowest = numberWidth_;
  for (const int width : minimum) {
    narrowest += kGap + width;
  }
  while (shown > 1 && narrowest > style.width) {
    --shown;
    narrowest -= kGap + minimum[shown];
  }
  natural.resize(shown);
  minimum.resize(shown);
  widths_ = FitWidths(natural, minimum, style.width - numberWidth_);
}

Shown TableLayout::Fitted(Shown shown, int width) const {
  if (shown.width <= width) {
    return shown;
  }
  if (style_.cutMarker.width > width) {
    return Prefix(shown.text, width, style_.mode.bytes);
  }
  Shown cut = Prefix(shown.text, width - style_.cutMarker.width, style_.mode.bytes);
  cut.text += style_.cutMarker.text;
  cut.width += style_.cutMarker.width;
  return cut;
}

// One printed line; the last cell is not padded, so no line ends in blanks. cells[0] is the
// record number's column.
void TableLayout::Line(std::string& out, const std::vector<Shown>& cells) const {
  int pending = 0;  // blanks owed before the next text
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const int width = i == 0 ? numberWidth_ : widths_[i - 1];
    if (i > 0) {
      pending += kGap;
    }
    if (!cells[i].text.empty()) {
      out.append(static_cast<std::size_t>(pending), ' ');
      out += cells[i].text;
      pending = 0;
    }
    pending += width - cells[i].width;
  }
  out += '\n';
}

void TableLayout::Header(std::string& out) const {
  std::vector<Shown> cells;
  cells.push_back(
      {std::string(static_cast<std::size_t>(numberWidth_ - 1), ' ') + "#", numberWidth_});
  for (std::size_t i = 0; i < widths_.size(); ++i) {
    cells.push_back(Fitted(labels_[i], widths_[i]));
  }
  Line(out, cells);
  cells.assign(1, {std::string(static_cast<std::size_t>(numberWidth_), '-'), numberWidth_});
  for (const int width : widths_) {
    cells.push_back({std::string(static_cast<std::size_t>(width), '-'), width});
  }
  Line(out, cells);
}

void TableLayout::Row(std::string& out, int record,
                      const std::vector<std::optional<std::string_view>>& cells) const {
  std::vector<Shown> shown;
  shown.reserve(widths_.size() + 1);
  const std::string number = std::to_string(record);
  shown.push_back(
      {std::string(static_cast<std::size_t>(numberWidth_) - number.size(), ' ') + number,
       numberWidth_});
  for (std::size_t i = 0; i < widths_.size(); ++i) {
    if (!cells[i].has_value()) {
      Shown marker = Fitted(style_.absentMarker, widths_[i]);
      if (style_.dimAbsent) {
        marker.text = "\x1b[2m" + marker.text + "\x1b[22m";
      }
      shown.push_back(std::move(marker));
      continue;
    }
    Shown cell;
    cell.width = AppendDisplay(cell.text, *cells[i], style_.mode);
    shown.push_back(Fitted(std::move(cell), widths_[i]));
  }
  Line(out, shown);
}

}  // namespace datenbank_tool
