// Proves that the linux-tsan preset catches a race in Quillon's own code
// with its options and suppressions: two threads write one plain int. The
// test passes only when ThreadSanitizer reports it.
#include <thread>

namespace {
int shared = 0;
}

int main() {
  std::thread other([] { ++shared; });
  ++shared;
  other.join();
  return shared == 2 ? 0 : 1;
}
