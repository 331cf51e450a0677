#include "platform/text.h"

namespace quillon::platform {

// Linux texts are UTF-8.
CharRule SystemCharRule() { return CharRule::Utf8; }

}  // namespace quillon::platform
