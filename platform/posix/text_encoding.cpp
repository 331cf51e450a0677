#include "platform/posix/text_encoding.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

#include "platform/text.h"

namespace quillon::platform {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD
constexpr char kEuro[] = "\xE2\x82\xAC";         // U+20AC

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string FromUtf16Le(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size() * 3 / 2);
  const auto unit = [&](std::size_t i) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
  };
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    const std::uint32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
      const std::uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) {
      out += kReplacement;
    } else {
      AppendUtf8(out, u);
    }
  }
  if (i < bytes.size()) out += kReplacement;  // an odd last byte
  return out;
}

std::string FromGb18030(const std::string& bytes) {
  iconv_t cd = iconv_open("UTF-8", "GB18030");
  if (cd == reinterpret_cast<iconv_t>(-1)) return bytes;
  std::string out;
  out.resize(bytes.size() * 2 + 16);
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  std::size_t done = 0;
  while (inLeft > 0) {
    char* put = out.data() + done;
    std::size_t outLeft = out.size() - done;
    const std::size_t r = iconv(cd, &in, &inLeft, &put, &outLeft);
    done = out.size() - outLeft;
    if (r != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
    } else {
      // An invalid or cut-off sequence: one byte is replaced, and on. The
      // single byte 0x80, which GB18030 leaves out, is the euro sign in
      // code page 936, the one Windows writes these files in.
      out.resize(done);
      out += static_cast<unsigned char>(*in) == 0x80 ? kEuro : kReplacement;
      done = out.size();
      out.resize(done + inLeft * 2 + 16);
      ++in;
      --inLeft;
    }
  }
  iconv_close(cd);
  out.resize(done);
  return out;
}

}  // namespace

std::string ToUtf8(std::string bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
    return FromUtf16Le(bytes);
  }
  if (IsValidUtf8(bytes)) return bytes;
  return FromGb18030(bytes);
}

}  // namespace quillon::platform
