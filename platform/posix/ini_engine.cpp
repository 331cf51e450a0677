#include "platform/posix/ini_engine.h"

#include <algorithm>

#include <unordered_map>
#include <utility>

#include "platform/text.h"

namespace quillon::platform::ini {

namespace {

// A key line: the name and, when the line holds '=', the value.
struct KeyLine {
  std::string_view name;
  std::optional<std::string_view> value;
};

// A value as the Windows functions hand it over: as a C string, so it ends
// at its first NUL (after the blanks around it were dropped).
std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }
// A name ends at its first NUL too, and is matched without the blanks
// before that NUL.
std::string_view NameUpToNul(std::string_view text) { return Trim(UpToNul(text)); }

std::optional<KeyLine> ParseKey(std::string_view text) {
  const std::string_view line = Trim(text);
  if (line.empty()) return std::nullopt;
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return KeyLine{NameUpToNul(line), std::nullopt};
  return KeyLine{NameUpToNul(line.substr(0, equals)), UpToNul(Trim(line.substr(equals + 1)))};
}

// The name of a section header line, or nullopt for any other line.
std::optional<std::string_view> HeaderName(std::string_view text) {
  std::size_t open = 0;
  while (open < text.size() && IsBlank(static_cast<unsigned char>(text[open]))) ++open;
  if (open == text.size() || text[open] != '[') return std::nullopt;
  const std::size_t close = text.rfind(']');
  if (close == std::string_view::npos || close <= open) return std::nullopt;
  return NameUpToNul(text.substr(open + 1, close - open - 1));
}

bool HasLineBreak(std::string_view text) {
  return !text.empty() && (text.back() == '\n' || text.back() == '\r');
}

}  // namespace

bool IsBlank(unsigned char byte) {
  return byte == ' ' || (byte >= 0x09 && byte <= 0x0D) || byte == 0x1A;
}

