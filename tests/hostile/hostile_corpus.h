// The hostile-input corpus (tests/data/hostile/cases.txt) and the one driver
// that feeds every case through every way a text gets into Quillon, with the
// real logic on the System given: typed into the add inputs, stored by hand
// in http.ini and qj.ini (and given by the gateway discovery), and imported
// from a prepared file. The callers check what reached the system.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/system.h"

namespace quillon::hostile {

struct HostileCase {
  std::string text;
  bool refusedAsDestination = false;  // tag D
  bool refusedAsLine = false;         // tag L
  std::string note;
};

// The cases of the corpus file, escapes decoded; empty when it cannot be read.
std::vector<HostileCase> LoadHostileCases(const std::string& path);

// Feeds every case through every way in. `sys` has its config directory
// already; `discovery` makes the system's gateway discovery answer the text
// given (each gateway followed by ";").
void FeedEveryWayIn(platform::System& sys, const std::vector<HostileCase>& cases,
                    const std::function<void(const std::string& gatewayText)>& discovery);

// Independent of the product's own rules: a strict dotted IPv4 address, and a
// destination of only letters, digits and . - _ : / ? # @ ~ + [ ] and bytes of
// 0x80 and above, not starting with '-'.
bool LooksLikeDottedAddress(const std::string& text);
bool LooksLikePlainDestination(const std::string& text);

}  // namespace quillon::hostile
