// A stand-in for the system's route tool, built as route.exe into a directory
// of its own. The Wine tests copy it into the system folder, where the real
// tool stands, so that "cmd /C route ..." starts this program instead of
// changing any route. It
// records its command line (fake_tool_log.h) and exits with 0. Without
// QUILLON_FAKE_ROUTE_LOG it writes nothing and exits with 2.
#include "fake_tool_log.h"

int main() { return RecordCommandLine(); }
