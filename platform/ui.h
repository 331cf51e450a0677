// Port `Ui`: a window's controls by id and kind (edit boxes, combo boxes, a
// list view, labels, buttons, group boxes, a menu), message boxes, the
// browse dialog, the context menu, opening a URL, the drop target, Delay,
// WindowExists, EndProgram, and running code on the window thread. The
// window itself is described by a WindowLayout; the program names its
// controls.
//
// Threads: the window thread owns every control. A backend accepts calls from
// any thread: control writes from a worker are posted (asynchronous, in
// order); reads and message boxes from a worker are blocking calls to the
// window thread; the list operations ListReplaceRows and ListAppendFilledRow
// run on the window thread as one whole step each.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/list_rows.h"
#include "platform/window_layout.h"

namespace quillon::platform {

// Styles and results of AskUser.
enum AskStyle { AskOk = 0, AskOkCancel = 1 };
enum AskResult { AnswerOk = 0, AnswerCancel = 1, AnswerAbort = 2, AnswerRetry = 3, AnswerIgnore = 4, AnswerYes = 5, AnswerNo = 6 };

// The caption of a message box that names none.
inline constexpr char kDefaultCaption[] = "信息：";

// Receives every event of the window. For Event::CloseQuery the result says
// whether the window may close; for other events it is ignored. `argument`
// is the dropped path text for Event::FilesDropped and empty otherwise.
using EventSink = std::function<bool(ControlId control, Event event, const std::string& argument)>;

class Ui {
 public:
  virtual ~Ui() = default;

  virtual void SetEventSink(EventSink sink) = 0;

  // ---- Controls -------------------------------------------------------------
  virtual std::string ReadControlText(ControlId c) = 0;
  virtual void WriteControlText(ControlId c, const std::string& text) = 0;
  virtual void SetVisible(ControlId c, bool visible) = 0;
  virtual bool IsVisible(ControlId c) = 0;
  // Appends an item; its index, or -1 when the control refuses it.
  virtual int ComboAddItem(ControlId c, const std::string& text, int value = 0) = 0;

  // ---- List view ------------------------------------------------------------
  virtual void ListSetCell(ControlId list, int row, int column, const std::string& text) = 0;
  // Empty for a row or column that does not exist (row -1 included).
  virtual std::string ListGetCell(ControlId list, int row, int column) = 0;
  virtual int ListSelectedRow(ControlId list) = 0;
  virtual int ListRowCount(ControlId list) = 0;
  // Whole operations (never interleave with each other):
  // every row replaced at once,
  virtual void ListReplaceRows(ControlId list, ListRows rows) = 0;
  // one row appended; when `numberColumn` >= 0 that cell gets the row count
  // after the append, as decimal text,
  virtual void ListAppendFilledRow(ControlId list, Row cells, int numberColumn) = 0;
  // rows appended as they are.
  virtual void ListAppendRows(ControlId list, ListRows rows) = 0;

  // ---- Dialogs and the shell ------------------------------------------------
  // Message box; the index of the chosen button (AskResult). Esc and the
  // close box of an OK/Cancel box give AnswerCancel.
  virtual int AskUser(const std::string& text, int style, const std::string& caption = kDefaultCaption) = 0;
  // Full path of a chosen file or folder, or empty on cancel.
  virtual std::string BrowseForPath(const std::string& title, bool includeFiles) = 0;
  // Shows the window's menu as a context menu at the mouse position (3 px
  // right and down); a chosen item fires its Event::Chosen.
  virtual void PopupMenu(ControlId menu) = 0;
  virtual void OpenUrl(const std::string& url) = 0;

  // ---- The program's life ---------------------------------------------------
  // Waits `ms` milliseconds; on the window thread it keeps handling the
  // window's events meanwhile.
  virtual void Delay(int ms) = 0;
  virtual bool WindowExists() = 0;
  // Closes the window and ends the event loop with this exit code (once). Returns to its caller, which returns at once.
  virtual void EndProgram(int exitCode) = 0;
  virtual std::uintptr_t GetWindowHandle() = 0;
  // Registers the window as drop target of the control; a second
  // registration is refused (false).
  virtual bool RegisterDropTarget(ControlId dropTarget, std::uintptr_t window) = 0;

  // Runs `fn` on the window thread: at once when called there, else posted.
  virtual void Post(std::function<void()> fn) = 0;
  // Runs `fn` on the window thread after everything posted or queued before
  // it, also when called there: changes of a view that come from several
  // threads keep the order in which they were queued.
  virtual void Queue(std::function<void()> fn) = 0;
};

}  // namespace quillon::platform
