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
    const std::string_view cell = rows_.Cell(index.row(), index.column());
    return QString::fromUtf8(cell.data(), static_cast<qsizetype>(cell.size()));
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
  rows_.SetCell(row, column, text);
  const QModelIndex i = index(row, column);
  emit dataChanged(i, i, {Qt::DisplayRole});
}

std::string ListModel::Cell(int row, int column) const {
  return Valid(row, column) ? std::string(rows_.Cell(row, column)) : std::string();
}

void ListModel::ReplaceRows(ListRows rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

void ListModel::AppendFilledRow(Row cells, int numberColumn) {
  cells.resize(titles_.size());
  const int row = Rows();
  if (numberColumn >= 0 && numberColumn < Columns()) cells[numberColumn] = std::to_string(row + 1);
  beginInsertRows(QModelIndex(), row, row);
  rows_.Append(cells);
  endInsertRows();
}

void ListModel::AppendRows(ListRows rows) {
  if (rows.size() == 0) return;
  const int first = Rows();
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(rows.size()) - 1);
  rows_.Append(std::move(rows));
  endInsertRows();
}

}  // namespace quillon::platform::qt
