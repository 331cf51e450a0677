#include "platform/win32/win32_window.h"

#include <commctrl.h>
#include <richedit.h>
#include <shellapi.h>

#include <algorithm>
#include <utility>

#include "platform/win32/resource_ids.h"
#include "platform/win32/win32_ui.h"

namespace quillon::platform::win32 {

namespace {

constexpr char kWindowClass[] = "QuillonWindow";
constexpr char kPanelClass[] = "QuillonPanel";
constexpr char kRichEditClass[] = "RichEdit20A";
// Height of a combo box's drop-down list, below its text field.
constexpr int kComboListHeight = 160;
// A GUI thread's "WM_COPYGLOBALDATA", which a file drop sends along.
constexpr UINT kCopyGlobalData = 0x0049;

Win32Window* Self(HWND hwnd) { return reinterpret_cast<Win32Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA)); }

// The text of a window, ANSI.
std::string WindowText(HWND hwnd) {
  const int length = GetWindowTextLengthA(hwnd);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const int got = GetWindowTextA(hwnd, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(got, 0)));
  return text;
}

// The rich edit's text with CR LF line ends (it keeps paragraphs with CR).
std::string RichText(HWND hwnd) {
  GETTEXTLENGTHEX lengthQuery{GTL_USECRLF | GTL_PRECISE | GTL_NUMBYTES, CP_ACP};
  const LRESULT length = SendMessageA(hwnd, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&lengthQuery), 0);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  GETTEXTEX query{};
  query.cb = static_cast<DWORD>(text.size());
  query.flags = GT_USECRLF;
  query.codepage = CP_ACP;
  const LRESULT got = SendMessageA(hwnd, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&query),
                                   reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(std::clamp<LRESULT>(got, 0, length)));
  return text;
}

// The font of the system's message boxes, the one Windows uses for dialogs.
HFONT MessageFont() {
  NONCLIENTMETRICSA metrics{};
  metrics.cbSize = sizeof metrics;
  if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    if (HFONT font = CreateFontIndirectA(&metrics.lfMessageFont)) return font;
  }
  return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

bool IsComboKind(ControlKind k) { return k == ControlKind::ComboBox; }

// A window class of this program: arrow cursor, dialog background.
void RegisterWindowClass(HINSTANCE instance, const char* name, WNDPROC proc, HICON icon, HICON smallIcon) {
  WNDCLASSEXA c{};
  c.cbSize = sizeof c;
  c.lpfnWndProc = proc;
  c.hInstance = instance;
  c.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  c.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  c.lpszClassName = name;
  c.hIcon = icon;
  c.hIconSm = smallIcon;
  RegisterClassExA(&c);
}

}  // namespace

Win32Window::Win32Window(const WindowLayout& layout, Sink sink, std::function<void()> endProgram)
    : layout_(layout), sink_(std::move(sink)), endProgram_(std::move(endProgram)), dropTarget_(layout.dropTarget) {}

Win32Window::~Win32Window() { Destroy(); }

int Win32Window::Scale(int pixels) const { return MulDiv(pixels, dpi_, 96); }

HWND Win32Window::Handle(ControlId c) const {
  auto it = handles_.find(c);
  return it == handles_.end() ? nullptr : it->second;
}

