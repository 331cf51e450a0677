// A change of the machine's network that may call for the split routes to be
// put back: reported by the System backend as it happens, judged by the
// routing logic.
#pragma once

#include "platform/ipv4.h"

namespace quillon::platform {

struct NetworkEvent {
  enum Kind {
    LinkUp,        // an interface came up (administratively and with carrier)
    AddressAdded,  // an IPv4 address was added to an interface
    RouteAdded,    // an IPv4 route of the main table appeared
    RouteDeleted,  // an IPv4 route of the main table went away
  } kind = LinkUp;
  Prefix prefix;     // routes: the destination (0.0.0.0/0 for a default route)
  Ipv4 gateway = 0;  // routes: the first next hop's gateway, 0 for none
  int protocol = 0;  // routes: the route's protocol number (kRouteProtocol for Quillon's own)
  bool operator==(const NetworkEvent&) const = default;
};

}  // namespace quillon::platform
