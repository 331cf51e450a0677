#include "platform/text.h"

namespace quillon::platform {

// Windows texts are in the ANSI code page, GBK on the systems the tool is
// made for.
CharRule SystemCharRule() { return CharRule::Gbk; }

}  // namespace quillon::platform
