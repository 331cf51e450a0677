// A program planted where a downloaded file could wait for the Windows
// backend to start it: the tests copy it as cmd.exe, route.exe and
// nslookup.exe beside the test program, beside quillon.exe and into the
// current directory (fake_tools.h). Started, it records "planted", its own
// path and its command line into the fakes' trace (fake_tool_log.h), so any
// such start shows in the trace that the tests compare; without the trace
// it exits with 2.
#include <windows.h>

#include <cstring>
#include <string>

int main() {
  char logPath[MAX_PATH * 4];
  const DWORD length = GetEnvironmentVariableA("QUILLON_FAKE_ROUTE_LOG", logPath, sizeof logPath);
  if (length == 0 || length >= sizeof logPath) return 2;
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  const std::string line = std::string("planted ") + self + ": " + GetCommandLineA() + "\r\n";
  const HANDLE file = CreateFileA(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
  return 0;
}
