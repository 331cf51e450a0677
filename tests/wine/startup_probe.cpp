// quillon_wine_probe OUTPUT [DELAY_MS]
// Waits DELAY_MS, then writes "flags=F show=S" to OUTPUT, where F is 1 when
// the parent asked for a show mode (STARTF_USESHOWWINDOW) and S is the show
// mode it asked for. The text appears at once, complete (written beside the
// file and then renamed).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  if (argc >= 3) Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  const std::string text = "flags=" + std::to_string((startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? 1 : 0) +
                           " show=" + std::to_string(startup.wShowWindow);
  const std::string output = argv[1];
  const std::string partial = output + ".part";
  std::FILE* file = std::fopen(partial.c_str(), "wb");
  if (file == nullptr) return 3;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) return 3;
  return MoveFileExA(partial.c_str(), output.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 3;
}
