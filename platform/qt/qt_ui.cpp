#include "platform/qt/qt_ui.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/qt/list_model.h"
#include "platform/qt/qt_window.h"
#include "platform/qt/texts.h"

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace quillon::platform::qt {

namespace {

// A function queued for the window thread's event loop. Qt hands the event
// from thread to thread under locks of its own, which ThreadSanitizer does
// not see (Qt is not built with it); in that build the two annotations tell
// it what the queue guarantees: all that the posting thread did before the
// post happens before the event is handled or dropped.
class FunctionEvent final : public QEvent {
 public:
  static constexpr QEvent::Type kType = QEvent::User;
  explicit FunctionEvent(std::function<void()> fn) : QEvent(kType), fn_(std::move(fn)) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(this);
#endif
  }
  ~FunctionEvent() override { Received(this); }
  void Run() { fn_(); }
  static void Received([[maybe_unused]] QEvent* e) {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(e);
#endif
  }

 private:
  std::function<void()> fn_;
};

// Receives the functions queued for the window thread; lives there.
class Agent final : public QObject {
 public:
  bool event(QEvent* e) override {
    FunctionEvent::Received(e);
    if (e->type() != FunctionEvent::kType) return QObject::event(e);
    static_cast<FunctionEvent*>(e)->Run();
    return true;
  }
};

// The browse dialog. With files included it gives the file OR the folder
// that is selected (or typed) when the user accepts, like the shell's browse
// dialog; a double click on a folder still opens it.
class PathDialog final : public QFileDialog {
 public:
  PathDialog(const QString& title, bool includeFiles) : QFileDialog(nullptr, title), includeFiles_(includeFiles) {
    setOption(QFileDialog::DontUseNativeDialog);
    setAcceptMode(QFileDialog::AcceptOpen);
    if (includeFiles) {
      setFileMode(QFileDialog::AnyFile);
    } else {
      setFileMode(QFileDialog::Directory);
      setOption(QFileDialog::ShowDirsOnly);
    }
    setDirectory(QDir::homePath());
    setWindowModality(Qt::ApplicationModal);
  }

  QString chosen() const { return chosen_; }

  void accept() override {
    if (!includeFiles_) {
      QFileDialog::accept();
      if (result() == QDialog::Accepted && !selectedFiles().isEmpty()) chosen_ = selectedFiles().front();
      return;
    }
    const QStringList selected = selectedFiles();
    const QString path = selected.isEmpty() || selected.front().isEmpty() ? directory().absolutePath()
                                                                          : selected.front();
    const QFileInfo info(path);
    if (!info.exists()) return;  // a typed name that names nothing: the dialog stays
    chosen_ = info.absoluteFilePath();
    QDialog::accept();
  }

 private:
  bool includeFiles_;
  QString chosen_;
};

// Buttons of a message box style with the result each gives, and the result
// of Esc and the close box. The program asks with OK, or OK and Cancel.
struct BoxButton {
  const char* text;
  int result;
  QMessageBox::ButtonRole role;
};

struct BoxStyle {
  std::vector<BoxButton> buttons;
  int escapeResult;
};

BoxStyle StyleOf(int style) {
  const BoxButton ok{"确定", AnswerOk, QMessageBox::AcceptRole};
  if ((style & 0xF) == AskOkCancel) return {{ok, {"取消", AnswerCancel, QMessageBox::RejectRole}}, AnswerCancel};
  return {{ok}, AnswerOk};
}

}  // namespace

QtUi::QtUi(WindowLayout layout) : ThreadedUi(std::move(layout)), agent_(std::make_unique<Agent>()) {
  for (const auto& c : layout_.controls) {
    if (c.kind == ControlKind::MenuItem || c.kind == ControlKind::Menu) menuCaptions_[c.id] = c.caption;
  }
  quit_ = [](int code) { QCoreApplication::exit(code); };
  auto* w = new QtWindow(layout_, *this);
  window_ = w;
  exists_ = true;
  QObject::connect(w, &QObject::destroyed, agent_.get(), [this] { exists_ = false; });
}

