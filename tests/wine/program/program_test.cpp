// quillon.exe end to end under Wine, driven from this process as a user
// would drive it (window_driver.h). Every test starts the real program with a
// home directory of its own and a config site that a small HTTP server in
// this process answers; the fake route.exe and nslookup.exe stand in the
// system folder and record every command line that cmd hands them, and the
// programs planted beside quillon.exe (cmd.exe, route.exe, nslookup.exe)
// would record themselves too if the program ever started one. The lines are two veth pairs in wine-run.sh's private network
// namespace; Wine draws its windows on a virtual desktop on the X display
// that the test command provides.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "app/controls.h"
#include "app/messages.h"
#include "app/program.h"
#include "app/window_description.h"
#include "quillon/site.h"
#include "tests/contract/http_test_server.h"

#include "../veth_lines.h"  // first: it includes <winsock2.h> before <windows.h>
#include "../fake_tools.h"
#include "../trace_lines.h"
#include "window_driver.h"
#include <commctrl.h>
// <windows.h> maps CreateDirectory to CreateDirectoryA.
#undef CreateDirectory

#if !defined(QUILLON_PROGRAM_EXE) || !defined(QUILLON_SCREENSHOT)
#error "QUILLON_PROGRAM_EXE and QUILLON_SCREENSHOT must name the program and the screenshot"
#endif

