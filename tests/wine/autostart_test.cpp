// SetAutostart on Windows, under Wine: the task's definition as text; the
// registration and removal with administrator rights (Wine gives every
// program an elevated administrator's token); the refusal without them (this
// thread acting with the limited token linked to that one). Wine 8's Task
// Scheduler takes the definition and keeps its settings, but drops its
// trigger, principal and action: what it proves is that the calls and the XML
// are taken, not that Windows starts the program at logon.
#include "platform/win32/win32_system.h"

#include "platform/win32/autostart_task.h"

#include <windows.h>
#include <oleauto.h>
#include <taskschd.h>

#include <gtest/gtest.h>

#include <string>

#include "fake_tools.h"

namespace quillon::platform {
namespace {

TEST(AutostartTask, OneTaskPerUserStartsThisProgramAtTheUsersLogon) {
  EXPECT_EQ(win32::AutostartTaskName("alice"), "Quillon (alice)");
  EXPECT_EQ(win32::AutostartTaskName("a\\b/c:d*e?f\"g<h>i|j\x01z"), "Quillon (a_b_c_d_e_f_g_h_i_j_z)");

  const std::string xml = win32::AutostartTaskXml("C:\\Tom & Jerry's <x>\\quillon.exe", "S-1-5-21-7-8-9-1001");
  for (const char* part : {
           "<Command>&quot;C:\\Tom &amp; Jerry&apos;s &lt;x&gt;\\quillon.exe&quot;</Command>",
           "<WorkingDirectory>C:\\Tom &amp; Jerry&apos;s &lt;x&gt;</WorkingDirectory>",
           "<LogonTrigger>\n      <Enabled>true</Enabled>\n      <UserId>S-1-5-21-7-8-9-1001</UserId>",
           "<UserId>S-1-5-21-7-8-9-1001</UserId>\n      <LogonType>InteractiveToken</LogonType>\n"
           "      <RunLevel>HighestAvailable</RunLevel>",
           // A program that runs for days, also on a laptop's battery.
           "<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>",
           "<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>",
           "<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>",
       }) {
    EXPECT_NE(xml.find(part), std::string::npos) << part;
  }
  EXPECT_NE(win32::AutostartTaskXml("D:\\quillon.exe", "S-1-5-18").find("<WorkingDirectory>D:\\</WorkingDirectory>"),
            std::string::npos);
}

std::string TaskName() {
  wchar_t user[257];
  DWORD size = 257;
  if (!GetUserNameW(user, &size) || size == 0) return {};
  char utf8[1024];
  const int length = WideCharToMultiByte(CP_UTF8, 0, user, static_cast<int>(size - 1), utf8, sizeof utf8, nullptr,
                                         nullptr);
  return win32::AutostartTaskName(std::string(utf8, length > 0 ? length : 0));
}

// The registered task's XML as the Task Scheduler gives it back; empty when
// there is no such task.
std::string RegisteredTask(const std::string& name) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::string xml;
  ITaskService* service = nullptr;
  ITaskFolder* root = nullptr;
  IRegisteredTask* task = nullptr;
  VARIANT none;
  VariantInit(&none);
  std::wstring wide(name.begin(), name.end());  // the name is ASCII here
  BSTR rootPath = SysAllocString(L"\\");
  BSTR taskName = SysAllocString(wide.c_str());
  BSTR text = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                 reinterpret_cast<void**>(&service))) &&
      SUCCEEDED(service->Connect(none, none, none, none)) && SUCCEEDED(service->GetFolder(rootPath, &root)) &&
      SUCCEEDED(root->GetTask(taskName, &task)) && SUCCEEDED(task->get_Xml(&text)) && text != nullptr) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    xml.assign(length > 0 ? length - 1 : 0, '\0');
    if (length > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, xml.data(), length, nullptr, nullptr);
  }
  SysFreeString(text);
  SysFreeString(taskName);
  SysFreeString(rootPath);
  if (task != nullptr) task->Release();
  if (root != nullptr) root->Release();
  if (service != nullptr) service->Release();
  if (SUCCEEDED(com)) CoUninitialize();
  return xml;
}

// The whole test acts with the limited token that Wine links to the
// administrator's, as a program started without "Run as administrator".
TEST(Autostart, WithoutAdministratorRightsNothingChanges) {
  const std::string name = TaskName();
  ASSERT_FALSE(name.empty());
  const std::string before = RegisteredTask(name);
  HANDLE process = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &process));
  TOKEN_LINKED_TOKEN linked{};
  DWORD size = 0;
  const bool haveLinked = GetTokenInformation(process, TokenLinkedToken, &linked, sizeof linked, &size);
  CloseHandle(process);
  ASSERT_TRUE(haveLinked) << "no limited token";
  ASSERT_TRUE(SetThreadToken(nullptr, linked.LinkedToken));
  Win32System system;
  std::string messages[2];
  const bool on = system.SetAutostart(true, messages[0]);
  const bool off = system.SetAutostart(false, messages[1]);
  RevertToSelf();
  CloseHandle(linked.LinkedToken);

  EXPECT_FALSE(on);
  EXPECT_FALSE(off);
  for (const std::string& message : messages) {
    EXPECT_NE(message.find("needs administrator rights"), std::string::npos) << message;
  }
  EXPECT_EQ(RegisteredTask(name), before);
}

TEST(Autostart, WithAdministratorRightsTheLogonTaskIsRegisteredAndRemoved) {
  const std::string name = TaskName();
  ASSERT_FALSE(name.empty());
  Win32System system;
  std::string message;
  system.SetAutostart(false, message);  // what an earlier run may have left

  ASSERT_TRUE(system.SetAutostart(true, message)) << message;
  EXPECT_NE(message.find("now starts when"), std::string::npos) << message;
  EXPECT_NE(message.find("quillon_wine_tests.exe"), std::string::npos) << message;
  // What Wine keeps of the definition: its settings.
  const std::string registered = RegisteredTask(name);
  EXPECT_NE(registered.find("<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>"), std::string::npos) << registered;
  EXPECT_NE(registered.find("<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>"), std::string::npos);
  EXPECT_TRUE(system.SetAutostart(true, message)) << "again, the task is replaced: " << message;

  EXPECT_TRUE(system.SetAutostart(false, message)) << message;
  EXPECT_NE(message.find("no longer starts"), std::string::npos) << message;
  EXPECT_EQ(RegisteredTask(name), "");
  EXPECT_TRUE(system.SetAutostart(false, message)) << message;
  EXPECT_NE(message.find("was not set to start"), std::string::npos) << message;
}

}  // namespace
}  // namespace quillon::platform
