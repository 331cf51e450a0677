// Text files that were made on other systems, as UTF-8 (the code page of the
// Linux build).
#pragma once

#include <string>

namespace quillon::platform {

// The bytes of a file as UTF-8 text. A UTF-16LE file (byte order mark FF FE,
// what Notepad saves as "Unicode") is converted, its mark becoming a UTF-8
// mark; a file that is not valid UTF-8 is read as GB18030 (which holds GBK,
// the code page of Chinese Windows) and converted, the byte 0x80 becoming
// the euro sign as in code page 936; anything else comes back as it is.
// Bytes that cannot be converted become U+FFFD.
std::string ToUtf8(std::string bytes);

}  // namespace quillon::platform
