// The import of a prepared split file on Windows, under Wine: the file and
// the split store go through the private-profile API, and the store's bytes
// are what writing xl, then bz, then zt for each section in file order makes.
#include <fstream>
#include <iterator>
#include <string>

#include "import/prepared_import.h"
#include "platform/win32/win32_system.h"
#include "routing/config_paths.h"

#include <gtest/gtest.h>
#include <windows.h>
// <windows.h> maps CreateDirectory to CreateDirectoryA; here it is the
// member of System.
#undef CreateDirectory

namespace quillon::importing {
namespace {

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(WineImport, TheStoreHoldsXlBzZtPerSectionInFileOrder) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  const std::string home = std::string(temp) + "quillon-import-" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(home.c_str(), nullptr);
  platform::Win32System sys(home);
  const std::string config = routing::ConfigDirectory(sys);
  sys.CreateDirectory(config);
  routing::SplitStore splitStore = routing::SplitStore::Main(sys);
  const std::string store = splitStore.Path();
  DeleteFileA(store.c_str());

  // A GBK file as a Chinese Windows saves it: keys in another order, an
  // extra key, a section without zt, and one the import must skip.
  const std::string prepared = home + "\\prepared.ini";
  std::ofstream(prepared, std::ios::binary) << "[视频.example.test]\r\nzt=1\r\nbz=电信\r\nxl=192.0.2.1\r\nid=7\r\n"
                                               "[198.18.8.8]\r\nxl=198.51.100.1\r\n"
                                               "[bad.test&x]\r\nxl=192.0.2.1\r\n";
  const ImportReport report = ImportSplitFile(sys, splitStore, prepared, "");
  EXPECT_EQ(report.stored, 2);
  EXPECT_EQ(report.skipped, 1);
  EXPECT_EQ(Bytes(store),
            "[视频.example.test]\r\nxl=192.0.2.1\r\nbz=电信\r\nzt=1\r\n"
            "[198.18.8.8]\r\nxl=198.51.100.1\r\nbz=\r\nzt=\r\n");
  DeleteFileA(store.c_str());
  DeleteFileA(prepared.c_str());
  RemoveDirectoryA(config.c_str());
  RemoveDirectoryA(home.c_str());
}

}  // namespace
}  // namespace quillon::importing
