// What the stand-in tools (fake_route.cpp, fake_nslookup.cpp) share: each
// appends its whole command line, as it received it, and CR LF to the file
// named in QUILLON_FAKE_ROUTE_LOG, so that one file holds the ordered trace
// of every tool started.
#pragma once

#include <windows.h>

#include <cstring>

// 0 when the line was recorded; 2 without the variable, 3 when the file
// cannot be opened, 4 when it cannot be written.
inline int RecordCommandLine() {
  char logPath[MAX_PATH * 4];
  const DWORD length = GetEnvironmentVariableA("QUILLON_FAKE_ROUTE_LOG", logPath, sizeof logPath);
  if (length == 0 || length >= sizeof logPath) return 2;

  const HANDLE file = CreateFileA(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  const char* commandLine = GetCommandLineA();
  DWORD written = 0;
  const bool ok =
      WriteFile(file, commandLine, static_cast<DWORD>(std::strlen(commandLine)), &written, nullptr) &&
      WriteFile(file, "\r\n", 2, &written, nullptr);
  CloseHandle(file);
  return ok ? 0 : 4;
}