namespace quillon::test {
namespace {

using app::Control;
using platform::ControlKind;
using platform::wine::WinePath;

constexpr char kWindowClass[] = "QuillonWindow";
constexpr char kNoticeTitle[] = "Quillon用户使用须知：";
constexpr char kDesktopName[] = "Quillon";

// The program's windows lie on a desktop of their own, which Wine draws as a
// virtual desktop of 800 × 600 with every window's frame, as on Windows; this
// thread works on the same desktop, so that it finds those windows. The
// prefix's default desktop is left as it is.
class VirtualDesktop : public ::testing::Environment {
 public:
  void SetUp() override {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Explorer\\Desktops", 0, nullptr, 0, KEY_WRITE, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
      const char size[] = "800x600";
      RegSetValueExA(key, kDesktopName, 0, REG_SZ, reinterpret_cast<const BYTE*>(size), sizeof size);
      RegCloseKey(key);
    }
    HDESK desktop = CreateDesktopA(kDesktopName, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    ASSERT_NE(desktop, nullptr);
    ASSERT_TRUE(SetThreadDesktop(desktop));
  }
};
::testing::Environment* const kDesktop = ::testing::AddGlobalTestEnvironment(new VirtualDesktop);

// Deletes a directory with the files in it.
void RemoveDirectoryWithFiles(const std::string& dir) {
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveDirectoryWithFiles(dir + "\\" + name);
      } else {
        DeleteFileA((dir + "\\" + name).c_str());
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(dir.c_str());
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string IniValue(const std::string& file, const std::string& section, const std::string& key) {
  char value[1024] = {};
  GetPrivateProfileStringA(section.c_str(), key.c_str(), "<none>", value, sizeof value, file.c_str());
  return value;
}

using wine_test::Pass;
using wine_test::Routed;

class ProgramTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { lines_ = platform::wine::MakeTwoLines(); }
  static void TearDownTestSuite() {
    if (lines_.privateNamespace) platform::wine::RemoveTwoLines();
  }

  void SetUp() override {
    ASSERT_TRUE(lines_.shellStarted) << "Wine could not start the Linux shell";
    // Nothing is touched outside wine-run.sh's namespace, and a suite that
    // did not run fails.
    ASSERT_TRUE(lines_.privateNamespace) << "not inside the private namespace of wine-run.sh";
    ASSERT_TRUE(lines_.linesReady) << "could not set up the veth lines";
    ASSERT_TRUE(server_.Listening());
    HDC screen = GetDC(nullptr);
    ASSERT_EQ(GetDeviceCaps(screen, LOGPIXELSY), 96) << "the layout is checked at 96 DPI";
    ReleaseDC(nullptr, screen);

    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    home_ = std::string(temp) + "quillon-program-" + std::to_string(GetCurrentProcessId());
    RemoveDirectoryWithFiles(home_);
    ASSERT_TRUE(CreateDirectoryA(home_.c_str(), nullptr)) << home_;
    ASSERT_TRUE(tools_.Install(home_, {ProgramDirectory()}));
    spec_ = app::BuildWindowLayout(Site());
  }

  void TearDown() override {
    program_.reset();  // ends a program that a failed test left running
    tools_.Restore();
    RemoveDirectoryWithFiles(home_);
  }

  std::string Site() const { return "127.0.0.1:" + std::to_string(server_.Port()); }
  std::string ConfigDirectory() const { return home_ + "\\分流器配置"; }
  std::string SplitStore() const { return ConfigDirectory() + "\\http.ini"; }
  static std::string ProgramDirectory() {
    const std::string exe = WinePath(QUILLON_PROGRAM_EXE);
    return exe.substr(0, exe.rfind('\\'));
  }

  void Start(const std::string& site) {
    program_ = std::make_unique<ProgramProcess>();
    ASSERT_TRUE(program_->Start(WinePath(QUILLON_PROGRAM_EXE), "--home \"" + home_ + "\" --site " + site,
                                kDesktopName));
  }

  // Starts against the open site, accepts the notice and waits until the
  // start is done (the line selectors are filled).
  void StartAndAccept() {
    ASSERT_NO_FATAL_FAILURE(Start(Site()));
    ASSERT_FALSE(AnswerBox(kNoticeTitle, IDOK).empty()) << "no notice";
    ASSERT_TRUE(WaitFor([&] { return (main_ = FindTopLevel(kWindowClass, spec_.title)) != nullptr; }));
    ASSERT_TRUE(WaitFor([&] { return ComboCount(Find(Control::组合框4)) >= 1; }));
  }

  // The close box, answered OK: the program ends with exit code 0.
  void CloseWithOk() {
    PostMessageA(main_, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(AnswerBox("退出", IDOK), "即将结束任务并退出？");
    DWORD code = 1;
    ASSERT_TRUE(program_->WaitForExit(&code)) << "the program did not end";
    EXPECT_EQ(code, 0u);
  }

  HWND Find(platform::ControlId c) const { return FindControl(main_, c); }
  std::vector<std::string> Trace() const { return tools_.Recorded(); }
  // The trace once it has grown past `mark` by `count` lines: those lines.
  std::vector<std::string> TraceAfter(std::size_t mark, std::size_t count) const {
    std::vector<std::string> trace;
    WaitFor([&] { return (trace = Trace()).size() >= mark + count; });
    if (trace.size() < mark) return {};
    return std::vector<std::string>(trace.begin() + static_cast<std::ptrdiff_t>(mark), trace.end());
  }
  std::vector<std::string> Row(int row) const {
    return ListRow(program_->Handle(), Find(Control::超级列表框1), row, 6);
  }

  static inline platform::wine::LinesSetup lines_;
  HttpTestServer server_{{HttpReply{{HttpResponse(200, "OK", "1")}}}};
  platform::wine::FakeToolTrace tools_;
  std::unique_ptr<ProgramProcess> program_;
  std::string home_;
  platform::WindowLayout spec_;
  HWND main_ = nullptr;
};

// A site that cannot be reached: the failure box, without owner, then the
// end with exit code 0; nothing is made and no command runs.
TEST_F(ProgramTest, ASiteThatCannotBeReachedEndsTheProgramAfterItsBox) {
  const std::string closed = "127.0.0.1:1";
  ASSERT_NO_FATAL_FAILURE(Start(closed));
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (box = FindMessageBox("分流器无法启动")) != nullptr; }));
  EXPECT_EQ(MessageBoxText(box), app::StartFailureText(closed));
  EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr);
  PressButton(box, IDOK);

  DWORD code = 1;
  ASSERT_TRUE(program_->WaitForExit(&code));
  EXPECT_EQ(code, 0u);
  EXPECT_FALSE(Exists(ConfigDirectory()));
  EXPECT_TRUE(Trace().empty());
}

