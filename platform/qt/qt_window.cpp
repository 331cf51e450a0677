#include "platform/qt/qt_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QUrl>

#include "platform/qt/list_model.h"
#include "platform/qt/qt_ui.h"
#include "platform/qt/texts.h"

namespace quillon::platform::qt {

namespace {

// The local file paths that a drag carries, in native form; empty when it
// carries none.
QStringList LocalPaths(const QMimeData* mime) {
  QStringList paths;
  if (mime == nullptr || !mime->hasUrls()) return paths;
  for (const QUrl& url : mime->urls()) {
    if (url.isLocalFile()) paths << QDir::toNativeSeparators(url.toLocalFile());
  }
  return paths;
}

}  // namespace

// Sees every event of the application first, so that a drop on any child of
// the window (even one that takes drops of its own, like an edit box) goes
// to the window's drop target.
class QtWindow::DropCatcher final : public QObject {
 public:
  explicit DropCatcher(QtWindow& window) : window_(window) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    // Only widgets get drags. The events of other objects pass unread; among
    // them are the functions that workers queue for the window thread, which
    // only their receiver may open first (it tells ThreadSanitizer that the
    // queue hands them over).
    if (!watched->isWidgetType()) return false;
    switch (event->type()) {
      case QEvent::DragEnter:
      case QEvent::DragMove:
      case QEvent::Drop:
        return window_.DropEvent(watched, event);
      default:
        return false;
    }
  }

 private:
  QtWindow& window_;
};

QtWindow::QtWindow(const WindowLayout& layout, QtUi& owner)
    : QWidget(nullptr), layout_(layout), owner_(owner), dropTarget_(layout.dropTarget) {
  // Fixed frame: title bar, system menu, close and minimise boxes, no
  // maximise box; the client area has the Windows layout's size.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFixedSize(layout_.clientWidth, layout_.clientHeight);
  setWindowTitle(Utf8(layout_.title));
  setWindowIcon(AppIcon());
  // The layout was made for a 9 pt system font; Chinese captions fit it.
  QFont f = font();
  f.setPointSize(9);
  setFont(f);
  Build();
  dropCatcher_ = std::make_unique<DropCatcher>(*this);
  qApp->installEventFilter(dropCatcher_.get());
}

QtWindow::~QtWindow() = default;

QWidget* QtWindow::widget(ControlId c) const {
  auto it = widgets_.find(c);
  return it == widgets_.end() ? nullptr : it->second;
}

void QtWindow::Build() {
  for (const ControlLayout& c : layout_.controls) {
    if (c.id == layout_.mainWindow) continue;
    QWidget* parent = c.parent == layout_.mainWindow ? this : widget(c.parent);
    if (parent == nullptr) continue;  // components, the menu and its items have no widget
    QWidget* w = MakeWidget(c, parent);
    if (w == nullptr) continue;
    w->setObjectName(QString::fromUtf8(c.name.data(), static_cast<qsizetype>(c.name.size())));
    w->setGeometry(c.left, c.top, c.width, c.height);
    w->setVisible(c.visible);
    widgets_[c.id] = w;
  }
}

QWidget* QtWindow::MakeWidget(const ControlLayout& c, QWidget* parent) {
  const ControlId name = c.id;
  switch (c.kind) {
    case ControlKind::ListView: {
      auto* view = new QTableView(parent);
      model_ = new ListModel(layout_.columns, view);
      view->setModel(model_);
      view->setSelectionBehavior(QAbstractItemView::SelectRows);
      view->setSelectionMode(QAbstractItemView::SingleSelection);
      view->setEditTriggers(QAbstractItemView::NoEditTriggers);
      view->setShowGrid(false);
      view->setWordWrap(false);
      view->setContextMenuPolicy(Qt::NoContextMenu);
      view->verticalHeader()->hide();
      view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
      view->verticalHeader()->setDefaultSectionSize(QFontMetrics(font()).height() + 6);
      view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
      view->horizontalHeader()->setHighlightSections(false);
      view->horizontalHeader()->setStretchLastSection(false);
      for (std::size_t i = 0; i < layout_.columns.size(); ++i) {
        view->setColumnWidth(static_cast<int>(i), layout_.columns[i].width);
      }
      view->viewport()->installEventFilter(this);
      list_ = view;
      return view;
    }
    case ControlKind::Label:
    case ControlKind::TransparentLabel: {
      auto* label = new QLabel(Utf8(c.caption), parent);
      label->setTextFormat(Qt::PlainText);
      label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
      return label;
    }
    case ControlKind::Button: {
      auto* button = new QPushButton(Utf8(c.caption), parent);
      button->setAutoDefault(false);
      connect(button, &QPushButton::clicked, this, [this, name] { owner_.Dispatch(name, Event::Clicked); });
      return button;
    }
    case ControlKind::EditBox: {
      auto* edit = new QLineEdit(Utf8(c.caption), parent);
      return edit;
    }
    case ControlKind::ComboBox: {
      auto* combo = new QComboBox(parent);
      combo->setEditable(true);
      // Items stay in the order they were added; Enter never adds one, and
      // typing is never completed from the items.
      combo->setInsertPolicy(QComboBox::NoInsert);
      combo->setCompleter(nullptr);
      combo->setEditText(Utf8(c.caption));
      // Only a pick by the user from the list; the program's own writes and
      // added items do not fire it.
      connect(combo, &QComboBox::activated, this, [this, name](int) { owner_.Dispatch(name, Event::ItemChosen); });
      combo->installEventFilter(this);
      pressTargets_[combo] = name;
      if (combo->lineEdit() != nullptr) {
        combo->lineEdit()->installEventFilter(this);
        pressTargets_[combo->lineEdit()] = name;
      }
      return combo;
    }
    case ControlKind::GroupBox: {
      auto* box = new QGroupBox(parent);
      box->setTitle(Utf8(c.caption));
      // A panel is opaque: it covers the list view under it.
      box->setAutoFillBackground(true);
      return box;
    }
    case ControlKind::RichEdit: {
      auto* edit = new QPlainTextEdit(parent);
      edit->setPlainText(FromCrLf(c.caption));
      return edit;
    }
    case ControlKind::Window:
    case ControlKind::DropTarget:
    case ControlKind::ScriptComponent:
    case ControlKind::Menu:
    case ControlKind::MenuItem:
      break;
  }
  return nullptr;
}

