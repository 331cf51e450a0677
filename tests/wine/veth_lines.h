// Two network lines for tests under Wine, inside the private network
// namespace of wine-run.sh: each a veth pair with an address on a
// documentation range and a default route through a gateway on that range,
//   qa0 192.0.2.10/24,    default via 192.0.2.1    metric 100
//   qb0 198.51.100.10/24, default via 198.51.100.1 metric 200
// made with the Linux `ip` tool, which Wine starts by its Z: path. Nothing is
// made anywhere else: outside a fresh namespace (only the loopback) the setup
// reports so and leaves the machine alone.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstdint>
#include <memory>
#include <string>

namespace quillon::platform::wine {

// Runs a command line and waits; its exit code, or -1 when it did not start.
inline long RunAndWait(const std::string& commandLine) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return -1;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<long>(code);
}

// Runs a script (without double quotes) with the Linux shell; true when it
// exits with 0.
inline bool RunShell(const std::string& script) {
  return RunAndWait("Z:\\bin\\sh -c \"" + script + "\"") == 0;
}

// An IPv4 address a.b.c.d as the sockaddr_in field holds it.
inline std::uint32_t Ipv4(unsigned a, unsigned b, unsigned c, unsigned d) {
  return htonl((a << 24) | (b << 16) | (c << 8) | d);
}

// True when an adapter that GetAdaptersAddresses reports holds `address` and
// has `gateway` among its gateways.
inline bool AdapterWithAddressAndGateway(const IP_ADAPTER_ADDRESSES* adapters, std::uint32_t address,
                                         std::uint32_t gateway) {
  auto ipv4 = [](const SOCKET_ADDRESS& a) {
    return a.lpSockaddr != nullptr && a.lpSockaddr->sa_family == AF_INET
               ? reinterpret_cast<const sockaddr_in*>(a.lpSockaddr)->sin_addr.s_addr
               : 0u;
  };
  for (const IP_ADAPTER_ADDRESSES* a = adapters; a != nullptr; a = a->Next) {
    bool hasAddress = false, hasGateway = false;
    for (auto* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
      hasAddress = hasAddress || ipv4(u->Address) == address;
    }
    for (auto* g = a->FirstGatewayAddress; g != nullptr; g = g->Next) {
      hasGateway = hasGateway || ipv4(g->Address) == gateway;
    }
    if (hasAddress && hasGateway) return true;
  }
  return false;
}

// Wine takes a moment to see interfaces, addresses and routes that were just
// made. Waits, up to ten seconds, until its other adapter interface
// (GetAdaptersAddresses) shows both lines with their gateways.
inline bool WaitUntilWineSeesTheLines() {
  for (int attempt = 0; attempt < 100; ++attempt) {
    ULONG size = 64 * 1024;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[size]());
    auto* adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get());
    if (GetAdaptersAddresses(AF_INET, GAA_FLAG_INCLUDE_GATEWAYS, nullptr, adapters, &size) ==
            ERROR_SUCCESS &&
        AdapterWithAddressAndGateway(adapters, Ipv4(192, 0, 2, 10), Ipv4(192, 0, 2, 1)) &&
        AdapterWithAddressAndGateway(adapters, Ipv4(198, 51, 100, 10), Ipv4(198, 51, 100, 1))) {
      return true;
    }
    Sleep(100);
  }
  return false;
}

struct LinesSetup {
  bool shellStarted = false;      // Wine could start the Linux shell
  bool privateNamespace = false;  // a fresh namespace: only the loopback
  bool linesReady = false;        // both lines made and seen by Wine
};

inline LinesSetup MakeTwoLines() {
  LinesSetup setup;
  // Exactly one link, the loopback: the fresh namespace of wine-run.sh.
  // (/sys/class/net would show the namespace that mounted /sys, not ours.)
  const long check =
      RunAndWait("Z:\\bin\\sh -c \"test $(ip -o link | wc -l) -eq 1 && ip -o link show lo >/dev/null\"");
  setup.shellStarted = check != -1;
  setup.privateNamespace = check == 0;
  if (!setup.privateNamespace) return setup;
  setup.linesReady = RunShell(
      "set -e; "
      "ip link add qa0 type veth peer name qa1; ip link add qb0 type veth peer name qb1; "
      "ip addr add 192.0.2.10/24 dev qa0; ip addr add 198.51.100.10/24 dev qb0; "
      "for i in qa0 qa1 qb0 qb1; do ip link set $i up; done; "
      "ip route add default via 192.0.2.1 dev qa0 metric 100; "
      "ip route add default via 198.51.100.1 dev qb0 metric 200") &&
      WaitUntilWineSeesTheLines();
  return setup;
}

inline void RemoveTwoLines() { RunShell("ip link del qa0; ip link del qb0"); }

}  // namespace quillon::platform::wine