// The gate's request, the notice, then the window as the description has it:
// title, fixed frame of the client size, centred, every control at its
// place with its caption and visibility, the list's columns. The close box
// asks; Cancel keeps the window, OK ends the program with exit code 0.
TEST_F(ProgramTest, TheOpenSiteGivesTheNoticeThenTheDescribedWindowAndTheCloseBoxAsks) {
  ASSERT_NO_FATAL_FAILURE(Start(Site()));
  HWND notice = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (notice = FindMessageBox(kNoticeTitle)) != nullptr; }));
  EXPECT_EQ(MessageBoxText(notice), app::NoticeText(Site()));
  ASSERT_FALSE(server_.Requests().empty());
  EXPECT_EQ(ParseRequestHead(server_.Requests().front()).requestLine,
            std::string("GET ") + kVersionGatePath + "?v=" + kVersion + " HTTP/1.0");
  PressButton(notice, IDOK);

  ASSERT_TRUE(WaitFor([&] { return (main_ = FindTopLevel(kWindowClass, spec_.title)) != nullptr; }));
  EXPECT_EQ(TextOf(main_), spec_.title);
  RECT client{};
  GetClientRect(main_, &client);
  EXPECT_EQ(client.right, spec_.clientWidth);
  EXPECT_EQ(client.bottom, spec_.clientHeight);
  const LONG style = GetWindowLongA(main_, GWL_STYLE);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_EQ(GetMenu(main_), nullptr);
  RECT outer{};
  GetWindowRect(main_, &outer);
  EXPECT_EQ(outer.left, (GetSystemMetrics(SM_CXSCREEN) - (outer.right - outer.left)) / 2);
  EXPECT_EQ(outer.top, (GetSystemMetrics(SM_CYSCREEN) - (outer.bottom - outer.top)) / 2);

  for (const platform::ControlLayout& c : spec_.controls) {
    if (c.kind == ControlKind::Window || c.kind == ControlKind::DropTarget ||
        c.kind == ControlKind::ScriptComponent || c.kind == ControlKind::Menu || c.kind == ControlKind::MenuItem) {
      continue;
    }
    SCOPED_TRACE(std::string(c.name));
    HWND control = Find(c.id);
    ASSERT_NE(control, nullptr);
    HWND parent = c.parent == spec_.mainWindow ? main_ : Find(c.parent);
    ASSERT_EQ(GetParent(control), parent);
    const RECT r = RectIn(control, parent);
    EXPECT_EQ(r.left, c.left);
    EXPECT_EQ(r.top, c.top);
    EXPECT_EQ(r.right - r.left, c.width);
    EXPECT_EQ(r.bottom - r.top, c.height);
    EXPECT_EQ((GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) != 0, c.visible);
    if (c.kind == ControlKind::RichEdit) {
      EXPECT_EQ(RichEditText(program_->Handle(), control), c.caption);
    } else if (c.kind != ControlKind::ListView && c.kind != ControlKind::GroupBox) {
      EXPECT_EQ(TextOf(control), c.caption);
    }
  }
  HWND list = Find(Control::超级列表框1);
  ASSERT_EQ(static_cast<std::size_t>(Header_GetItemCount(ListView_GetHeader(list))), spec_.columns.size());
  for (std::size_t i = 0; i < spec_.columns.size(); ++i) {
    EXPECT_EQ(ListColumnTitle(program_->Handle(), list, static_cast<int>(i)), spec_.columns[i].title);
    EXPECT_EQ(ListColumnWidth(list, static_cast<int>(i)), spec_.columns[i].width);
  }
  EXPECT_TRUE(WaitFor([&] { return Exists(ConfigDirectory()); }));

  // Cancel: the box goes, the window stays and takes input again.
  PostMessageA(main_, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(AnswerBox("退出", IDCANCEL), "即将结束任务并退出？");
  EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(main_) != FALSE; }));
  EXPECT_TRUE(program_->Running());
  ASSERT_NO_FATAL_FAILURE(CloseWithOk());
}

// A user's pick of the second line shows its details; "确认修改" asks, then
// removes the default routes and adds one per line, metric 1 for the pick
// and (position + 1) × 50 for the others, in the order of the lines, and
// stores the metrics.
TEST_F(ProgramTest, TheGlobalLineGivesTheExactRouteCommands) {
  ASSERT_NO_FATAL_FAILURE(StartAndAccept());
  HWND selector = Find(Control::组合框2);
  ASSERT_TRUE(WaitFor([&] { return ComboCount(selector) >= 2; }));
  std::vector<std::string> lines;
  for (int i = 0; i < ComboCount(selector); ++i) lines.push_back(ComboItem(selector, i));
  ASSERT_EQ(lines.size(), 2u);
  ASSERT_TRUE(lines[1] == "192.0.2.1" || lines[1] == "198.51.100.1") << lines[1];
  const std::string picked = lines[1];
  const std::string address = picked == "192.0.2.1" ? "192.0.2.10" : "198.51.100.10";

  PostMessageA(Find(Control::按钮2), BM_CLICK, 0, 0);
  EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(Find(Control::分组框1)) != FALSE; }));
  for (int i = 0; i < 2; ++i) {
    const std::string before = TextOf(selector);
    ComboPickNext(selector);
    ASSERT_TRUE(WaitFor([&] { return TextOf(selector) != before; }));
  }
  EXPECT_EQ(TextOf(selector), picked);
  const std::string details = "网关IP：" + picked + "\r\n本地IP：" + address + "\r\n子网掩码：255.255.255.0\r\n";
  HWND detailsBox = Find(Control::超级编辑框1);
  EXPECT_TRUE(WaitFor([&] { return RichEditText(program_->Handle(), detailsBox).rfind(details, 0) == 0; }))
      << RichEditText(program_->Handle(), detailsBox);

  const std::size_t mark = Trace().size();
  PostMessageA(Find(Control::按钮3), BM_CLICK, 0, 0);
  EXPECT_EQ(AnswerBox("注意", IDOK), "是否确认修改本机默认全局网卡配置？");
  EXPECT_EQ(AnswerBox("注意", IDOK), "操作已完成,如果配置没生效，请重启需要分流的应用即可。");

  std::vector<std::string> expected = {"route delete 0.0.0.0"};
  const std::string store = ConfigDirectory() + "\\qj.ini";
  for (std::size_t p = 1; p <= lines.size(); ++p) {
    const std::string metric = lines[p - 1] == picked ? "1" : std::to_string((p + 1) * 50);
    expected.push_back("route add  0.0.0.0 mask 0.0.0.0 " + lines[p - 1] + " metric " + metric);
    EXPECT_EQ(IniValue(store, lines[p - 1], "id"), metric);
  }
  EXPECT_EQ(TraceAfter(mark, expected.size()), expected);

  PostMessageA(Find(Control::按钮4), BM_CLICK, 0, 0);
  EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(Find(Control::分组框1)) == FALSE; }));
  ASSERT_NO_FATAL_FAILURE(CloseWithOk());
}