void QtWindow::EnableDrops(ControlId target) {
  dropTarget_ = target;
  dropsEnabled_ = true;
  setAcceptDrops(true);
}

void QtWindow::closeEvent(QCloseEvent* event) {
  if (ending_) {
    event->accept();
    return;
  }
  if (!owner_.Dispatch(layout_.mainWindow, Event::CloseQuery)) {
    event->ignore();
    return;
  }
  event->accept();
  // A close that the program allowed ends the program, also when its
  // handler did not end it itself.
  if (!ending_) owner_.EndProgram(0);
}

bool QtWindow::eventFilter(QObject* watched, QEvent* event) {
  if (list_ != nullptr && watched == list_->viewport()) {
    return ListMouse(event);
  }
  if (event->type() == QEvent::MouseButtonPress) {
    auto it = pressTargets_.find(watched);
    if (it != pressTargets_.end() && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
      owner_.Dispatch(it->second, Event::LeftButtonDown);
    }
  }
  return false;
}

// The list view's mouse, as a Windows list view has it: a left click fires
// after the row under the mouse became current; a right click first makes the
// row under the mouse current (a click beside the rows changes nothing) and
// then fires.
bool QtWindow::ListMouse(QEvent* event) {
  const QEvent::Type type = event->type();
  if (type == QEvent::ContextMenu) return true;
  if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease && type != QEvent::MouseButtonDblClick) {
    return false;
  }
  auto* mouse = static_cast<QMouseEvent*>(event);
  if (mouse->button() == Qt::RightButton) {
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) {
      const QModelIndex at = list_->indexAt(mouse->position().toPoint());
      if (at.isValid()) {
        list_->selectionModel()->setCurrentIndex(
            at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
      }
      list_->setFocus(Qt::MouseFocusReason);
    } else {
      owner_.Dispatch(layout_.listControl, Event::RightClick);
    }
    return true;
  }
  if (mouse->button() == Qt::LeftButton) {
    if (type == QEvent::MouseButtonPress) {
      leftPressed_ = true;
    } else if (type == QEvent::MouseButtonDblClick) {
      leftPressed_ = false;  // the second click of a double click is not another click
    } else if (leftPressed_) {
      leftPressed_ = false;
      owner_.Dispatch(layout_.listControl, Event::LeftClick);
    }
  }
  return false;
}

bool QtWindow::DropEvent(QObject* watched, QEvent* event) {
  if (!dropsEnabled_) return false;
  auto* target = qobject_cast<QWidget*>(watched);
  if (target == nullptr || (target != this && !isAncestorOf(target))) return false;
  auto* drop = static_cast<QDropEvent*>(event);  // the base of enter and move events too
  const QStringList paths = LocalPaths(drop->mimeData());
  if (paths.isEmpty()) return false;
  drop->setDropAction(Qt::CopyAction);
  drop->accept();
  if (event->type() != QEvent::Drop) return true;
  // One file: its path. Several: every path followed by CR LF.
  std::string text;
  if (paths.size() == 1) {
    text = paths.front().toStdString();
  } else {
    for (const QString& p : paths) text += p.toStdString() + "\r\n";
  }
  owner_.Dispatch(dropTarget_, Event::FilesDropped, text);
  return true;
}

}  // namespace quillon::platform::qt
