#include "platform/qt/list_model.h"

#include <utility>

namespace quillon::platform::qt {

ListModel::ListModel(const std::vector<Column>& columns, QObject* parent) : QAbstractTableModel(parent) {
  for (const auto& c : columns) titles_.push_back(QString::fromStdString(c.title));
}

int ListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Rows(); }

int ListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Columns(); }

QVariant ListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || !Valid(index.row(), index.column())) return {};
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
    return QString::fromStdString(rows_[index.row()][index.column()]);
  }
  return {};
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < Columns()) {
    return titles_[section];
  }
  return QAbstractTableModel::headerData(section, orientation, role);
}

bool ListModel::Valid(int row, int column) const {
  return row >= 0 && row < Rows() && column >= 0 && column < Columns();
}

void ListModel::SetCell(int row, int column, const std::string& text) {
  if (!Valid(row, column)) return;
  rows_[row][column] = text;
  const QModelIndex i = index(row, column);
  emit dataChanged(i, i, {Qt::DisplayRole});
}

std::string ListModel::Cell(int row, int column) const {
  return Valid(row, column) ? rows_[row][column] : std::string();
}

void ListModel::ReplaceRows(std::vector<Row> rows) {
  for (auto& r : rows) r.resize(titles_.size());
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

void ListModel::AppendFilledRow(Row cells, int numberColumn) {
  cells.resize(titles_.size());
  const int row = Rows();
  if (numberColumn >= 0 && numberColumn < Columns()) cells[numberColumn] = std::to_string(row + 1);
  beginInsertRows(QModelIndex(), row, row);
  rows_.push_back(std::move(cells));
  endInsertRows();
}

}  // namespace quillon::platform::qt