// The split list end to end: the start's re-apply pass routes what is
// stored; an entry added through the inputs is looked up and gets a row;
// the row menu disables, enables (each followed by a routing run) and
// deletes; a hostile stored destination reaches no command at any time.
TEST_F(ProgramTest, TheSplitListRoutesAddsAndChangesEntriesThroughTheWindow) {
  ASSERT_TRUE(CreateDirectoryA(ConfigDirectory().c_str(), nullptr));
  const std::string hostile = "a.test&echo x>pwned";
  for (const auto& [section, key, value] : std::vector<std::tuple<std::string, std::string, std::string>>{
           {"single.example.test", "xl", "192.0.2.1"}, {"single.example.test", "zt", "1"},
           {"single.example.test", "bz", "备注一"},      {hostile, "xl", "192.0.2.1"},
           {hostile, "zt", "1"}}) {
    ASSERT_TRUE(WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), SplitStore().c_str()));
  }
  ASSERT_NO_FATAL_FAILURE(StartAndAccept());
  HWND list = Find(Control::超级列表框1);

  // The re-apply worker's first pass runs at once.
  const std::vector<std::string> single = Routed("single.example.test", {"198.18.4.0"}, "192.0.2.1");
  EXPECT_EQ(TraceAfter(0, single.size()), single);
  ASSERT_TRUE(WaitFor([&] { return ListRowCount(list) == 2; }));
  const std::vector<std::string> first = Row(0);
  EXPECT_EQ(first, (std::vector<std::string>{"1", "single.example.test", "192.0.2.1", first[3], "开启", "备注一"}));

  // Adding: destination, line and note typed, then "加入列表".
  SetTextOf(Find(Control::编辑框2), "multi.example.test");
  SetTextOf(Find(Control::组合框1), "198.51.100.1");
  SetTextOf(Find(Control::编辑框1), "备注二");
  std::size_t mark = Trace().size();
  PostMessageA(Find(Control::按钮1), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return ListRowCount(list) == 3; }));
  const std::vector<std::string> added = Row(2);
  EXPECT_EQ(added, (std::vector<std::string>{"3", "multi.example.test", "198.51.100.1", added[3], "开启", "备注二"}));
  EXPECT_EQ(TraceAfter(mark, 1), std::vector<std::string>{"nslookup multi.example.test "});
  EXPECT_EQ(IniValue(SplitStore(), "multi.example.test", "xl"), "198.51.100.1");

  // A left click on a row copies it into the inputs.
  ClickRow(program_->Handle(), list, 0, false);
  EXPECT_TRUE(WaitFor([&] { return TextOf(Find(Control::编辑框2)) == "single.example.test"; }));

  const std::vector<std::string> multi =
      Routed("multi.example.test", {"198.18.1.0", "198.18.1.0", "198.18.2.0"}, "198.51.100.1");
  // The row menu on the first row: item 0 "开启分流", 1 "关闭分流", 2 "删除记录".
  auto chooseOnFirstRow = [&](int item) {
    ClickRow(program_->Handle(), list, 0, true);
    HWND menu = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (menu = OpenMenu()) != nullptr; })) << "no row menu";
    ChooseMenuItem(menu, item);
  };

  mark = Trace().size();
  ASSERT_NO_FATAL_FAILURE(chooseOnFirstRow(1));
  EXPECT_EQ(AnswerBox("注意", IDOK), "操作已完成,如果配置没生效，请重启需要分流的应用即可。");
  EXPECT_TRUE(WaitFor([&] { return ListCell(program_->Handle(), list, 0, 4) == "关闭"; }));
  EXPECT_EQ(IniValue(SplitStore(), "single.example.test", "zt"), "-1");
  const std::vector<std::string> disabled = Pass({Routed("single.example.test", {"198.18.4.0"}, ""), multi});
  EXPECT_EQ(TraceAfter(mark, disabled.size()), disabled);

  mark = Trace().size();
  ASSERT_NO_FATAL_FAILURE(chooseOnFirstRow(0));
  EXPECT_EQ(AnswerBox("注意", IDOK), "操作已完成，如果配置没生效，请重启需要分流的应用即可。");
  EXPECT_TRUE(WaitFor([&] { return ListCell(program_->Handle(), list, 0, 4) == "开启"; }));
  EXPECT_EQ(IniValue(SplitStore(), "single.example.test", "zt"), "1");
  EXPECT_EQ(TraceAfter(mark, single.size() + multi.size()), Pass({single, multi}));

  // The window with its rows, for the eye: the screen, written under another
  // name and then renamed, so that the file is whole once it is there.
  const std::string shot = QUILLON_SCREENSHOT;
  DeleteFileA(WinePath(shot).c_str());
  platform::wine::RunShell("/usr/bin/import -window root '" + shot + ".part.png' && mv '" + shot + ".part.png' '" +
                           shot + "'");
  EXPECT_TRUE(WaitFor([&] { return Exists(WinePath(shot)); })) << "no screenshot";

  ASSERT_NO_FATAL_FAILURE(chooseOnFirstRow(2));
  EXPECT_EQ(AnswerBox("删除", IDOK), "是否删除：single.example.test");
  ASSERT_TRUE(WaitFor([&] { return ListRowCount(list) == 2; }));
  EXPECT_NE(ListCell(program_->Handle(), list, 0, 1), "single.example.test");
  EXPECT_EQ(IniValue(SplitStore(), "single.example.test", "xl"), "<none>");

  for (const std::string& line : Trace()) EXPECT_EQ(line.find("a.test"), std::string::npos) << line;
  for (const std::string& dir : {ProgramDirectory(), home_, ConfigDirectory(), platform::wine::SystemFolder()}) {
    EXPECT_FALSE(Exists(dir + "\\pwned")) << dir;
  }
  ASSERT_NO_FATAL_FAILURE(CloseWithOk());
}

