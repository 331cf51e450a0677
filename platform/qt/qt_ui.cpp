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
#include "platform/window_call.h"

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

// Buttons of a message box style (its low four bits) with the result each
// gives, and the result of Esc and the close box (-1: they do nothing).
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
  const BoxButton cancel{"取消", AnswerCancel, QMessageBox::RejectRole};
  const BoxButton abort{"中止(&A)", AnswerAbort, QMessageBox::RejectRole};
  const BoxButton retry{"重试(&R)", AnswerRetry, QMessageBox::AcceptRole};
  const BoxButton ignore{"忽略(&I)", AnswerIgnore, QMessageBox::AcceptRole};
  const BoxButton yes{"是(&Y)", AnswerYes, QMessageBox::YesRole};
  const BoxButton no{"否(&N)", AnswerNo, QMessageBox::NoRole};
  switch (style & 0xF) {
    case 1: return {{ok, cancel}, AnswerCancel};
    case 2: return {{abort, retry, ignore}, -1};
    case 3: return {{yes, no, cancel}, AnswerCancel};
    case 4: return {{yes, no}, -1};
    case 5: return {{retry, cancel}, AnswerCancel};
    default: return {{ok}, AnswerOk};
  }
}

}  // namespace

QtUi::QtUi(WindowSpec spec) : spec_(std::move(spec)), agent_(std::make_unique<Agent>()) {
  for (const auto& c : spec_.controls) {
    if (c.kind == ControlKind::MenuItem || c.kind == ControlKind::Menu) menuCaptions_[c.name] = c.caption;
  }
  quit_ = [](int code) { QCoreApplication::exit(code); };
  auto* w = new QtWindow(spec_, *this);
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

QWidget* QtUi::widget(Control c) const { return window_ ? window_->widget(c) : nullptr; }

bool QtUi::OnWindowThread() const { return QThread::currentThread() == agent_->thread(); }

void QtUi::Show() {
  if (!window_) return;
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect g = screen->geometry();
    window_->move(g.x() + (g.width() - spec_.outerWidth) / 2, g.y() + (g.height() - spec_.outerHeight) / 2);
  }
  window_->show();
  if (!createdQueued_) {
    createdQueued_ = true;
    Queue([this] {
      if (window_) Dispatch(spec_.mainWindow, Event::Created);
    });
  }
}

bool QtUi::Dispatch(Control c, Event e, const std::string& argument) {
  EventSink sink = sink_;  // the handler may replace the sink
  if (!sink) return true;
  return sink(c, e, argument);
}

// ---- threads ----------------------------------------------------------------

template <class R>
R QtUi::Call(std::function<R()> fn, R fallback) {
  if (OnWindowThread()) return window_ ? fn() : fallback;
  if (!exists_) return fallback;
  return CallOnWindowThread<R>(
      [this](std::function<void()> job) {
        Queue(std::move(job));
        return true;
      },
      exists_, [this, fn, fallback] { return window_ ? fn() : fallback; }, fallback, &callsWaiting_);
}

void QtUi::Async(std::function<void()> fn) {
  if (OnWindowThread()) {
    if (window_) fn();
    return;
  }
  if (!exists_) return;
  Queue([this, fn = std::move(fn)] {
    if (window_) fn();
  });
}

void QtUi::Post(std::function<void()> fn) {
  if (OnWindowThread()) {
    fn();
    return;
  }
  if (loopEnded_) return;
  Queue(std::move(fn));
}

void QtUi::Queue(std::function<void()> fn) {
  QCoreApplication::postEvent(agent_.get(), new FunctionEvent(std::move(fn)));
}

void QtUi::SetEventSink(EventSink sink) { sink_ = std::move(sink); }

void QtUi::SetCleanup(std::function<void()> cleanup) { cleanup_ = std::move(cleanup); }

// ---- controls ---------------------------------------------------------------

