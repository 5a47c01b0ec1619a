// A per-cell grid of the map, indexed [column][row].
#pragma once

#include <cstddef>
#include <vector>

// Reads outside the grid give the fallback and writes there do nothing: positions come from the
// network and movement probes step past the edges.
template <class T>
class Grid {
 public:
  void reset(int columns, int rows, T fill = T{}) {
    columns_ = columns < 1 ? 1 : columns;
    rows_ = rows < 1 ? 1 : rows;
    cells_.assign(static_cast<size_t>(columns_) * static_cast<size_t>(rows_), fill);
  }
  bool inside(int column, int row) const {
    return column >= 0 && row >= 0 && column < columns_ && row < rows_;
  }
  T get(int column, int row, T fallback = T{}) const {
    return inside(column, row) ? cells_[index(column, row)] : fallback;
  }
  void set(int column, int row, T value) {
    if (inside(column, row)) cells_[index(column, row)] = value;
  }
  int columns() const { return columns_; }
  int rows() const { return rows_; }

 private:
  size_t index(int column, int row) const {
    return static_cast<size_t>(column) * static_cast<size_t>(rows_) + static_cast<size_t>(row);
  }
  int columns_ = 1, rows_ = 1;
  std::vector<T> cells_ = std::vector<T>(1);
};
