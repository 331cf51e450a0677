// A stand-in for the system's route tool, built as route.exe into a directory
// of its own. The Wine tests put that directory first on PATH, so that
// "cmd /C route ..." starts this program instead of changing any route. It
// appends its whole command line, as it received it, and CR LF to the file
// named in QUILLON_FAKE_ROUTE_LOG, and exits with 0. Without that variable it
// writes nothing and exits with 2.
#include <windows.h>

#include <cstring>

int main() {
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
