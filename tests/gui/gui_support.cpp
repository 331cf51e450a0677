#include "tests/gui/gui_support.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <gtest/gtest.h>

#include <memory>

namespace quillon::gui_test {

bool WaitUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

bool WaitWithoutEvents(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void RunPosted() {
  // Posted events of one thread are handled in the order they were posted.
  auto through = std::make_shared<bool>(false);
  QMetaObject::invokeMethod(qApp, [through] { *through = true; }, Qt::QueuedConnection);
  EXPECT_TRUE(WaitUntil([&] { return *through; }, 10000));
}

platform::EventSink Recorder::Sink() {
  return [this](platform::ControlId c, platform::Event e, const std::string& arg) {
    events.push_back({c, e, arg});
    if (onEvent) onEvent(events.back());
    return e == platform::Event::CloseQuery ? closeAnswer : true;
  };
}

int Recorder::Count(platform::ControlId c, platform::Event e) const {
  int n = 0;
  for (const auto& f : events) n += (f.control == c && f.event == e) ? 1 : 0;
  return n;
}

bool DropFiles(QWidget* target, const QStringList& paths) {
  QMimeData mime;
  QList<QUrl> urls;
  for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
  mime.setUrls(urls);
  const QPoint at = target->rect().center();
  QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  if (!enter.isAccepted()) return false;
  QDragMoveEvent move(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &move);
  QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  return drop.isAccepted();
}

namespace {

void WhenWidget(const std::function<QWidget*()>& find, const std::function<bool(QWidget*)>& act) {
  auto* timer = new QTimer(qApp);
  auto started = std::make_shared<QElapsedTimer>();
  started->start();
  QObject::connect(timer, &QTimer::timeout, timer, [timer, find, act, started] {
    QWidget* w = find();
    if ((w != nullptr && act(w)) || started->elapsed() > 10000) {
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start(20);
}

}  // namespace

void WhenModal(const std::function<bool(QWidget*)>& act) {
  WhenWidget([] { return QApplication::activeModalWidget(); }, act);
}

void WhenPopup(const std::function<bool(QWidget*)>& act) {
  WhenWidget([] { return QApplication::activePopupWidget(); }, act);
}

void AnswerNextBox(Answer how, BoxSeen* seen) {
  WhenModal([how, seen](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (box == nullptr) return false;
    if (seen != nullptr) {
      seen->title = box->windowTitle().toStdString();
      seen->text = box->text().toStdString();
      seen->buttons = static_cast<int>(box->buttons().size());
      seen->icon = box->icon() != QMessageBox::NoIcon;
      seen->onAppThread = box->thread() == qApp->thread();
    }
    switch (how) {
      case Answer::Return:
        QTest::keyClick(box, Qt::Key_Return);
        break;
      case Answer::Escape:
        QTest::keyClick(box, Qt::Key_Escape);
        break;
      case Answer::CloseBox:
        box->close();
        break;
      case Answer::DefaultButton:
        if (box->defaultButton() == nullptr) {
          ADD_FAILURE() << "the box has no default button";
          box->close();  // the test goes on instead of hanging
        } else {
          QTest::mouseClick(box->defaultButton(), Qt::LeftButton);
        }
        break;
    }
    return true;
  });
}

}  // namespace quillon::gui_test

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
