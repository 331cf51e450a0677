// The rows of a list view as text cells, each row kept in one string (its
// cells one after the other, each ended by a NUL): a list of 100,000 rows
// costs one allocation a row, and moves from thread to thread in one piece.
// A cell holds no NUL (the stores never give one; one would end the cell).
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::platform {

using Row = std::vector<std::string>;

class ListRows {
 public:
  ListRows() = default;
  ListRows(const std::vector<Row>& rows) {  // NOLINT(google-explicit-constructor): a list from plain rows
    rows_.reserve(rows.size());
    for (const Row& r : rows) Append(r);
  }

  std::size_t size() const { return rows_.size(); }
  void reserve(std::size_t n) { rows_.reserve(n); }
  void Append(const Row& cells) { rows_.push_back(Joined(cells)); }
  // The same for cells that are not strings of their own.
  void Append(std::initializer_list<std::string_view> cells) { rows_.push_back(Joined(cells)); }
  // Moves every row of `more` to the end.
  void Append(ListRows&& more) {
    rows_.insert(rows_.end(), std::make_move_iterator(more.rows_.begin()), std::make_move_iterator(more.rows_.end()));
  }
  // The cell's text; empty for a cell the row does not have.
  std::string_view Cell(std::size_t row, std::size_t column) const {
    if (row >= rows_.size()) return {};
    std::string_view rest = rows_[row];
    for (; column > 0; --column) {
      const std::size_t end = rest.find('\0');
      if (end == std::string_view::npos) return {};
      rest.remove_prefix(end + 1);
    }
    return rest.substr(0, rest.find('\0'));
  }
  // Sets one cell (the row gets the cells it lacks before it).
  void SetCell(std::size_t row, std::size_t column, std::string_view text) {
    if (row >= rows_.size()) return;
    Row cells = At(row);
    if (cells.size() <= column) cells.resize(column + 1);
    cells[column] = std::string(text);
    rows_[row] = Joined(cells);
  }
  // The row's cells.
  Row At(std::size_t row) const {
    Row cells;
    if (row >= rows_.size()) return cells;
    std::string_view rest = rows_[row];
    for (std::size_t end; (end = rest.find('\0')) != std::string_view::npos; rest.remove_prefix(end + 1)) {
      cells.emplace_back(rest.substr(0, end));
    }
    return cells;
  }

 private:
  // The cells one after the other, each up to its first NUL and ended by
  // one, in one allocation.
  template <typename Cells>
  static std::string Joined(const Cells& cells) {
    std::size_t size = 0;
    for (const std::string_view c : cells) size += c.size() + 1;
    std::string row;
    row.reserve(size);
    for (const std::string_view c : cells) {
      row.append(c.substr(0, c.find('\0')));
      row.push_back('\0');
    }
    return row;
  }

  std::vector<std::string> rows_;
};

}  // namespace quillon::platform
