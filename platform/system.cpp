#include "platform/system.h"

#include <system_error>
#include <thread>

namespace quillon::platform {

std::string SkipLeadingControlBytes(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && static_cast<unsigned char>(text[i]) <= 0x20) ++i;
  return text.substr(i);
}

bool StartDetachedThread(std::function<void()> routine) {
  if (!routine) return false;
  try {
    std::thread(std::move(routine)).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

namespace {

bool HasLineBreakOrNul(const std::string& text) {
  return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

}  // namespace

bool System::IniWrite(const std::string& file, const std::string& section,
                      const std::optional<std::string>& key, const std::optional<std::string>& value) {
  if (file.empty() || HasLineBreakOrNul(section) || (key && HasLineBreakOrNul(*key)) ||
      (value && HasLineBreakOrNul(*value))) {
    return false;
  }
  return WriteProfileEntry(file, section, key, value);
}

bool System::IniWriteMany(const std::string& file, const std::vector<IniValue>& values) {
  if (file.empty()) return false;
  for (const IniValue& v : values) {
    if (HasLineBreakOrNul(v.section) || HasLineBreakOrNul(v.key) || HasLineBreakOrNul(v.value)) return false;
  }
  return values.empty() || WriteProfileValues(file, values);
}

bool System::WriteProfileValues(const std::string& file, const std::vector<IniValue>& values) {
  bool all = true;
  for (const IniValue& v : values) all = WriteProfileEntry(file, v.section, v.key, v.value) && all;
  return all;
}

ByteArray System::HttpGetText(const std::string& url) {
  const std::string target = url.substr(0, url.find('#'));
  if (target.empty()) return {};
  return FetchHttp(target);
}

std::string System::IniRead(const std::string& file, const std::string& section,
                            const std::string& key, const std::string& fallback) {
  const std::string f = SkipLeadingControlBytes(file);
  const std::string s = SkipLeadingControlBytes(section);
  const std::string k = SkipLeadingControlBytes(key);
  if (f.empty() || s.empty() || k.empty()) return {};
  return ReadProfileString(f, s, k, fallback);
}

}  // namespace quillon::platform
