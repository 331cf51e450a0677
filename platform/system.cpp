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

std::vector<bool> System::IniWriteMany(const std::string& file, const std::vector<IniValue>& values) {
  if (file.empty()) return std::vector<bool>(values.size(), false);
  for (const IniValue& v : values) {
    if (HasLineBreakOrNul(v.section) || HasLineBreakOrNul(v.key) || HasLineBreakOrNul(v.value)) {
      return std::vector<bool>(values.size(), false);
    }
  }
  if (values.empty()) return {};
  return WriteProfileValues(file, values);
}

std::vector<bool> System::WriteProfileValues(const std::string& file, const std::vector<IniValue>& values) {
  std::vector<bool> written;
  written.reserve(values.size());
  for (const IniValue& v : values) written.push_back(WriteProfileEntry(file, v.section, v.key, v.value));
  return written;
}

std::vector<System::IniRecord> System::IniReadKeys(const std::string& file, const std::vector<std::string>& keys) {
  std::vector<IniRecord> records;
  for (std::string& name : IniSections(file)) {
    IniRecord record;
    for (const std::string& key : keys) record.values.push_back(IniRead(file, name, key));
    record.section = std::move(name);
    records.push_back(std::move(record));
  }
  return records;
}

std::vector<Lookup> System::LookupHosts(const std::vector<std::string>& destinations, const std::string& logPath,
                                        const std::function<void(std::size_t)>& starting) {
  std::vector<Lookup> answers;
  answers.reserve(destinations.size());
  for (std::size_t i = 0; i < destinations.size(); ++i) {
    if (starting) starting(i);
    answers.push_back(LookupHost(destinations[i], logPath, true));
  }
  return answers;
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
