// The rows of the window's list view: a table model over plain byte strings,
// so a list of tens of thousands of rows stays fast and every cell reads back
// exactly as it was written.
#pragma once

#include <QAbstractTableModel>

#include <string>
#include <vector>

#include "platform/ui.h"
#include "platform/window_layout.h"

namespace quillon::platform::qt {

class ListModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit ListModel(const std::vector<Column>& columns, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  int Rows() const { return static_cast<int>(rows_.size()); }
  int Columns() const { return static_cast<int>(titles_.size()); }
  // Out-of-range rows and columns are ignored.
  void SetCell(int row, int column, const std::string& text);
  // Empty for a row or column that does not exist.
  std::string Cell(int row, int column) const;
  // Every row replaced at once (a row's cells beyond the columns are not shown).
  void ReplaceRows(ListRows rows);
  // Appends a filled row; when `numberColumn` is a column, that cell gets the
  // row count after the append.
  void AppendFilledRow(Row cells, int numberColumn);
  // Appends rows as they are, in one step.
  void AppendRows(ListRows rows);

 private:
  bool Valid(int row, int column) const;

  std::vector<QString> titles_;
  ListRows rows_;
};

}  // namespace quillon::platform::qt
