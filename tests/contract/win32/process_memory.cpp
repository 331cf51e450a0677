// The process's peak resident memory: its peak working set.
#include "tests/contract/process_memory.h"

#include <windows.h>
#include <psapi.h>

namespace quillon::test {

std::size_t PeakResidentBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return counters.PeakWorkingSetSize;
}

}  // namespace quillon::test