std::string QtUi::ReadHere(Control c) const {
  if (c == spec_.mainWindow) return window_->windowTitle().toStdString();
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

void QtUi::WriteHere(Control c, const std::string& text) {
  if (c == spec_.mainWindow) {
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

std::string QtUi::ReadControlText(Control c) {
  return Call<std::string>([this, c] { return ReadHere(c); }, std::string());
}

void QtUi::WriteControlText(Control c, const std::string& text) {
  Async([this, c, text] { WriteHere(c, text); });
}

void QtUi::SetVisibleHere(Control c, bool visible) {
  QWidget* w = window_->widget(c);
  if (w == nullptr) return;
  w->setVisible(visible);
  // A panel that is shown lies above the home page's controls.
  if (visible) w->raise();
}

void QtUi::SetVisible(Control c, bool visible) {
  Async([this, c, visible] { SetVisibleHere(c, visible); });
}

bool QtUi::IsVisible(Control c) {
  return Call<bool>([this, c] {
    if (c == spec_.mainWindow) return window_->isVisible();
    QWidget* w = window_->widget(c);
    // Visible as far as the window is concerned: its own flag and that of
    // every group box it lies on.
    return w != nullptr && w->isVisibleTo(window_.data());
  }, false);
}

int QtUi::ComboAddItem(Control c, const std::string& text, int value) {
  return Call<int>([this, c, text, value] {
    auto* combo = qobject_cast<QComboBox*>(window_->widget(c));
    if (combo == nullptr) return -1;
    // Adding the first item makes it current in Qt, which would replace
    // the edit text; a Windows combo box keeps its text.
    const QString keep = combo->currentText();
    const int before = combo->count();
    combo->addItem(Utf8(text), value);
    if (combo->count() != before + 1) return -1;
    if (combo->currentText() != keep) combo->setEditText(keep);
    return before;
  }, -1);
}

// ---- list view ----------------------------------------------------------------

void QtUi::ListClear(Control list) {
  if (!IsList(list)) return;
  Async([this] { window_->listModel()->Clear(); });
}

int QtUi::ListAppendRow(Control list) {
  if (!IsList(list)) return -1;
  return Call<int>([this] { return window_->listModel()->AppendRow(); }, -1);
}

void QtUi::ListSetCell(Control list, int row, int column, const std::string& text) {
  if (!IsList(list)) return;
  Async([this, row, column, text] { window_->listModel()->SetCell(row, column, text); });
}

std::string QtUi::ListGetCell(Control list, int row, int column) {
  if (!IsList(list)) return {};
  return Call<std::string>([this, row, column] { return window_->listModel()->Cell(row, column); },
                           std::string());
}

int QtUi::ListSelectedRow(Control list) {
  if (!IsList(list)) return -1;
  return Call<int>([this] {
    const QModelIndexList rows = window_->listView()->selectionModel()->selectedRows();
    int first = -1;
    for (const QModelIndex& i : rows) {
      if (first < 0 || i.row() < first) first = i.row();
    }
    return first;
  }, -1);
}

int QtUi::ListRowCount(Control list) {
  if (!IsList(list)) return 0;
  return Call<int>([this] { return window_->listModel()->Rows(); }, 0);
}

void QtUi::ListReplaceRows(Control list, std::vector<Row> rows) {
  if (!IsList(list)) return;
  auto shared = std::make_shared<std::vector<Row>>(std::move(rows));
  Async([this, shared] { window_->listModel()->ReplaceRows(std::move(*shared)); });
}

void QtUi::ListAppendFilledRow(Control list, Row cells, int numberColumn) {
  if (!IsList(list)) return;
  auto shared = std::make_shared<Row>(std::move(cells));
  Async([this, shared, numberColumn] { window_->listModel()->AppendFilledRow(std::move(*shared), numberColumn); });
}

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
  // Without an escape button a box with several buttons ignores Esc and
  // its close box, as a Windows box without Cancel does.
  if (escape != nullptr) box.setEscapeButton(escape);
  box.exec();
  auto it = results.find(box.clickedButton());
  if (it != results.end()) return it->second;
  return kind.escapeResult >= 0 ? kind.escapeResult : kind.buttons.front().result;
}

int QtUi::AskUser(const std::string& text, int style, const std::string& caption) {
  const int gone = (style & 0xF) == AskOkCancel ? AnswerCancel : AnswerOk;
  if (OnWindowThread()) return AskHere(text, style, caption);
  return Call<int>([this, text, style, caption] { return AskHere(text, style, caption); }, gone);
}

std::string QtUi::BrowseHere(const std::string& title, bool includeFiles) {
  PathDialog dialog(Utf8(title), includeFiles);
  if (dialog.exec() != QDialog::Accepted) return {};
  const QString path = dialog.chosen();
  return path.isEmpty() ? std::string() : QDir::toNativeSeparators(path).toStdString();
}

std::string QtUi::BrowseForPath(const std::string& title, bool includeFiles) {
  if (OnWindowThread()) return BrowseHere(title, includeFiles);
  return Call<std::string>([this, title, includeFiles] { return BrowseHere(title, includeFiles); }, std::string());
}

void QtUi::PopupHere(Control menu) {
  ++popupCount_;
  QMenu popup(window_.data());
  for (const ControlSpec& c : spec_.controls) {
    if (c.kind != ControlKind::MenuItem || c.parent != menu) continue;
    QAction* action = popup.addAction(Utf8(menuCaptions_[c.name]));
    action->setData(static_cast<int>(c.name));
  }
  if (popup.isEmpty()) return;
  QAction* chosen = popup.exec(QCursor::pos() + QPoint(3, 3));
  if (chosen == nullptr) return;  // dismissed
  const auto item = static_cast<Control>(chosen->data().toInt());
  // The item's event comes after the handler that opened the menu returns,
  // as the command of a Windows menu does.
  Queue([this, item] {
    if (window_) Dispatch(item, Event::Chosen);
  });
}

void QtUi::PopupMenu(Control menu) {
  Async([this, menu] { PopupHere(menu); });
}

void QtUi::OpenUrl(const std::string& url) {
  Post([url] { QDesktopServices::openUrl(QUrl(Utf8(url))); });
}

// ---- the program's life -----------------------------------------------------------

void QtUi::Delay(int ms) {
  if (ms <= 0) return;
  if (!OnWindowThread()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return;
  }
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

void QtUi::EndHere(int exitCode) {
  if (ended_) return;
  ended_ = true;
  if (cleanup_) cleanup_();
  exists_ = false;
  if (window_) {
    window_->SetEnding();
    window_->hide();
    window_->deleteLater();
  }
  if (quit_) quit_(exitCode);
}

void QtUi::EndProgram(int exitCode) {
  if (OnWindowThread()) {
    EndHere(exitCode);
    return;
  }
  Queue([this, exitCode] { EndHere(exitCode); });
}

std::uintptr_t QtUi::GetWindowHandle() {
  return Call<std::uintptr_t>([this]() -> std::uintptr_t {
    return ended_ ? 0 : static_cast<std::uintptr_t>(window_->winId());
  }, 0);
}

bool QtUi::RegisterDropTarget(Control dropTarget, std::uintptr_t) {
  return Call<bool>([this, dropTarget] {
    if (window_->DropsEnabled()) return false;
    window_->EnableDrops(dropTarget);
    return true;
  }, false);
}

}  // namespace quillon::platform::qt