QtUi::~QtUi() {
  exists_ = false;
  delete window_.data();
  agent_.reset();  // drops calls still queued for the window thread
}

void QtUi::Shutdown() {
  loopEnded_ = true;
  exists_ = false;
  delete window_.data();
}

QtWindow* QtUi::window() const { return window_.data(); }

QWidget* QtUi::widget(ControlId c) const { return window_ ? window_->widget(c) : nullptr; }

bool QtUi::OnWindowThread() const { return QThread::currentThread() == agent_->thread(); }

void QtUi::Show() {
  if (!window_) return;
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect g = screen->geometry();
    window_->move(g.x() + (g.width() - layout_.outerWidth) / 2, g.y() + (g.height() - layout_.outerHeight) / 2);
  }
  window_->show();
  if (!createdQueued_) {
    createdQueued_ = true;
    Enqueue([this] {
      if (window_) Dispatch(layout_.mainWindow, Event::Created);
    });
  }
}

bool QtUi::Enqueue(std::function<void()> fn) {
  if (loopEnded_) return false;
  QCoreApplication::postEvent(agent_.get(), new FunctionEvent(std::move(fn)));
  return true;
}

void QtUi::PumpFor(int ms) {
  QElapsedTimer elapsed;
  elapsed.start();
  // The timer only wakes the wait below, so it never sleeps past the end.
  QTimer wake;
  wake.setTimerType(Qt::PreciseTimer);
  wake.start(std::min(ms, 20));
  while (elapsed.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
}

void QtUi::CloseHere(int exitCode) {
  if (window_) {
    window_->SetEnding();
    window_->hide();
    window_->deleteLater();
  }
  if (quit_) quit_(exitCode);
}

// ---- controls ---------------------------------------------------------------

std::string QtUi::ReadHere(ControlId c) {
  if (c == layout_.mainWindow) return window_->windowTitle().toStdString();
  if (auto it = menuCaptions_.find(c); it != menuCaptions_.end()) return it->second;
  QWidget* w = window_->widget(c);
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text().toStdString();
  if (auto* b = qobject_cast<QComboBox*>(w)) return b->currentText().toStdString();
  if (auto* r = qobject_cast<QPlainTextEdit*>(w)) return ToCrLf(r->toPlainText());
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text().toStdString();
  if (auto* p = qobject_cast<QAbstractButton*>(w)) return p->text().toStdString();
  if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title().toStdString();
  return {};
}

void QtUi::WriteHere(ControlId c, const std::string& text) {
  if (c == layout_.mainWindow) {
    window_->setWindowTitle(Utf8(text));
    return;
  }
  if (auto it = menuCaptions_.find(c); it != menuCaptions_.end()) {
    it->second = text;
    return;
  }
  QWidget* w = window_->widget(c);
  if (auto* e = qobject_cast<QLineEdit*>(w)) {
    e->setText(Utf8(text));
  } else if (auto* b = qobject_cast<QComboBox*>(w)) {
    b->setEditText(Utf8(text));
  } else if (auto* r = qobject_cast<QPlainTextEdit*>(w)) {
    r->setPlainText(FromCrLf(text));
  } else if (auto* l = qobject_cast<QLabel*>(w)) {
    l->setText(Utf8(text));
  } else if (auto* p = qobject_cast<QAbstractButton*>(w)) {
    p->setText(Utf8(text));
  } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
    g->setTitle(Utf8(text));
  }
}

void QtUi::SetVisibleHere(ControlId c, bool visible) {
  QWidget* w = window_->widget(c);
  if (w == nullptr) return;
  w->setVisible(visible);
  // A panel that is shown lies above the home page's controls.
  if (visible) w->raise();
}

bool QtUi::IsVisibleHere(ControlId c) {
  if (c == layout_.mainWindow) return window_->isVisible();
  QWidget* w = window_->widget(c);
  // Visible as far as the window is concerned: its own flag and that of
  // every group box it lies on.
  return w != nullptr && w->isVisibleTo(window_.data());
}

