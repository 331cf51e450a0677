#include "app/command_line.h"

#include <string>
#include <unordered_set>
#include <vector>

#include "app/console_ui.h"
#include "import/prepared_import.h"
#include "platform/safety.h"
#include "routing/config_paths.h"
#include "routing/split_list.h"
#include "routing/split_routes.h"
#include "routing/split_store.h"
#include "routing/split_workers.h"

namespace quillon::app {

using Action = CommandLine::Action;
using platform::Control;

namespace {

// One line of a message: its line breaks become blanks.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

void PrintRow(std::FILE* out, const platform::Row& row) {
  for (std::size_t i = 0; i < row.size(); ++i) std::fprintf(out, "%s%s", i ? "\t" : "", row[i].c_str());
  std::fputc('\n', out);
}

int Fail(std::FILE* err, const std::string& text) {
  std::fprintf(err, "quillon: %s\n", OneLine(text).c_str());
  return 1;
}

bool TakeRoutingLock(platform::System& sys, std::FILE* err) {
  if (sys.LockRouting(routing::ConfigFile(sys, "routing.lock"))) return true;
  Fail(err, "another Quillon (a window or the service) is routing the split list; stop it first");
  return false;
}

int List(platform::System& sys, std::FILE* out) {
  ConsoleUi ui;
  routing::ReloadSplitList(sys, ui);
  for (const auto& row : ui.Rows()) PrintRow(out, row);
  return 0;
}

int Add(platform::System& sys, const CommandLine& c, std::FILE* out, std::FILE* err) {
  routing::EnsureConfigDirectory(sys);
  ConsoleUi ui;
  ui.WriteControlText(Control::编辑框2, c.destination);
  ui.WriteControlText(Control::组合框1, c.line);
  ui.WriteControlText(Control::编辑框1, c.note);
  routing::SplitRouter router(sys, ui);
  routing::SplitWorkers workers(sys, ui, router);
  workers.AddEntry();
  if (const auto messages = ui.Messages(); !messages.empty()) return Fail(err, messages.front().text);
  const auto rows = ui.Rows();
  if (rows.empty()) return Fail(err, c.destination + " has no IPv4 address in its lookup answer; nothing was stored");
  PrintRow(out, rows.front());
  return 0;
}

int Import(platform::System& sys, const CommandLine& c, std::FILE* out, std::FILE* err) {
  if (sys.FileRead(c.file).empty()) return Fail(err, "cannot read " + c.file);
  routing::EnsureConfigDirectory(sys);
  ConsoleUi ui;
  importing::ImportSplitFile(sys, ui, c.file, c.line);
  const auto messages = ui.Messages();
  for (const auto& m : messages) std::fprintf(messages.size() > 1 ? err : out, "%s\n", OneLine(m.text).c_str());
  return messages.size() > 1 ? 1 : 0;  // more than the count: the file was refused part way
}

int Export(platform::System& sys, const CommandLine& c, std::FILE* out, std::FILE* err) {
  std::vector<platform::System::IniValue> values;
  std::unordered_set<std::string> seen;
  for (const routing::SplitEntry& e : routing::ReadSplitStore(sys, routing::SplitStore(sys))) {
    if (!seen.insert(e.destination).second) continue;
    values.push_back({e.destination, "xl", e.line});
    values.push_back({e.destination, "zt", e.status});
    values.push_back({e.destination, "bz", e.note});
  }
  // A new file: what was there before is replaced, not merged into.
  if (sys.FileExists(c.file) && !sys.FileDelete(c.file)) return Fail(err, "cannot replace " + c.file);
  if (!values.empty() && !sys.IniWriteMany(c.file, values)) return Fail(err, "cannot write " + c.file);
  std::fprintf(out, "exported %zu entries to %s\n", seen.size(), c.file.c_str());
  return 0;
}

int Apply(platform::System& sys, std::FILE* out, std::FILE* err) {
  routing::EnsureConfigDirectory(sys);
  if (!TakeRoutingLock(sys, err)) return 1;
  ConsoleUi ui;
  routing::SplitRouter router(sys, ui);
  const auto c = router.RouteAllEntries();
  std::fprintf(out, "routes added %d, replaced %d, deleted %d, already right %d\n", c.added, c.replaced, c.deleted,
               c.kept);
  if (c.refused > 0) {
    return Fail(err, "no right to change routes (" + std::to_string(c.refused) +
                         " requests refused); run: " + sys.RouteRightsAdvice());
  }
  return 0;
}

int Why(platform::System& sys, const CommandLine& c, std::FILE* out, std::FILE* err) {
  if (!platform::IsSafeDestination(c.destination)) {
    std::fprintf(err, "quillon: %s is no destination Quillon looks up\n", OneLine(c.destination).c_str());
    return 2;
  }
  routing::SplitEntry entry;
  bool listed = false;
  for (routing::SplitEntry& e : routing::ReadSplitStore(sys, routing::SplitStore(sys))) {
    if (e.destination == c.destination) {
      entry = std::move(e);
      listed = true;
      break;
    }
  }
  routing::EnsureConfigDirectory(sys);  // the lookup's log lies there
  const auto answer = routing::LookupDestination(sys, c.destination);
  const auto found = routing::ExtractAnswerAddresses(answer.output, c.destination);
  std::string addresses;
  for (const auto& a : found.addresses) addresses += (addresses.empty() ? "" : ", ") + a;
  std::fprintf(out, "destination: %s\n", c.destination.c_str());
  std::fprintf(out, "lookup answer: %s\n", addresses.empty() ? "no IPv4 address" : addresses.c_str());
  const bool routes = listed && entry.status == routing::kEnabled && platform::IsGatewayText(entry.line);
  if (!listed) {
    std::fprintf(out, "line: not in the split list\n");
  } else {
    std::fprintf(out, "line: %s (%s)\n", entry.line.empty() ? "none" : entry.line.c_str(),
                 routes ? "enabled" : entry.status == routing::kEnabled ? "not a gateway: its networks get no route"
                                                                         : "disabled: its networks get no route");
  }
  std::unordered_set<std::string> shown;
  for (const std::string& n : routing::RoutedNetworks(answer.output, c.destination, routing::OwnNetworks(sys))) {
    if (!shown.insert(n).second) continue;
    const std::string now = sys.NetworkRoute(n);
    std::string text = n + "/24: " + (now.empty() ? "no route now" : "routed through " + now + " now");
    if (routes && now != entry.line) text += " (the next pass routes it through " + entry.line + ")";
    std::fprintf(out, "%s\n", text.c_str());
  }
  return 0;
}

int Service(platform::System& sys, std::FILE* out, std::FILE* err) {
  routing::EnsureConfigDirectory(sys);
  if (!TakeRoutingLock(sys, err)) return 1;
  ConsoleUi ui;
  ui.onMessage = [err](const ConsoleUi::Message& m) {
    std::fprintf(err, "quillon: %s\n", OneLine(m.text).c_str());
    std::fflush(err);
  };
  std::fprintf(out, "quillon: routing the split list of %s now and every minute\n", routing::SplitStore(sys).c_str());
  std::fflush(out);
  {
    routing::SplitRouter router(sys, ui);
    routing::SplitWorkers workers(sys, ui, router);
    if (!sys.RunUntilStopSignal([&] { workers.StartReapply(); })) {
      std::fprintf(err, "quillon: --service runs on Linux only\n");
      return 2;
    }
    // Leaving the scope stops the workers and waits for a pass in progress:
    // the table is never left half done.
  }
  std::fprintf(out, "quillon: stopped\n");
  return 0;
}

}  // namespace

std::string UsageText() {
  return "usage: quillon [--home DIR] [--site HOST[:PORT]]                 the window\n"
         "       quillon --list                                             the split list, tab-separated\n"
         "       quillon --add DEST --line GW [--note TEXT]                 look DEST up and store it\n"
         "       quillon --import FILE [--line GW]                          import a prepared split file\n"
         "       quillon --export FILE                                      write the list as a prepared file\n"
         "       quillon --apply                                            route every entry once\n"
         "       quillon --why DEST                                         how DEST is routed, and why\n"
         "       quillon --service                                          route every minute until SIGTERM\n"
         "Exit codes: 0 success, 1 failure, 2 bad arguments.\n";
}

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& command, std::string& error) {
  command = CommandLine{};
  bool noteGiven = false;
  const auto setAction = [&](Action a, const std::string& name) {
    if (command.action != Action::Window) {
      error = name + " cannot come with another action";
      return false;
    }
    command.action = a;
    return true;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const auto value = [&](std::string& into) {
      if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return false;
      }
      into = args[++i];
      return true;
    };
    std::string skipped;
    if (a == "--home" || a == "--site") {
      if (!value(skipped)) return false;
    } else if (a.rfind("--home=", 0) == 0 || a.rfind("--site=", 0) == 0) {
    } else if (a == "--help" || a == "-h") {
      if (!setAction(Action::Help, a)) return false;
    } else if (a == "--list") {
      if (!setAction(Action::List, a)) return false;
    } else if (a == "--apply") {
      if (!setAction(Action::Apply, a)) return false;
    } else if (a == "--service") {
      if (!setAction(Action::Service, a)) return false;
    } else if (a == "--add" || a == "--why") {
      if (!setAction(a == "--add" ? Action::Add : Action::Why, a) || !value(command.destination)) return false;
    } else if (a == "--import" || a == "--export") {
      if (!setAction(a == "--import" ? Action::Import : Action::Export, a) || !value(command.file)) return false;
    } else if (a == "--line") {
      if (!value(command.line)) return false;
      command.lineGiven = true;
    } else if (a == "--note") {
      if (!value(command.note)) return false;
      noteGiven = true;
    } else {
      error = "unknown argument " + a;
      return false;
    }
  }
  if (command.action == Action::Add && !command.lineGiven) {
    error = "--add needs --line GW";
    return false;
  }
  if (command.lineGiven && command.action != Action::Add && command.action != Action::Import) {
    error = "--line goes with --add or --import";
    return false;
  }
  if (noteGiven && command.action != Action::Add) {
    error = "--note goes with --add";
    return false;
  }
  if (command.lineGiven && !platform::IsGatewayText(command.line)) {
    error = "--line " + command.line + " is not the dotted IPv4 address of a gateway";
    return false;
  }
  if ((command.action == Action::Import || command.action == Action::Export) && command.file.empty()) {
    error = "the file name is empty";
    return false;
  }
  return true;
}

int RunCommandLine(platform::System& sys, const CommandLine& command, std::FILE* out, std::FILE* err) {
  switch (command.action) {
    case Action::Help: std::fputs(UsageText().c_str(), out); return 0;
    case Action::List: return List(sys, out);
    case Action::Add: return Add(sys, command, out, err);
    case Action::Import: return Import(sys, command, out, err);
    case Action::Export: return Export(sys, command, out, err);
    case Action::Apply: return Apply(sys, out, err);
    case Action::Why: return Why(sys, command, out, err);
    case Action::Service: return Service(sys, out, err);
    case Action::Window: break;
  }
  return 2;
}

}  // namespace quillon::app
