// The test process's own memory, one implementation per system (posix/ and
// win32/ below this folder).
#pragma once

#include <cstddef>

namespace quillon::test {

// The most memory this process has held resident so far, in bytes; 0 when
// the system does not tell.
std::size_t PeakResidentBytes();

}  // namespace quillon::test
