// The main window built from the window description. Every control of the
// table becomes a widget at its table geometry (client coordinates of its
// parent: the window, or the group box that holds it). The window reports
// its events to its QtUi, which hands them to the program's event sink.
#pragma once

#include <QPointer>
#include <QWidget>

#include <map>
#include <memory>
#include <string>

#include "platform/window_layout.h"

class QTableView;

namespace quillon::platform::qt {

class ListModel;
class QtUi;

class QtWindow final : public QWidget {
  Q_OBJECT

 public:
  // Built by QtUi, which owns it.
  QtWindow(const WindowLayout& layout, QtUi& owner);
  ~QtWindow() override;

  const WindowLayout& layout() const { return layout_; }
  // The widget of a control, or nullptr for the window itself, components
  // and menu entries.
  QWidget* widget(ControlId c) const;
  QTableView* listView() const { return list_; }
  ListModel* listModel() const { return model_; }

  // Files dropped anywhere on the window reach the sink only after this.
  // `target` is the control whose FilesDropped event they fire.
  void EnableDrops(ControlId target);
  bool DropsEnabled() const { return dropsEnabled_; }

  // Set by EndProgram: the window then closes without asking.
  void SetEnding() { ending_ = true; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class DropCatcher;

  void Build();
  QWidget* MakeWidget(const ControlLayout& c, QWidget* parent);
  bool ListMouse(QEvent* event);
  bool DropEvent(QObject* watched, QEvent* event);

  const WindowLayout& layout_;
  QtUi& owner_;
  std::unique_ptr<DropCatcher> dropCatcher_;
  std::map<ControlId, QWidget*> widgets_;
  std::map<QObject*, ControlId> pressTargets_;  // combo boxes and their line edits
  QTableView* list_ = nullptr;
  ListModel* model_ = nullptr;
  bool dropsEnabled_ = false;
  ControlId dropTarget_;
  bool ending_ = false;
  bool leftPressed_ = false;
};

}  // namespace quillon::platform::qt
