// Quillon without its window, for scripts and servers: the same routines as
// the window, with their messages printed.
//
//   quillon --list                               the split list, tab-separated
//   quillon --add DEST --line GW [--note TEXT]   the add worker's checks, then the entry stored
//   quillon --import FILE [--line GW]            the import, with its count
//   quillon --export FILE                        the store as a prepared split file
//   quillon --apply                              one pass; what it changed
//   quillon --why DEST                           the answer, networks, line and routes of a destination
//   quillon --service                            the re-apply worker until SIGTERM (Linux)
//
// --home and --site (ParseOptions) may come with any of them. Exit codes: 0
// on success, 2 on bad arguments, 1 on failure; each error is one line on
// standard error.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/system.h"

namespace quillon::app {

struct CommandLine {
  enum class Action { Window, Help, List, Add, Import, Export, Apply, Why, Service };
  Action action = Action::Window;
  std::string destination;  // --add, --why
  std::string file;         // --import, --export
  std::string line;         // --line
  std::string note;         // --note
  bool lineGiven = false;
};

// The action and its values from the arguments (after the program's name);
// false with `error` set when they make no sense together.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& command, std::string& error);

// The usage text of --help.
std::string UsageText();

// Runs an action other than Window; its exit code.
int RunCommandLine(platform::System& sys, const CommandLine& command, std::FILE* out, std::FILE* err);

}  // namespace quillon::app
