// Quillon without its window, for scripts and servers: the same routines as
// the window, their outcomes printed. One table of options drives the parser
// and the usage text; --home and --site go with the window and every action.
// Exit codes: 0 on success, 2 on bad arguments, 1 on failure; each error is
// one line on standard error.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/system.h"

namespace quillon::app {

struct CommandLine {
  enum class Action { Window, Help, List, Add, Import, Export, Apply, Clear, Why, Service, Autostart };
  Action action = Action::Window;
  std::string home;         // --home DIR, else QUILLON_HOME; empty: the program's own directory
  std::string site;         // --site HOST[:PORT], else QUILLON_SITE, else the build's default
  std::string destination;  // --add, --why
  std::string file;         // --import, --export
  std::string line;         // --line
  std::string note;         // --note
  std::string autostart;    // --autostart: on or off
  std::string format;       // --format: router (with --export DIR); empty: a prepared file
  bool lineGiven = false;
};

// The action and its values from the arguments (after the program's name),
// both "--x V" and "--x=V"; the environment (through `getenv`) for what the
// arguments leave out. False with `error` set when they make no sense
// together.
bool ParseCommandLine(const std::vector<std::string>& args, const std::function<const char*(const char*)>& getenv,
                      CommandLine& command, std::string& error);

// The usage text of --help.
std::string UsageText();

// Runs an action other than Window; its exit code.
int RunCommandLine(platform::System& sys, const CommandLine& command, std::FILE* out, std::FILE* err);

}  // namespace quillon::app
