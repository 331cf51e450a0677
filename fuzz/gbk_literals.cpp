// Build tool of the fuzz targets: copies a UTF-8 C++ source with the non-ASCII
// text of its narrow string literals turned into octal escapes of the GBK
// bytes. This is what the Windows build's -fexec-charset=GBK does, and clang
// has no such option: the GBK fuzz targets compile the copy, so the markers
// they search for are the bytes a Chinese Windows build holds.
//
// Comments, raw strings, character literals and everything outside string
// literals are copied unchanged (identifiers may be non-ASCII too).
//
//   gbk_literals IN OUT
#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

bool ToGbk(const std::string& utf8, std::string& gbk) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  gbk.assign(utf8.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t inLeft = utf8.size();
  char* out = gbk.data();
  std::size_t outLeft = gbk.size();
  const bool ok = iconv(cd, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1);
  iconv_close(cd);
  gbk.resize(gbk.size() - outLeft);
  return ok;
}

std::string Octal(unsigned char byte) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "\\%03o", byte);
  return buffer;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: gbk_literals IN OUT\n";
    return 2;
  }
  std::ifstream inFile(argv[1], std::ios::binary);
  std::stringstream buffer;
  buffer << inFile.rdbuf();
  const std::string src = buffer.str();
  if (!inFile) {
    std::cerr << "gbk_literals: cannot read " << argv[1] << "\n";
    return 1;
  }

  std::string out;
  int converted = 0;
  std::size_t i = 0;
  const auto copyUntil = [&](std::size_t end) {
    out.append(src, i, end - i);
    i = end;
  };
  while (i < src.size()) {
    const char c = src[i];
    if (src.compare(i, 2, "//") == 0) {
      const std::size_t end = src.find('\n', i);
      copyUntil(end == std::string::npos ? src.size() : end);
    } else if (src.compare(i, 2, "/*") == 0) {
      const std::size_t end = src.find("*/", i + 2);
      copyUntil(end == std::string::npos ? src.size() : end + 2);
    } else if (c == 'R' && i + 1 < src.size() && src[i + 1] == '"') {
      // R"delim( ... )delim"
      const std::size_t open = src.find('(', i + 2);
      if (open == std::string::npos) {
        copyUntil(src.size());
        break;
      }
      const std::string close = ")" + src.substr(i + 2, open - i - 2) + "\"";
      const std::size_t end = src.find(close, open);
      copyUntil(end == std::string::npos ? src.size() : end + close.size());
    } else if (c == '\'' && !(i > 0 && std::isdigit(static_cast<unsigned char>(src[i - 1])))) {
      std::size_t end = i + 1;
      while (end < src.size() && src[end] != '\'' && src[end] != '\n') end += src[end] == '\\' ? 2 : 1;
      copyUntil(std::min(end + 1, src.size()));
    } else if (c == '"') {
      out += '"';
      ++i;
      bool changed = false;
      while (i < src.size() && src[i] != '"' && src[i] != '\n') {
        if (src[i] == '\\') {
          copyUntil(std::min(i + 2, src.size()));
          continue;
        }
        std::size_t end = i;
        while (end < src.size() && static_cast<unsigned char>(src[end]) >= 0x80) ++end;
        if (end == i) {
          out += src[i++];
          continue;
        }
        std::string gbk;
        if (!ToGbk(src.substr(i, end - i), gbk)) {
          std::cerr << "gbk_literals: text with no GBK form at byte " << i << " of " << argv[1] << "\n";
          return 1;
        }
        for (const char b : gbk) out += Octal(static_cast<unsigned char>(b));
        changed = true;
        i = end;
      }
      if (i < src.size()) out += src[i++];  // the closing quote
      converted += changed ? 1 : 0;
    } else {
      out += c;
      ++i;
    }
  }

  std::ofstream outFile(argv[2], std::ios::binary);
  outFile << out;
  if (!outFile) {
    std::cerr << "gbk_literals: cannot write " << argv[2] << "\n";
    return 1;
  }
  std::cout << "gbk_literals: " << converted << " literal(s) of " << argv[1] << " in GBK\n";
  return 0;
}
