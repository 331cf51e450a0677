#include "app/command_line.h"

#include <string>
#include <unordered_set>
#include <vector>

#include "app/messages.h"
#include "app/split_rows.h"
#include "import/prepared_import.h"
#include "import/router_export.h"
#include "lines/lines.h"
#include "platform/safety.h"
#include "quillon/site.h"
#include "routing/config_paths.h"
#include "routing/split_routes.h"
#include "routing/split_store.h"
#include "routing/split_workers.h"

namespace quillon::app {

using Action = CommandLine::Action;
using Outcome = platform::RouteReport::Outcome;

namespace {

// One option of the command line.
struct Option {
  const char* name;
  const char* value;                // the value's name in the usage text; nullptr: takes none
  std::string CommandLine::*field;  // where the value goes
  Action action;                    // the action it names; Window: an option of others
  const char* companions;           // usage: the options that go with the action
  const char* help;                 // usage: what the action does
};

constexpr Option kOptions[] = {
    {"--list", nullptr, nullptr, Action::List, "", "the split list, tab-separated"},
    {"--add", "DEST", &CommandLine::destination, Action::Add, " --line GW [--note TEXT]", "look DEST up and store it"},
    {"--import", "FILE", &CommandLine::file, Action::Import, " [--line GW]", "import a prepared split file or a shared list"},
    {"--export", "FILE", &CommandLine::file, Action::Export, " [--format router]",
     "write the list as a prepared file (router: into folder FILE)"},
    {"--apply", nullptr, nullptr, Action::Apply, "", "route every entry once"},
    {"--clear", nullptr, nullptr, Action::Clear, "", "remove every route Quillon made"},
    {"--why", "DEST", &CommandLine::destination, Action::Why, "", "how DEST is routed, and why"},
    {"--service", nullptr, nullptr, Action::Service, "", "route every minute until SIGTERM"},
    {"--autostart", "on|off", &CommandLine::autostart, Action::Autostart, "", "start with your logon (Windows)"},
    {"--help", nullptr, nullptr, Action::Help, "", "this text"},
    {"-h", nullptr, nullptr, Action::Help, nullptr, nullptr},
    {"--line", "GW", &CommandLine::line, Action::Window, nullptr, nullptr},
    {"--note", "TEXT", &CommandLine::note, Action::Window, nullptr, nullptr},
    {"--format", "router", &CommandLine::format, Action::Window, nullptr, nullptr},
    {"--home", "DIR", &CommandLine::home, Action::Window, nullptr, nullptr},
    {"--site", "HOST[:PORT]", &CommandLine::site, Action::Window, nullptr, nullptr},
};

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
  if (sys.LockRouting(routing::ConfigFile(sys, routing::kRoutingLockName))) return true;
  Fail(err, "another Quillon (a window or the service) is routing the split list; stop it first");
  return false;
}

// A plan the system refused as a whole: one line on standard error.
bool Refused(const platform::RouteReport& report, std::FILE* err) {
  if (report.outcome == Outcome::Done) return false;
  Fail(err, (report.outcome == Outcome::NoRights ? "no right to change routes: " : "") + report.reason);
  return true;
}

int List(platform::System& sys, std::FILE* out) {
  lines::LineDirectory lines(sys);
  const platform::ListRows rows = SplitRows(routing::SplitStore::Main(sys).Entries(), lines);
  for (std::size_t i = 0; i < rows.size(); ++i) PrintRow(out, rows.At(i));
  return 0;
}

int Add(platform::System& sys, const CommandLine& c, std::FILE* out, std::FILE* err) {
  routing::EnsureConfigDirectory(sys);
  routing::SplitStore store = routing::SplitStore::Main(sys);
  routing::SplitRouter router(sys, store);
  const routing::AddOutcome outcome = router.AddEntry({c.destination, c.line, c.note});
  using Result = routing::AddOutcome::Result;
  if (outcome.result == Result::Stored) {
    PrintRow(out, SplitRow("1", outcome.entry, lines::FindLineByGateway(sys, c.line).ConnectionName));
    return 0;
  }
  if (const AddMessage message = MessageOf(outcome); !message.text.empty()) return Fail(err, message.text);
  if (outcome.result == Result::NotLookedUp) {
    return Fail(err, c.destination + " could not be looked up; nothing was stored");
  }
  return Fail(err, c.destination + " has no IPv4 address in its lookup answer; nothing was stored");
}

int Import(platform::System& sys, const CommandLine& c, std::FILE* out, std::FILE* err) {
  if (sys.FileRead(c.file).empty()) return Fail(err, "cannot read " + c.file);
  routing::EnsureConfigDirectory(sys);
  routing::SplitStore store = routing::SplitStore::Main(sys);
  const importing::ImportReport report = importing::ImportSplitFile(sys, store, sys.RealPath(c.file), c.line);
  if (report.needsLine) return Fail(err, "a list has no lines of its own: import it with --line GW");
  // A file refused part way, or a store that took not all: the lines on
  // standard error, and a failure.
  const bool failed = report.refusedAt > 0 || report.failed > 0;
  std::FILE* to = failed ? err : out;
  if (report.refusedAt > 0) std::fprintf(to, "%s\n", kOtherLayout);
  if (report.failed > 0) std::fprintf(to, "%s\n", kNotStored);
  if (!report.list) {
    std::fprintf(to, "%s\n", ImportCountText(report).c_str());
  } else {
    std::fprintf(to, "imported %d entries\n", report.stored);
    std::fprintf(to, "a list: %d skipped (no destination Quillon takes), %d already in the split list (left as they are)\n",
                 report.skipped, report.duplicates);
    if (report.names) {
      std::fprintf(to, "note: Quillon routes each name itself, not its subdomains; for whole domains use the router "
                       "export: quillon --export DIR --format router\n");
    }
  }
  return failed ? 1 : 0;
}

int Export(platform::System& sys, const CommandLine& c, std::FILE* out, std::FILE* err) {
  const std::vector<routing::SplitEntry> entries = routing::SplitStore::Main(sys).Entries();
  // A new file: what was there before is replaced, not merged into.
  if (!sys.FileWrite(c.file, {})) return Fail(err, "cannot write " + c.file);
  routing::SplitStore target(sys, c.file);
  for (const bool written : target.WriteAll(entries)) {
    if (!written) return Fail(err, "cannot write " + c.file);
  }
  std::fprintf(out, "exported %zu entries to %s\n", entries.size(), c.file.c_str());
  return 0;
}

// The split list as files for a router's dnsmasq and nftables, in the folder
// c.file (made when missing).
int ExportRouter(platform::System& sys, const CommandLine& c, std::FILE* out, std::FILE* err) {
  const importing::RouterExport r = importing::MakeRouterExport(routing::SplitStore::Main(sys).Entries());
  if (!sys.FileExists(c.file)) sys.CreateDirectory(c.file);
  const std::string sep = sys.PathSeparator();
  const std::string dir = c.file.size() > sep.size() && c.file.ends_with(sep) ? c.file : c.file + sep;
  const std::pair<const char*, const std::string*> files[] = {{importing::kRouterDnsmasqFile, &r.files.dnsmasq},
                                                              {importing::kRouterNftFile, &r.files.nftables},
                                                              {importing::kRouterScriptFile, &r.files.script}};
  for (const auto& [name, text] : files) {
    if (!sys.FileWrite(dir + name, *text)) return Fail(err, "cannot write " + dir + name);
    std::fprintf(out, "wrote %s%s\n", dir.c_str(), name);
  }
  std::fprintf(out, "lines %d, names %d, networks %d, skipped %d (neither a plain name, an address nor a prefix)\n",
               r.lines, r.names, r.networks, r.skipped);
  std::fprintf(out, "On the router each name stands for its domain and all its subdomains; Quillon on a machine "
                    "routes the names themselves.\n");
  return 0;
}

int Apply(platform::System& sys, std::FILE* out, std::FILE* err) {
  routing::EnsureConfigDirectory(sys);
  if (!TakeRoutingLock(sys, err)) return 1;
  routing::SplitStore store = routing::SplitStore::Main(sys);
  routing::SplitRouter router(sys, store);
  const platform::RouteReport r = router.RouteAllEntries();
  if (Refused(r, err)) return 1;
  std::fprintf(out, "routes added %d, replaced %d, deleted %d, already right %d\n", r.added, r.replaced, r.deleted,
               r.kept);
  for (const std::string& refusal : r.refusals) std::fprintf(err, "quillon: refused: %s\n", refusal.c_str());
  return 0;
}

int Clear(platform::System& sys, std::FILE* out, std::FILE* err) {
  routing::EnsureConfigDirectory(sys);
  if (!TakeRoutingLock(sys, err)) return 1;
  platform::RoutePlan plan;
  plan.clear = true;
  const platform::RouteReport r = sys.ApplyRoutePlan(plan);
  if (Refused(r, err)) return 1;
  std::fprintf(out, "routes removed %d\n", r.deleted);
  return 0;
}

int Autostart(platform::System& sys, const CommandLine& c, std::FILE* out, std::FILE* err) {
  std::string message;
  if (!sys.SetAutostart(c.autostart == "on", message)) return Fail(err, message);
  std::fprintf(out, "%s\n", message.c_str());
  return 0;
}

int Why(platform::System& sys, const CommandLine& c, std::FILE* out, std::FILE* err) {
  if (!platform::IsSafeDestination(c.destination)) {
    std::fprintf(err, "quillon: %s is no destination Quillon looks up\n", OneLine(c.destination).c_str());
    return 2;
  }
  routing::SplitStore store = routing::SplitStore::Main(sys);
  routing::SplitEntry entry;
  bool listed = false;
  for (routing::SplitEntry& e : store.Entries()) {
    if (e.destination == c.destination) {
      entry = std::move(e);
      listed = true;
      break;
    }
  }
  routing::EnsureConfigDirectory(sys);  // the lookup's log lies there
  platform::Prefix prefix;
  const bool isPrefix = routing::KindOf(c.destination, &prefix) == routing::DestinationKind::Prefix;
  std::vector<platform::Prefix> networks;
  std::fprintf(out, "destination: %s\n", c.destination.c_str());
  if (isPrefix) {
    std::fprintf(out, "lookup answer: none needed: a prefix is routed as it stands\n");
    networks = {prefix};
  } else {
    routing::SplitRouter router(sys, store);
    const platform::Lookup answer = router.LookUp(c.destination);
    std::string addresses;
    for (const platform::Ipv4 a : answer.addresses) addresses += (addresses.empty() ? "" : ", ") + platform::Ipv4Text(a);
    std::fprintf(out, "lookup answer: %s\n", addresses.empty() ? "no IPv4 address" : addresses.c_str());
    networks = routing::RoutedNetworks(answer, routing::OwnNetworks(sys));
  }
  const bool routes = listed && routing::RoutesThroughLine(entry);
  if (!listed) {
    std::fprintf(out, "line: not in the split list\n");
  } else {
    std::fprintf(out, "line: %s (%s)\n", entry.line.empty() ? "none" : entry.line.c_str(),
                 routes ? "enabled" : entry.status == routing::kEnabled ? "not a gateway: its networks get no route"
                                                                         : "disabled: its networks get no route");
  }
  std::unordered_set<std::string> shown;
  for (const platform::Prefix& n : networks) {
    const std::string name = platform::PrefixText(n);
    if (!shown.insert(name).second) continue;
    const platform::Ipv4 now = sys.RouteGateway(n);
    std::string text = name + ": " + (now == 0 ? "no route now" : "routed through " + platform::Ipv4Text(now) + " now");
    if (routes && platform::Ipv4Text(now) != entry.line) text += " (the next pass routes it through " + entry.line + ")";
    std::fprintf(out, "%s\n", text.c_str());
  }
  return 0;
}

int Service(platform::System& sys, std::FILE* out, std::FILE* err) {
  routing::EnsureConfigDirectory(sys);
  if (!TakeRoutingLock(sys, err)) return 1;
  routing::SplitStore store = routing::SplitStore::Main(sys);
  std::fprintf(out, "quillon: routing the split list of %s now and every minute\n", store.Path().c_str());
  std::fflush(out);
  {
    routing::SplitRouter router(sys, store);
    Outcome told = Outcome::Done;
    routing::SplitWorkers workers(sys, router, {{}, {}, [&](const platform::RouteReport& r) {
                                                  // Each refusal once, not every minute.
                                                  if (r.outcome == told || r.outcome == Outcome::Done) return;
                                                  told = r.outcome;
                                                  Refused(r, err);
                                                  std::fflush(err);
                                                }});
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
  std::string text = "usage: quillon [--home DIR] [--site HOST[:PORT]]                 the window\n";
  for (const Option& o : kOptions) {
    if (o.action == Action::Window || o.help == nullptr) continue;
    std::string form = std::string("       quillon ") + o.name + (o.value ? std::string(" ") + o.value : "") + o.companions;
    form.resize(std::max<std::size_t>(form.size() + 1, 66), ' ');
    text += form + o.help + "\n";
  }
  return text + "Exit codes: 0 success, 1 failure, 2 bad arguments.\n";
}

bool ParseCommandLine(const std::vector<std::string>& args, const std::function<const char*(const char*)>& getenv,
                      CommandLine& command, std::string& error) {
  command = CommandLine{};
  bool homeGiven = false, siteGiven = false, noteGiven = false, formatGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const std::string name = a.substr(0, a.find('='));
    const Option* option = nullptr;
    for (const Option& o : kOptions) {
      if (name == o.name) option = &o;
    }
    if (option == nullptr || (name != a && option->value == nullptr)) {
      error = "unknown argument " + a;
      return false;
    }
    if (option->action != Action::Window) {
      if (command.action != Action::Window) {
        error = name + " cannot come with another action";
        return false;
      }
      command.action = option->action;
    }
    if (option->value != nullptr) {
      if (name != a) {
        command.*(option->field) = a.substr(name.size() + 1);
      } else if (i + 1 < args.size()) {
        command.*(option->field) = args[++i];
      } else {
        error = a + " needs a value";
        return false;
      }
    }
    homeGiven = homeGiven || name == "--home";
    siteGiven = siteGiven || name == "--site";
    noteGiven = noteGiven || name == "--note";
    formatGiven = formatGiven || name == "--format";
    command.lineGiven = command.lineGiven || name == "--line";
  }
  if (!homeGiven) {
    if (const char* v = getenv("QUILLON_HOME")) command.home = v;
  }
  if (!siteGiven) {
    if (const char* v = getenv("QUILLON_SITE")) command.site = v;
  }
  if (command.site.empty()) command.site = kDefaultSiteHost;

  const Action a = command.action;
  if (a == Action::Add && !command.lineGiven) {
    error = "--add needs --line GW";
  } else if (command.lineGiven && a != Action::Add && a != Action::Import) {
    error = "--line goes with --add or --import";
  } else if (noteGiven && a != Action::Add) {
    error = "--note goes with --add";
  } else if (formatGiven && a != Action::Export) {
    error = "--format goes with --export";
  } else if (formatGiven && command.format != "router") {
    error = "--format takes router";
  } else if (command.lineGiven && !platform::IsGatewayText(command.line)) {
    error = "--line " + command.line + " is not the dotted IPv4 address of a gateway";
  } else if ((a == Action::Import || a == Action::Export) && command.file.empty()) {
    error = "the file name is empty";
  } else if (a == Action::Autostart && command.autostart != "on" && command.autostart != "off") {
    error = "--autostart takes on or off";
  }
  return error.empty();
}

int RunCommandLine(platform::System& sys, const CommandLine& command, std::FILE* out, std::FILE* err) {
  // The stores only in a config directory that nobody else can change.
  const Action a = command.action;
  if (a != Action::Help && a != Action::Autostart && a != Action::Window) {
    if (const std::string problem = sys.ConfigDirectoryProblem(routing::ConfigDirectory(sys)); !problem.empty()) {
      return Fail(err, problem);
    }
  }
  switch (command.action) {
    case Action::Help: std::fputs(UsageText().c_str(), out); return 0;
    case Action::List: return List(sys, out);
    case Action::Add: return Add(sys, command, out, err);
    case Action::Import: return Import(sys, command, out, err);
    case Action::Export:
      return command.format.empty() ? Export(sys, command, out, err) : ExportRouter(sys, command, out, err);
    case Action::Apply: return Apply(sys, out, err);
    case Action::Clear: return Clear(sys, out, err);
    case Action::Autostart: return Autostart(sys, command, out, err);
    case Action::Why: return Why(sys, command, out, err);
    case Action::Service: return Service(sys, out, err);
    case Action::Window: break;
  }
  return 2;
}

}  // namespace quillon::app
