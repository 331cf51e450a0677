// Helpers of the GUI tests: the application object, waiting for a condition,
// recording the window's events, simulated drags, answering message boxes.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui.h"
#include "app/controls.h"
#include "platform/window_layout.h"

class QWidget;

namespace quillon::gui_test {

// Runs the event loop until `done` holds or `ms` have passed; whether it holds.
bool WaitUntil(const std::function<bool()>& done, int ms = 5000);

// Waits until `done` holds or `ms` have passed without running the event
// loop, as a window thread that is busy elsewhere; whether it holds.
bool WaitWithoutEvents(const std::function<bool()>& done, int ms = 10000);

// Runs the event loop until every event posted to this thread before the
// call has been handled (a marker posted last has come through). What has
// not happened then was not queued.
void RunPosted();

struct Fired {
  platform::ControlId control;
  platform::Event event;
  std::string argument;
  bool operator==(const Fired&) const = default;
};

// Every event the window fires, in order. `closeAnswer` answers close queries;
// `onEvent` runs inside the sink (as a handler would).
struct Recorder {
  std::vector<Fired> events;
  bool closeAnswer = true;
  std::function<void(const Fired&)> onEvent;

  platform::EventSink Sink();
  int Count(platform::ControlId c, platform::Event e) const;
};

// Sends a drag of these files (absolute paths) over `target` and drops it;
// whether the drag was accepted.
bool DropFiles(QWidget* target, const QStringList& paths);

// Calls `act` on the active modal widget (or the active popup, for menus)
// from a timer until it returns true: once it has acted.
void WhenModal(const std::function<bool(QWidget*)>& act);
void WhenPopup(const std::function<bool(QWidget*)>& act);

// How a message box is answered.
enum class Answer {
  Return,         // the Enter key
  Escape,         // the Esc key
  CloseBox,       // the title bar's close box
  DefaultButton,  // a mouse click on the default button
};

// What a message box showed.
struct BoxSeen {
  std::string title;
  std::string text;
  int buttons = 0;
  bool icon = false;
  bool onAppThread = false;  // the box belongs to the application's (window) thread
};

// Answers the next message box that becomes modal, and records into `seen`
// (when given; it must outlive the box) what the box showed.
void AnswerNextBox(Answer how, BoxSeen* seen = nullptr);

}  // namespace quillon::gui_test