// The program file: a GUI program (no console) with the project's version,
// a manifest that asks for administrator rights, the common controls 6 and
// DPI awareness, and the icon in its four sizes at 32 bits per pixel.
TEST(ProgramFile, CarriesVersionManifestAndIcon) {
  const std::string exe = WinePath(QUILLON_PROGRAM_EXE);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(exe.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)) +
                "." + std::to_string(HIWORD(fixed->dwFileVersionLS)),
            kVersion);

  HMODULE file = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(file, nullptr);
  auto resource = [&](const char* name, const char* type) {
    HRSRC found = FindResourceA(file, name, type);
    if (found == nullptr) return std::string();
    return std::string(static_cast<const char*>(LockResource(LoadResource(file, found))), SizeofResource(file, found));
  };
  const std::string manifest = resource(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  for (const char* wanted : {"level=\"requireAdministrator\"", "Microsoft.Windows.Common-Controls", "dpiAware"}) {
    EXPECT_NE(manifest.find(wanted), std::string::npos) << wanted;
  }
  // The icon group: a header of three words, then 14 bytes per image.
  const std::string group = resource(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(14));
  ASSERT_GE(group.size(), 6u);
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(group[i]); };
  const unsigned count = byte(4) | (byte(5) << 8);
  ASSERT_EQ(group.size(), 6u + 14u * count);
  std::vector<unsigned> sizes;
  for (unsigned i = 0; i < count; ++i) {
    sizes.push_back(byte(6 + 14 * i));
    EXPECT_EQ(byte(6 + 14 * i + 6), 32u) << "bits per pixel";
  }
  EXPECT_EQ(sizes, (std::vector<unsigned>{16, 24, 32, 64}));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(reinterpret_cast<std::uintptr_t>(file) & ~std::uintptr_t{3});
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const char*>(dos) + dos->e_lfanew);
  EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
  FreeLibrary(file);
}

}  // namespace
}  // namespace quillon::test
