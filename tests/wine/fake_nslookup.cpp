// A stand-in for the system's lookup tool, built as nslookup.exe into a
// directory of its own; the Wine tests copy it into the system folder. It
// records its command line like the fake route.exe (fake_tool_log.h, the same
// file), then prints what the tool of a Chinese Windows prints, in the ANSI
// code page (GBK), for the few names it knows. Every answer starts with the DNS
// server's own name and address (a routable one here), which are never to
// be routed:
//
//   multi.example.test    three addresses in two /24 networks
//   single.example.test   one address
//   off.example.test      one address (stored disabled by the tests)
//   noline.example.test   one address (stored without a line)
//   english.example.test  one address, in the English tool's format
//   an IPv4 address       no reverse name: the server part only
//   any other name        the server part and the "not found" line
#include <windows.h>

#include <cstring>
#include <string>

#include "fake_tool_log.h"

namespace {

constexpr char kServer[] = "服务器:  UnKnown\r\nAddress:  198.18.0.53\r\n\r\n";

struct Known {
  const char* name;
  const char* answer;  // what follows the server part
};

constexpr Known kKnown[] = {
    {"multi.example.test",
     "非权威应答:\r\n名称:    multi.example.test\r\n"
     "Addresses:  198.18.1.5\r\n\t  198.18.1.6\r\n\t  198.18.2.7\r\n\r\n"},
    {"single.example.test", "非权威应答:\r\n名称:    single.example.test\r\nAddress:  198.18.4.20\r\n\r\n"},
    {"off.example.test", "非权威应答:\r\n名称:    off.example.test\r\nAddress:  198.18.7.7\r\n\r\n"},
    {"noline.example.test", "非权威应答:\r\n名称:    noline.example.test\r\nAddress:  198.18.8.8\r\n\r\n"},
};

// The English tool labels its lines otherwise, the server part included.
constexpr char kEnglish[] =
    "Server:  UnKnown\r\nAddress:  198.18.0.53\r\n\r\nNon-authoritative answer:\r\n"
    "Name:    english.example.test\r\nAddress:  198.18.5.33\r\n\r\n";

// The first argument: the command line after the program's name (quoted or
// not), up to the next blank.
std::string FirstArgument() {
  const char* p = GetCommandLineA();
  if (*p == '"') {
    for (++p; *p != '\0' && *p != '"'; ++p) {}
    if (*p == '"') ++p;
  } else {
    while (*p != '\0' && *p != ' ' && *p != '\t') ++p;
  }
  while (*p == ' ' || *p == '\t') ++p;
  const char* end = p;
  while (*end != '\0' && *end != ' ' && *end != '\t') ++end;
  return std::string(p, end);
}

bool IsAddress(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789.") == std::string::npos;
}

}  // namespace

int main() {
  const int recorded = RecordCommandLine();
  const std::string name = FirstArgument();
  std::string output;
  if (name == "english.example.test") {
    output = kEnglish;
  } else {
    output = kServer;
    bool found = false;
    for (const Known& k : kKnown) {
      if (name == k.name) {
        output += k.answer;
        found = true;
      }
    }
    if (!found && !IsAddress(name)) output += "*** UnKnown 找不到 " + name + ": Non-existent domain\r\n";
  }
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), output.data(), static_cast<DWORD>(output.size()), &written, nullptr);
  return recorded;
}
