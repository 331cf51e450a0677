// The process's peak resident memory: VmHWM of /proc/self/status.
#include "tests/contract/process_memory.h"

#include <fstream>
#include <string>

namespace quillon::test {

std::size_t PeakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6)) * 1024;  // in kB
  }
  return 0;
}

}  // namespace quillon::test