bool Win32Window::Create() {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  LoadLibraryA("riched20.dll");

  const auto icon = [instance](int width, int height) {
    return static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(QUILLON_ICON), IMAGE_ICON,
                                         GetSystemMetrics(width), GetSystemMetrics(height), 0));
  };
  RegisterWindowClass(instance, kWindowClass, &Win32Window::MainProc, icon(SM_CXICON, SM_CYICON),
                      icon(SM_CXSMICON, SM_CYSMICON));
  RegisterWindowClass(instance, kPanelClass, &Win32Window::PanelProc, nullptr, nullptr);

  // The layout is in pixels at 96 dots per inch; at another system DPI every
  // size grows with the fonts.
  if (HDC screen = GetDC(nullptr)) {
    dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    if (dpi_ <= 0) dpi_ = 96;
  }
  font_ = MessageFont();

  // A fixed frame with title bar, system menu, close and minimise boxes; no
  // maximise box, no sizing border. The outer size follows from the client
  // size and the frame.
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  RECT outer{0, 0, Scale(layout_.clientWidth), Scale(layout_.clientHeight)};
  AdjustWindowRectEx(&outer, style, FALSE, 0);
  main_ = CreateWindowExA(0, kWindowClass, layout_.title.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                          outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr, instance, this);
  if (main_ == nullptr) return false;

  for (const ControlLayout& c : layout_.controls) {
    if (c.id == layout_.mainWindow) continue;
    HWND parent = c.parent == layout_.mainWindow ? main_ : Handle(c.parent);
    if (parent == nullptr) continue;  // menu items: their menu is no window
    MakeControl(c, parent);
  }
  MakeMenu();

  // Within a panel the frame lies beneath the panel's controls; the panels
  // lie above the home page's controls.
  for (const auto& [panel, frame] : frames_) {
    SetWindowPos(frame, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetWindowPos(Handle(panel), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  return true;
}

bool Win32Window::MakeControl(const ControlLayout& c, HWND parent) {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  const auto id = reinterpret_cast<HMENU>(static_cast<INT_PTR>(WindowIdOf(c.id)));
  const int x = Scale(c.left), y = Scale(c.top), w = Scale(c.width), h = Scale(c.height);
  // Siblings overlap (the panels lie over the list): each draws only where
  // no sibling above it lies.
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS | (c.visible ? WS_VISIBLE : 0);
  DWORD exStyle = 0;
  const char* windowClass = nullptr;
  std::string text = c.caption;

  switch (c.kind) {
    case ControlKind::ListView:
      windowClass = WC_LISTVIEWA;
      style |= WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_OWNERDATA;
      exStyle = WS_EX_CLIENTEDGE;
      text.clear();
      break;
    case ControlKind::Label:
    case ControlKind::TransparentLabel:
      windowClass = "STATIC";
      style |= SS_LEFT | SS_NOPREFIX | SS_CENTERIMAGE;
      break;
    case ControlKind::Button:
      windowClass = "BUTTON";
      style |= WS_TABSTOP | BS_PUSHBUTTON;
      break;
    case ControlKind::EditBox:
      windowClass = "EDIT";
      style |= WS_TABSTOP | ES_AUTOHSCROLL;
      exStyle = WS_EX_CLIENTEDGE;
      break;
    case ControlKind::ComboBox:
      windowClass = "COMBOBOX";
      style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL;
      break;
    case ControlKind::RichEdit:
      windowClass = kRichEditClass;
      style |= WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
      exStyle = WS_EX_CLIENTEDGE;
      break;
    case ControlKind::GroupBox:
      windowClass = kPanelClass;
      style |= WS_CLIPCHILDREN;
      exStyle = WS_EX_CONTROLPARENT;
      text.clear();
      break;
    case ControlKind::Window:
    case ControlKind::DropTarget:
    case ControlKind::ScriptComponent:
    case ControlKind::Menu:
    case ControlKind::MenuItem:
      return false;
  }

  // A combo box's height covers its drop-down list too.
  const int createHeight = IsComboKind(c.kind) ? h + Scale(kComboListHeight) : h;
  HWND hwnd = CreateWindowExA(exStyle, windowClass, text.c_str(), style, x, y, w, createHeight, parent, id,
                              instance, nullptr);
  if (hwnd == nullptr) return false;
  SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  handles_[c.id] = hwnd;

  switch (c.kind) {
    case ControlKind::ListView: {
      list_ = hwnd;
      SendMessageA(hwnd, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER,
                   LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
      for (std::size_t i = 0; i < layout_.columns.size(); ++i) {
        LVCOLUMNA column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = Scale(layout_.columns[i].width);
        column.pszText = const_cast<char*>(layout_.columns[i].title.c_str());
        column.iSubItem = static_cast<int>(i);
        SendMessageA(hwnd, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
      }
      break;
    }
    case ControlKind::ComboBox: {
      // The closed combo box is as high as the table says: its text field
      // takes what the frame leaves. The frame differs between systems and
      // styles, so the field is corrected until the box has that height.
      LRESULT field = SendMessageA(hwnd, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
      for (int attempt = 0; attempt < 4 && field > 0; ++attempt) {
        RECT r;
        GetWindowRect(hwnd, &r);
        const int off = h - (r.bottom - r.top);
        if (off == 0 || field + off <= 0) break;
        field += off;
        SendMessageA(hwnd, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), field);
      }
      // A left button press on the box or on its text field.
      SetWindowSubclass(hwnd, &Win32Window::PressProc, static_cast<UINT_PTR>(c.id.value), reinterpret_cast<DWORD_PTR>(this));
      COMBOBOXINFO info{};
      info.cbSize = sizeof info;
      if (GetComboBoxInfo(hwnd, &info) && info.hwndItem != nullptr) {
        SetWindowSubclass(info.hwndItem, &Win32Window::PressProc, static_cast<UINT_PTR>(c.id.value),
                          reinterpret_cast<DWORD_PTR>(this));
      }
      break;
    }
    case ControlKind::RichEdit:
      SendMessageA(hwnd, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
      SetWindowTextA(hwnd, c.caption.c_str());
      break;
    case ControlKind::GroupBox: {
      // The panel's frame: a group box over the whole panel, beneath its
      // controls.
      HWND frame = CreateWindowExA(0, "BUTTON", c.caption.c_str(), WS_CHILD | WS_VISIBLE | BS_GROUPBOX, 0, 0, w, h,
                                   hwnd, nullptr, instance, nullptr);
      if (frame != nullptr) {
        SendMessageA(frame, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        frames_[c.id] = frame;
      }
      break;
    }
    default:
      break;
  }
  return true;
}

void Win32Window::MakeMenu() {
  for (const ControlLayout& m : layout_.controls) {
    if (m.kind != ControlKind::Menu) continue;
    menuBar_ = CreateMenu();
    popup_ = CreatePopupMenu();
    for (const ControlLayout& item : layout_.controls) {
      if (item.kind == ControlKind::MenuItem && item.parent == m.id) {
        AppendMenuA(popup_, MF_STRING, static_cast<UINT_PTR>(WindowIdOf(item.id)), item.caption.c_str());
      }
    }
    AppendMenuA(menuBar_, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(popup_), m.caption.c_str());
    return;  // the window has one menu
  }
}

void Win32Window::Show() {
  RECT r;
  GetWindowRect(main_, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  SetWindowPos(main_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2, 0,
               0, SWP_NOSIZE | SWP_NOZORDER);
  ShowWindow(main_, SW_SHOWNORMAL);
  UpdateWindow(main_);
  PostMessageA(main_, kCreatedMessage, 0, 0);
}

void Win32Window::Destroy() {
  if (main_ == nullptr) return;
  ending_ = true;
  HWND w = main_;
  DestroyWindow(w);
  main_ = nullptr;
  list_ = nullptr;
  handles_.clear();
  frames_.clear();
}

// ---- texts and visibility ---------------------------------------------------

std::string Win32Window::Text(ControlId c) const {
  if (c == layout_.mainWindow) return WindowText(main_);
  const ControlLayout* s = LayoutOf(c);
  if (s == nullptr) return {};
  switch (s->kind) {
    case ControlKind::Menu: {
      char text[512] = {};
      GetMenuStringA(menuBar_, 0, text, sizeof text, MF_BYPOSITION);
      return text;
    }
    case ControlKind::MenuItem: {
      char text[512] = {};
      GetMenuStringA(popup_, WindowIdOf(c), text, sizeof text, MF_BYCOMMAND);
      return text;
    }
    case ControlKind::RichEdit:
      return RichText(Handle(c));
    case ControlKind::GroupBox: {
      auto it = frames_.find(c);
      return it == frames_.end() ? std::string() : WindowText(it->second);
    }
    case ControlKind::ListView:
    case ControlKind::DropTarget:
    case ControlKind::ScriptComponent:
      return {};
    default: {
      HWND h = Handle(c);
      return h == nullptr ? std::string() : WindowText(h);
    }
  }
}

void Win32Window::SetText(ControlId c, const std::string& text) {
  if (c == layout_.mainWindow) {
    SetWindowTextA(main_, text.c_str());
    return;
  }
  const ControlLayout* s = LayoutOf(c);
  if (s == nullptr) return;
  switch (s->kind) {
    case ControlKind::Menu:
      ModifyMenuA(menuBar_, 0, MF_BYPOSITION | MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(popup_), text.c_str());
      return;
    case ControlKind::MenuItem:
      ModifyMenuA(popup_, WindowIdOf(c), MF_BYCOMMAND | MF_STRING, WindowIdOf(c), text.c_str());
      return;
    case ControlKind::GroupBox:
      if (auto it = frames_.find(c); it != frames_.end()) SetWindowTextA(it->second, text.c_str());
      return;
    case ControlKind::ListView:
    case ControlKind::DropTarget:
    case ControlKind::ScriptComponent:
      return;
    default:
      if (HWND h = Handle(c)) SetWindowTextA(h, text.c_str());
      return;
  }
}

void Win32Window::SetVisible(ControlId c, bool visible) {
  HWND h = c == layout_.mainWindow ? main_ : Handle(c);
  if (h == nullptr) return;
  ShowWindow(h, visible ? SW_SHOWNA : SW_HIDE);
  // A panel that is shown lies above the home page's controls.
  if (visible && h != main_) SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

bool Win32Window::IsVisible(ControlId c) const {
  if (c == layout_.mainWindow) return IsWindowVisible(main_) != FALSE;
  // Visible as far as the window is concerned: its own flag and that of
  // every panel it lies on.
  HWND h = Handle(c);
  if (h == nullptr) return false;
  for (HWND w = h; w != nullptr && w != main_; w = GetParent(w)) {
    if ((GetWindowLongA(w, GWL_STYLE) & WS_VISIBLE) == 0) return false;
  }
  return true;
}

int Win32Window::AddItem(ControlId c, const std::string& text, int value) {
  const ControlLayout* s = LayoutOf(c);
  HWND h = Handle(c);
  if (s == nullptr || h == nullptr || !IsComboKind(s->kind)) return -1;
  const LRESULT index = SendMessageA(h, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  if (index < 0) return -1;
  SendMessageA(h, CB_SETITEMDATA, static_cast<WPARAM>(index), value);
  return static_cast<int>(index);
}

// ---- the list view --------------------------------------------------------------

void Win32Window::SetCell(int row, int column, const std::string& text) {
  if (list_ == nullptr || row < 0 || row >= RowCount() || column < 0 ||
      column >= static_cast<int>(layout_.columns.size())) {
    return;
  }
  rows_.SetCell(static_cast<std::size_t>(row), static_cast<std::size_t>(column), text);
  SendMessageA(list_, LVM_REDRAWITEMS, static_cast<WPARAM>(row), row);
}

std::string Win32Window::Cell(int row, int column) const {
  if (row < 0 || column < 0) return {};
  return std::string(rows_.Cell(static_cast<std::size_t>(row), static_cast<std::size_t>(column)));
}

int Win32Window::SelectedRow() const {
  if (list_ == nullptr) return -1;
  return static_cast<int>(SendMessageA(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void Win32Window::ReplaceRows(ListRows rows) {
  if (list_ == nullptr) return;
  rows_ = std::move(rows);
  // New rows: nothing selected, as after removing every row and adding them.
  LVITEMA none{};
  none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageA(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
  SendMessageA(list_, LVM_SETITEMCOUNT, rows_.size(), 0);
  InvalidateRect(list_, nullptr, TRUE);
}

void Win32Window::AppendFilledRow(Row cells, int numberColumn) {
  if (list_ == nullptr) return;
  cells.resize(layout_.columns.size());
  if (numberColumn >= 0 && numberColumn < static_cast<int>(cells.size())) {
    cells[static_cast<std::size_t>(numberColumn)] = std::to_string(rows_.size() + 1);
  }
  rows_.Append(cells);
  SendMessageA(list_, LVM_SETITEMCOUNT, rows_.size(), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
  SendMessageA(list_, LVM_REDRAWITEMS, rows_.size() - 1, static_cast<LPARAM>(rows_.size() - 1));
}

void Win32Window::AppendRows(ListRows rows) {
  if (list_ == nullptr || rows.size() == 0) return;
  rows_.Append(std::move(rows));
  SendMessageA(list_, LVM_SETITEMCOUNT, rows_.size(), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
  InvalidateRect(list_, nullptr, TRUE);
}

// ---- menu and drops ---------------------------------------------------------------

void Win32Window::Popup(ControlId menu) {
  const ControlLayout* s = LayoutOf(menu);
  if (s == nullptr || s->kind != ControlKind::Menu || popup_ == nullptr || GetMenuItemCount(popup_) <= 0) return;
  POINT at{};
  GetCursorPos(&at);
  // The menu closes when the user clicks elsewhere only while the window is
  // in the foreground.
  SetForegroundWindow(main_);
  const UINT chosen = static_cast<UINT>(TrackPopupMenu(popup_, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON |
                                                                   TPM_RETURNCMD | TPM_NONOTIFY,
                                                       at.x + 3, at.y + 3, 0, main_, nullptr));
  PostMessageA(main_, WM_NULL, 0, 0);
  // The item's event comes after the handler that opened the menu returns.
  if (chosen != 0) PostMessageA(main_, WM_COMMAND, MAKEWPARAM(chosen, 0), 0);
}

bool Win32Window::EnableDrops(ControlId target) {
  if (dropsEnabled_ || main_ == nullptr) return false;
  dropsEnabled_ = true;
  dropTarget_ = target;
  DragAcceptFiles(main_, TRUE);
  // The program runs with administrator rights; a drop from the user's
  // (unelevated) file manager reaches it only through these messages.
  for (UINT message : {static_cast<UINT>(WM_DROPFILES), static_cast<UINT>(WM_COPYDATA), kCopyGlobalData}) {
    ChangeWindowMessageFilterEx(main_, message, MSGFLT_ALLOW, nullptr);
  }
  return true;
}

void Win32Window::OnDropFiles(HDROP drop) {
  std::vector<std::string> paths;
  const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    const UINT length = DragQueryFileA(drop, i, nullptr, 0);
    std::string path(length + 1, '\0');
    DragQueryFileA(drop, i, path.data(), length + 1);
    path.resize(length);
    if (!path.empty()) paths.push_back(std::move(path));
  }
  DragFinish(drop);
  if (!dropsEnabled_ || paths.empty()) return;
  // One file: its path. Several: every path followed by CR LF.
  std::string text;
  if (paths.size() == 1) {
    text = paths.front();
  } else {
    for (const std::string& p : paths) text += p + "\r\n";
  }
  Fire(dropTarget_, Event::FilesDropped, text);
}

// ---- messages -----------------------------------------------------------------------

bool Win32Window::Fire(ControlId c, Event e, const std::string& argument) {
  Sink sink = sink_;
  return sink ? sink(c, e, argument) : true;
}

LRESULT CALLBACK Win32Window::MainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  Win32Window* self = Self(hwnd);
  if (self == nullptr) return DefWindowProcA(hwnd, message, wParam, lParam);
  return self->OnMessage(hwnd, message, wParam, lParam);
}

// A panel hands its controls' notifications to the window.
LRESULT CALLBACK Win32Window::PanelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
      if (HWND top = GetAncestor(hwnd, GA_ROOT)) return SendMessageA(top, message, wParam, lParam);
      break;
    default:
      break;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

// A left button press on a combo box or its text field fires its
// Event::LeftButtonDown before the box handles the press.
LRESULT CALLBACK Win32Window::PressProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                        DWORD_PTR data) {
  if (message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK) {
    auto* self = reinterpret_cast<Win32Window*>(data);
    const bool wasDown = (GetAsyncKeyState(VK_LBUTTON) & 0x8000) != 0;
    self->Fire(ControlId(static_cast<int>(id)), Event::LeftButtonDown);
    // When the handler held a dialog open, the button was released there: a
    // press handled now would leave the box waiting for that release.
    if (wasDown && (GetAsyncKeyState(VK_LBUTTON) & 0x8000) == 0) return 0;
    if (!IsWindow(hwnd)) return 0;
  }
  if (message == WM_NCDESTROY) RemoveWindowSubclass(hwnd, &Win32Window::PressProc, id);
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

LRESULT Win32Window::OnMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kCreatedMessage:
      if (!ending_) Fire(layout_.mainWindow, Event::Created);
      return 0;
    case kComboChosenMessage: {
      const auto c = ControlId(static_cast<int>(wParam));
      HWND combo = Handle(c);
      if (combo == nullptr || ending_) return 0;
      // The text field shows the picked item before the handler reads it.
      const LRESULT index = SendMessageA(combo, CB_GETCURSEL, 0, 0);
      if (index >= 0) {
        const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
        if (length >= 0) {
          std::string item(static_cast<std::size_t>(length) + 1, '\0');
          SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(item.data()));
          item.resize(static_cast<std::size_t>(length));
          if (WindowText(combo) != item) SetWindowTextA(combo, item.c_str());
        }
      }
      Fire(c, Event::ItemChosen);
      return 0;
    }
    case WM_COMMAND:
      OnCommand(wParam, lParam);
      return 0;
    case WM_NOTIFY:
      return OnNotify(reinterpret_cast<const NMHDR*>(lParam));
    case WM_CTLCOLORSTATIC: {
      // Labels take the window's background.
      auto dc = reinterpret_cast<HDC>(wParam);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_DROPFILES:
      OnDropFiles(reinterpret_cast<HDROP>(wParam));
      return 0;
    case WM_CLOSE:
      if (ending_) return DefWindowProcA(hwnd, message, wParam, lParam);
      OnClose();
      return 0;
    default:
      return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

void Win32Window::OnClose() {
  // The close query decides; a close that the program allowed ends the
  // program, also when its handler did not end it itself.
  if (!Fire(layout_.mainWindow, Event::CloseQuery)) return;
  if (!ending_ && endProgram_) endProgram_();
}

void Win32Window::OnCommand(WPARAM wParam, LPARAM lParam) {
  // Control identifiers are kControlIdBase + the control's id (WindowIdOf); other
  // identifiers name no control of the table.
  const auto c = ControlId(static_cast<int>(LOWORD(wParam)) - kControlIdBase);
  const ControlLayout* s = LayoutOf(c);
  if (s == nullptr) return;
  const WORD code = HIWORD(wParam);
  if (lParam == 0) {
    // A menu command: only the menu items.
    if (s->kind == ControlKind::MenuItem && code == 0) Fire(c, Event::Chosen);
    return;
  }
  if (s->kind == ControlKind::Button && code == BN_CLICKED) {
    Fire(c, Event::Clicked);
  } else if (IsComboKind(s->kind) && code == CBN_SELCHANGE) {
    // Sent for the user's pick only (never for the program's own changes);
    // the event runs once the box has put the item into its text field.
    PostMessageA(main_, kComboChosenMessage, static_cast<WPARAM>(c.value), 0);
  }
}

LRESULT Win32Window::OnNotify(const NMHDR* header) {
  if (header == nullptr || list_ == nullptr || header->hwndFrom != list_) return 0;
  switch (header->code) {
    case NM_CLICK:
      Fire(layout_.listControl, Event::LeftClick);
      return 0;
    case NM_RCLICK:
      Fire(layout_.listControl, Event::RightClick);
      return 0;
    case LVN_GETDISPINFOA: {
      auto* info = reinterpret_cast<NMLVDISPINFOA*>(const_cast<NMHDR*>(header));
      if ((info->item.mask & LVIF_TEXT) != 0 && info->item.pszText != nullptr && info->item.cchTextMax > 0) {
        const std::string text = Cell(info->item.iItem, info->item.iSubItem);
        lstrcpynA(info->item.pszText, text.c_str(), info->item.cchTextMax);
      }
      return 0;
    }
    case LVN_GETDISPINFOW: {
      auto* info = reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(header));
      if ((info->item.mask & LVIF_TEXT) != 0 && info->item.pszText != nullptr && info->item.cchTextMax > 0) {
        const std::string text = Cell(info->item.iItem, info->item.iSubItem);
        const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, info->item.pszText, info->item.cchTextMax);
        if (n == 0) info->item.pszText[info->item.cchTextMax - 1] = L'\0';
      }
      return 0;
    }
    default:
      return 0;
  }
}

}  // namespace quillon::platform::win32