int QtUi::AddItemHere(ControlId c, const std::string& text, int value) {
  auto* combo = qobject_cast<QComboBox*>(window_->widget(c));
  if (combo == nullptr) return -1;
  // Adding the first item makes it current in Qt, which would replace the
  // edit text; a Windows combo box keeps its text.
  const QString keep = combo->currentText();
  const int before = combo->count();
  combo->addItem(Utf8(text), value);
  if (combo->count() != before + 1) return -1;
  if (combo->currentText() != keep) combo->setEditText(keep);
  return before;
}

// ---- list view ----------------------------------------------------------------

void QtUi::SetCellHere(int row, int column, const std::string& text) { window_->listModel()->SetCell(row, column, text); }
std::string QtUi::CellHere(int row, int column) { return window_->listModel()->Cell(row, column); }
int QtUi::RowCountHere() { return window_->listModel()->Rows(); }
void QtUi::ReplaceRowsHere(ListRows rows) { window_->listModel()->ReplaceRows(std::move(rows)); }
void QtUi::AppendFilledRowHere(Row cells, int numberColumn) {
  window_->listModel()->AppendFilledRow(std::move(cells), numberColumn);
}

int QtUi::SelectedRowHere() {
  const QModelIndexList rows = window_->listView()->selectionModel()->selectedRows();
  int first = -1;
  for (const QModelIndex& i : rows) {
    if (first < 0 || i.row() < first) first = i.row();
  }
  return first;
}

void QtUi::AppendRowsHere(ListRows rows) { window_->listModel()->AppendRows(std::move(rows)); }

// ---- dialogs and the shell ------------------------------------------------------

int QtUi::AskHere(const std::string& text, int style, const std::string& caption) {
  const BoxStyle kind = StyleOf(style);
  QMessageBox box;
  box.setWindowTitle(Utf8(caption));
  box.setTextFormat(Qt::PlainText);
  box.setText(FromCrLf(text));
  box.setIcon(QMessageBox::NoIcon);
  box.setWindowModality(Qt::ApplicationModal);
  std::map<QAbstractButton*, int> results;
  QAbstractButton* escape = nullptr;
  for (const BoxButton& b : kind.buttons) {
    QPushButton* button = box.addButton(QString::fromUtf8(b.text), b.role);
    results[button] = b.result;
    if (b.result == kind.escapeResult) escape = button;
    if (results.size() == 1) box.setDefaultButton(button);
  }
  box.setEscapeButton(escape);
  box.exec();
  auto it = results.find(box.clickedButton());
  return it != results.end() ? it->second : kind.escapeResult;
}

std::string QtUi::BrowseHere(const std::string& title, bool includeFiles) {
  PathDialog dialog(Utf8(title), includeFiles);
  if (dialog.exec() != QDialog::Accepted) return {};
  const QString path = dialog.chosen();
  return path.isEmpty() ? std::string() : QDir::toNativeSeparators(path).toStdString();
}

void QtUi::PopupHere(ControlId menu) {
  ++popupCount_;
  QMenu popup(window_.data());
  for (const ControlLayout& c : layout_.controls) {
    if (c.kind != ControlKind::MenuItem || c.parent != menu) continue;
    QAction* action = popup.addAction(Utf8(menuCaptions_[c.id]));
    action->setData(c.id.value);
  }
  if (popup.isEmpty()) return;
  QAction* chosen = popup.exec(QCursor::pos() + QPoint(3, 3));
  if (chosen == nullptr) return;  // dismissed
  const ControlId item(chosen->data().toInt());
  // The item's event comes after the handler that opened the menu returns,
  // as the command of a Windows menu does.
  Enqueue([this, item] {
    if (window_) Dispatch(item, Event::Chosen);
  });
}

void QtUi::OpenUrlHere(const std::string& url) { QDesktopServices::openUrl(QUrl(Utf8(url))); }

std::uintptr_t QtUi::HandleHere() { return static_cast<std::uintptr_t>(window_->winId()); }

bool QtUi::EnableDropsHere(ControlId target) {
  if (window_->DropsEnabled()) return false;
  window_->EnableDrops(target);
  return true;
}

}  // namespace quillon::platform::qt