std::string_view Trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && IsBlank(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

std::string FoldName(std::string_view name) {
  std::string folded;
  FoldNameInto(name, folded);
  return folded;
}

void FoldNameInto(std::string_view name, std::string& folded) {
  folded.assign(name);
  const bool utf8 = platform::IsValidUtf8(name);
  for (std::size_t i = 0; i < folded.size(); ++i) {
    const auto byte = static_cast<unsigned char>(folded[i]);
    if (byte >= 0x80) {
      if (!utf8) ++i;  // the second byte of a GBK character is not a letter
      continue;
    }
    if (byte >= 'A' && byte <= 'Z') folded[i] = static_cast<char>(byte - 'A' + 'a');
  }
}

std::string_view DropQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

Document::Document(std::string content) : content_(std::move(content)) { Parse(); }

void Document::Parse() {
  lines_.clear();
  sections_.clear();
  byName_.clear();
  byNameHash_.clear();
  lineBreak_ = "\n";
  bodyStart_ = content_.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  if (content_.size() > kLongest) {
    sections_.push_back(Section{0, 0, kNone, 0, 0});
    firstOf_.assign(1, 0);
    byName_.assign(1, kNone);
    byNameHash_.assign(1, 0);
    return;
  }
  // Room for every line at once: a large file would otherwise hold the
  // old and the new array while they grow.
  lines_.reserve(static_cast<std::size_t>(std::count(content_.begin(), content_.end(), '\n')) + 1);

  // Lines end at LF (a CR before it belongs to the line break); in a stretch
  // without any LF, a lone CR ends a line.
  bool breakSeen = false;
  std::size_t pos = bodyStart_;
  const auto at = [](std::size_t position) { return static_cast<std::uint32_t>(position); };
  while (pos < content_.size()) {
    std::size_t end = content_.size();
    std::size_t next = content_.size();
    const std::size_t lf = content_.find('\n', pos);
    if (lf != std::string::npos) {
      end = (lf > pos && content_[lf - 1] == '\r') ? lf - 1 : lf;
      next = lf + 1;
    } else if (const std::size_t cr = content_.find('\r', pos); cr != std::string::npos) {
      end = cr;
      next = cr + 1;
    }
    if (!breakSeen && next > end) {
      lineBreak_ = content_.substr(end, next - end);
      breakSeen = true;
    }
    lines_.push_back(Line{at(pos), at(end), at(next)});
    pos = next;
  }

  const std::uint32_t lineCount = at(lines_.size());
  sections_.push_back(Section{0, 0, kNone, 0, lineCount});
  for (std::uint32_t i = 0; i < lineCount; ++i) {
    if (const auto name = HeaderName(LineText(i))) {
      sections_.back().last = i;
      sections_.push_back(Section{at(static_cast<std::size_t>(name->data() - content_.data())), at(name->size()), i,
                                  i + 1, lineCount});
    }
  }

  // The table of first sections, at most half full.
  std::size_t capacity = 16;
  while (capacity < 2 * sections_.size()) capacity *= 2;
  byName_.assign(capacity, kNone);
  byNameHash_.assign(capacity, 0);
  firstOf_.clear();
  firstOf_.reserve(sections_.size());
  std::string folded;
  std::string other;
  for (std::uint32_t i = 0; i < sections_.size(); ++i) {
    FoldNameInto(Name(sections_[i]), folded);
    const std::size_t hash = std::hash<std::string_view>()(folded);
    const std::size_t slot = Slot(folded, hash, other);
    if (byName_[slot] == kNone) {
      byName_[slot] = i;
      byNameHash_[slot] = static_cast<std::uint32_t>(hash);
    }
    firstOf_.push_back(byName_[slot]);
  }
}

std::size_t Document::Slot(const std::string& folded, std::size_t hash, std::string& other) const {
  const std::size_t mask = byName_.size() - 1;
  std::size_t slot = hash & mask;
  for (; byName_[slot] != kNone; slot = (slot + 1) & mask) {
    if (byNameHash_[slot] != static_cast<std::uint32_t>(hash)) continue;
    FoldNameInto(Name(sections_[byName_[slot]]), other);
    if (other == folded) break;
  }
  return slot;
}

std::string_view Document::LineText(std::size_t index) const {
  const Line& line = lines_[index];
  return std::string_view(content_).substr(line.begin, line.end - line.begin);
}

std::string_view Document::BreakAt(std::size_t pos) const {
  // Where no LF follows, the lines back to the last LF end at lone CRs. An LF
  // put in there would join them into one line (a header would become part
  // of the line before it), so new lines there end in a lone CR as well.
  if (content_.find('\n', pos) != std::string::npos) return lineBreak_;
  const std::size_t lastLf = pos == 0 ? std::string::npos : content_.rfind('\n', pos - 1);
  const std::size_t stretch = lastLf == std::string::npos ? bodyStart_ : lastLf + 1;
  if (stretch < pos && content_.find('\r', stretch) < pos) return "\r";
  return lineBreak_;
}

const Document::Section* Document::Find(std::string_view section) const {
  const std::string folded = FoldName(Trim(section));
  std::string other;
  const std::size_t slot = Slot(folded, std::hash<std::string_view>()(folded), other);
  return byName_[slot] == kNone ? nullptr : &sections_[byName_[slot]];
}

std::size_t Document::FindKeyLine(const Section& section, std::string_view key) const {
  const std::string wanted = FoldName(Trim(key));
  for (std::size_t i = section.first; i < section.last; ++i) {
    const auto parsed = ParseKey(LineText(i));
    if (parsed && parsed->name.size() == wanted.size() && FoldName(parsed->name) == wanted) return i;
  }
  return kNone;
}

std::optional<std::string> Document::Value(std::string_view section, std::string_view key) const {
  const Section* found = Find(section);
  if (found == nullptr) return std::nullopt;
  const std::size_t line = FindKeyLine(*found, key);
  if (line == kNone) return std::nullopt;
  const auto parsed = ParseKey(LineText(line));
  if (!parsed->value) return std::nullopt;
  return std::string(DropQuotes(*parsed->value));
}

std::vector<std::string> Document::SectionNames() const {
  std::vector<std::string> names;
  names.reserve(sections_.size());
  for (std::size_t i = 1; i < sections_.size(); ++i) {
    if (sections_[i].nameSize != 0) names.emplace_back(Name(sections_[i]));
  }
  return names;
}

void Document::ReadKeys(const std::vector<std::string>& keys,
                        const std::function<void(std::string_view section, const KeyValues& values)>& each) const {
  // A key of ASCII letters matches a name of the same length whose bytes
  // lower to it; any other key is compared as FoldName makes both.
  std::vector<std::string> folded;
  std::vector<bool> ascii;
  for (const std::string& key : keys) {
    folded.push_back(FoldName(Trim(key)));
    ascii.push_back(std::all_of(folded.back().begin(), folded.back().end(),
                                [](char c) { return static_cast<unsigned char>(c) < 0x80; }));
  }
  const auto matches = [&](std::string_view name, std::size_t k) {
    const std::string& want = folded[k];
    if (name.size() != want.size()) return false;
    if (!ascii[k]) return FoldName(name) == want;
    for (std::size_t i = 0; i < name.size(); ++i) {
      auto byte = static_cast<unsigned char>(name[i]);
      if (byte >= 0x80) return false;
      if (byte >= 'A' && byte <= 'Z') byte = static_cast<unsigned char>(byte - 'A' + 'a');
      if (static_cast<char>(byte) != want[i]) return false;
    }
    return true;
  };
  KeyValues values(keys.size());
  std::vector<bool> found(keys.size());
  for (std::size_t i = 1; i < sections_.size(); ++i) {
    if (sections_[i].nameSize == 0) continue;
    // A name the file holds twice reads the first section's values.
    const Section& section = sections_[firstOf_[i]];
    std::fill(values.begin(), values.end(), std::nullopt);
    std::fill(found.begin(), found.end(), false);
    std::size_t left = keys.size();
    for (std::size_t line = section.first; line < section.last && left > 0; ++line) {
      const auto parsed = ParseKey(LineText(line));
      if (!parsed) continue;
      for (std::size_t k = 0; k < keys.size(); ++k) {
        if (found[k] || !matches(parsed->name, k)) continue;
        // The first line of the key decides, also when it has no value.
        found[k] = true;
        --left;
        if (parsed->value) values[k] = DropQuotes(*parsed->value);
      }
    }
    each(Name(sections_[i]), values);
  }
}

bool Document::Set(std::string_view section, std::string_view key, std::string_view value) {
  const std::string_view sectionName = Trim(section);
  const std::string_view keyName = Trim(key);
  const std::string newLine = std::string(keyName) + "=" + std::string(Trim(value));

  const Section* found = Find(sectionName);
  if (found == nullptr) {
    const std::string br(BreakAt(content_.size()));
    std::string text;
    if (content_.size() > bodyStart_ && !HasLineBreak(content_)) text += br;
    text += "[" + std::string(sectionName) + "]" + br + newLine + br;
    Splice(content_.size(), content_.size(), text);
    return true;
  }

  if (const std::size_t line = FindKeyLine(*found, keyName); line != kNone) {
    const std::string replacement = std::string(ParseKey(LineText(line))->name) + "=" + std::string(Trim(value));
    if (LineText(line) == replacement) return false;
    Splice(lines_[line].begin, lines_[line].end, replacement);
    return true;
  }

  // A new key: after the section's last non-blank line, so that blank lines
  // before the next header stay where they are.
  std::size_t after = found->header;
  for (std::size_t i = found->last; i > found->first; --i) {
    if (!Trim(LineText(i - 1)).empty()) {
      after = i - 1;
      break;
    }
  }
  const std::size_t at = after == kNone ? bodyStart_ : lines_[after].next;
  const std::string br(BreakAt(at));
  if (after != kNone && lines_[after].next == lines_[after].end) {
    Splice(at, at, br + newLine + br);
  } else {
    Splice(at, at, newLine + br);
  }
  return true;
}

bool Document::SetMany(const std::vector<Assignment>& assignments) {
  struct KeyEdit {
    std::string name;   // as first spelled
    std::string value;  // the last one given
  };
  struct SectionEdit {
    std::string name;
    const Section* existing;
    std::vector<KeyEdit> keys;
    std::unordered_map<std::string, std::size_t> byKey;
  };
  std::vector<SectionEdit> groups;
  std::unordered_map<std::string, std::size_t> byName;
  for (const Assignment& a : assignments) {
    const std::string_view sectionName = Trim(a.section);
    if (sectionName.empty()) {
      // The nameless head is edited in place of its own: one Set at a time.
      // A later Set may undo an earlier one, so compare the whole content.
      const std::string before = content_;
      for (const Assignment& each : assignments) Set(each.section, each.key, each.value);
      return content_ != before;
    }
    auto [g, isNew] = byName.emplace(FoldName(sectionName), groups.size());
    if (isNew) groups.push_back(SectionEdit{std::string(sectionName), Find(sectionName), {}, {}});
    SectionEdit& group = groups[g->second];
    const std::string_view keyName = Trim(a.key);
    auto [k, keyIsNew] = group.byKey.emplace(FoldName(keyName), group.keys.size());
    if (keyIsNew) group.keys.push_back(KeyEdit{std::string(keyName), {}});
    group.keys[k->second].value = std::string(Trim(a.value));
  }

  // What changes in the lines there are: replaced lines, and new lines after
  // a section's last non-blank line (or its header).
  std::unordered_map<std::size_t, std::string> replaced;
  std::unordered_map<std::size_t, std::vector<std::string>> insertedAfter;
  std::string appended;
  const std::string appendBreak(BreakAt(content_.size()));
  for (const SectionEdit& group : groups) {
    if (group.existing == nullptr) {
      appended += "[" + group.name + "]" + appendBreak;
      for (const KeyEdit& k : group.keys) appended += k.name + "=" + k.value + appendBreak;
      continue;
    }
    const Section& section = *group.existing;
    std::size_t after = section.header;
    for (std::size_t i = section.last; i > section.first; --i) {
      if (!Trim(LineText(i - 1)).empty()) {
        after = i - 1;
        break;
      }
    }
    for (const KeyEdit& k : group.keys) {
      const std::size_t line = FindKeyLine(section, k.name);
      if (line == kNone) {
        insertedAfter[after].push_back(k.name + "=" + k.value);
      } else {
        std::string text = std::string(ParseKey(LineText(line))->name) + "=" + k.value;
        if (LineText(line) != text) replaced[line] = std::move(text);
      }
    }
  }
  if (replaced.empty() && insertedAfter.empty() && appended.empty()) return false;

  std::string out = content_.substr(0, bodyStart_);
  out.reserve(content_.size() + appended.size() + 64 * insertedAfter.size());
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const Line& line = lines_[i];
    const auto r = replaced.find(i);
    if (r == replaced.end()) {
      out.append(content_, line.begin, line.end - line.begin);
    } else {
      out += r->second;
    }
    out.append(content_, line.end, line.next - line.end);
    const auto ins = insertedAfter.find(i);
    if (ins == insertedAfter.end()) continue;
    const std::string br(BreakAt(line.next));
    if (line.next == line.end) out += br;  // the file's last line had no line break
    for (const std::string& text : ins->second) out += text + br;
  }
  if (!appended.empty()) {
    if (out.size() > bodyStart_ && !HasLineBreak(out)) out += appendBreak;
    out += appended;
  }
  content_ = std::move(out);
  Parse();
  return true;
}

bool Document::DeleteKey(std::string_view section, std::string_view key) {
  const Section* found = Find(section);
  if (found == nullptr) return false;
  const std::size_t line = FindKeyLine(*found, key);
  if (line == kNone) return false;
  // The file's first line goes, but not its line break when the next line
  // starts with the bytes of a byte order mark: at the start of the file
  // they would be read as one, and that line's key would change its name.
  const Line& l = lines_[line];
  const bool markNext = l.begin == 0 && content_.compare(l.next, 3, "\xEF\xBB\xBF") == 0;
  Splice(l.begin, markNext ? l.end : l.next, {});
  return true;
}

bool Document::DeleteSection(std::string_view section) {
  const Section* found = Find(section);
  if (found == nullptr) return false;
  const std::size_t begin = found->header != kNone ? lines_[found->header].begin : bodyStart_;
  const std::size_t end = found->last < lines_.size() ? lines_[found->last].begin : content_.size();
  if (begin == end) return false;
  Splice(begin, end, {});
  return true;
}

void Document::Splice(std::size_t begin, std::size_t end, std::string_view text) {
  content_.replace(begin, end - begin, text);
  Parse();
}

}  // namespace quillon::platform::ini
