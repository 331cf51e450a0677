// The private-profile engine (platform/posix/ini_engine) and the decoding of
// stored files (ToUtf8) on arbitrary bytes.
//
// Input: a 20-byte header, then the file. The header picks the texts of the
// edits (a section from the file's own list, or a slice of the file's bytes)
// and whether the file goes through ToUtf8 first, as the Linux build reads it:
//   [0]      flags: 1 = ToUtf8 first, 2 = s from the list, 4 = s2 from the list
//   [1..3]   s   (slice: offset low, offset high, length; or [1] = list index)
//   [4..6]   k,  [7..9] v,  [10..12] s2,  [13..15] k2,  [16..18] v2,  [19] unused
// Texts lose CR, LF and NUL (no caller can pass them: the System refuses
// them). A key also loses '=' and any leading '[' or UTF-8 byte order mark
// (such a key line would be a header, or, as the file's first line, lose
// its first bytes to the mark; the stores' keys are fixed short names).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/ini_engine.h"
#include "platform/posix/text_encoding.h"
#include "platform/text.h"

namespace {

namespace ini = quillon::platform::ini;
using ini::Document;
using Names = std::vector<std::string>;

// The texts of the input being run, printed when an invariant fails.
struct Context {
  const std::string* file = nullptr;
  const std::string* texts[6] = {};
};
Context context;

void Print(const char* label, const std::string* text) {
  if (text == nullptr) return;
  std::fprintf(stderr, "  %s \"", label);
  for (const char c : *text) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F && c != '"' && c != '\\') {
      std::fputc(c, stderr);
    } else {
      std::fprintf(stderr, "\\x%02X", b);
    }
  }
  std::fprintf(stderr, "\"\n");
}

[[noreturn]] void Fail(const char* what, int line) {
  std::fprintf(stderr, "fuzz_ini: invariant failed at line %d: %s\n", line, what);
  Print("file", context.file);
  const char* labels[6] = {"s", "k", "v", "s2", "k2", "v2"};
  for (int i = 0; i < 6; ++i) Print(labels[i], context.texts[i]);
  std::abort();
}
#define CHECK(cond) \
  do {                                   \
    if (!(cond)) Fail(#cond, __LINE__);  \
  } while (false)

std::string Clean(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c != '\r' && c != '\n' && c != '\0') out += c;
  }
  return out;
}

std::string CleanKey(std::string_view text) {
  std::string key;
  for (const char c : Clean(text)) {
    if (c != '=') key += c;
  }
  std::string_view trimmed = ini::Trim(key);
  while (true) {
    if (!trimmed.empty() && trimmed.front() == '[') {
      trimmed = ini::Trim(trimmed.substr(1));
    } else if (trimmed.substr(0, 3) == "\xEF\xBB\xBF") {
      trimmed = ini::Trim(trimmed.substr(3));
    } else {
      return std::string(trimmed);
    }
  }
}

// What reading gives back for a written value: trimmed, and a matching pair
// of quotes around it dropped.
std::string AsRead(std::string_view value) {
  std::string_view v = ini::Trim(value);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
  return std::string(v);
}

bool SameName(std::string_view a, std::string_view b) {
  return ini::FoldName(ini::Trim(a)) == ini::FoldName(ini::Trim(b));
}

// Whether Set(section, ...) finds a section (the nameless head for a blank name).
bool Listed(const Names& names, std::string_view section) {
  if (ini::Trim(section).empty()) return true;
  for (const std::string& n : names) {
    if (SameName(n, section)) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kHeader = 20;
  std::uint8_t h[kHeader] = {};
  const std::size_t headerBytes = size < kHeader ? size : kHeader;
  if (headerBytes > 0) std::memcpy(h, data, headerBytes);
  const std::string raw(reinterpret_cast<const char*>(data) + headerBytes, size - headerBytes);

  // The decoding of a stored file: UTF-8 whatever came in, and stable.
  const std::string utf8 = quillon::platform::ToUtf8(raw);
  CHECK(quillon::platform::IsValidUtf8(utf8));
  CHECK(quillon::platform::ToUtf8(utf8) == utf8);

  const Document original((h[0] & 1) ? utf8 : raw);
  const Names names = original.SectionNames();
  CHECK(Document(original.Content()).SectionNames() == names);

  const auto slice = [&](const std::uint8_t* p) -> std::string {
    if (raw.empty()) return {};
    const std::size_t offset = (p[0] | static_cast<std::size_t>(p[1]) << 8) % raw.size();
    return raw.substr(offset, p[2]);
  };
  const auto section = [&](bool fromList, const std::uint8_t* p) {
    return Clean(fromList && !names.empty() ? names[p[0] % names.size()] : slice(p));
  };
  const std::string s = section(h[0] & 2, h + 1);
  const std::string k = CleanKey(slice(h + 4));
  const std::string v = Clean(slice(h + 7));
  const std::string s2 = section(h[0] & 4, h + 10);
  const std::string k2 = CleanKey(slice(h + 13));
  const std::string v2 = Clean(slice(h + 16));
  const bool sameKey = SameName(s, s2) && SameName(k, k2);
  context = Context{&original.Content(), {&s, &k, &v, &s2, &k2, &v2}};

  // A written value reads back; no section is lost or added but the new
  // one; another key keeps its value.
  Document doc = original;
  const bool changed = doc.Set(s, k, v);
  CHECK(changed == (doc.Content() != original.Content()));
  CHECK(doc.Value(s, k) == AsRead(v));
  Names expected = names;
  if (!Listed(names, s)) expected.emplace_back(ini::Trim(s));
  CHECK(doc.SectionNames() == expected);
  if (!sameKey) CHECK(doc.Value(s2, k2) == original.Value(s2, k2));
  CHECK(Document(doc.Content()).SectionNames() == doc.SectionNames());

  // A batch makes the content of its Sets one after the other.
  Document oneByOne = doc;
  oneByOne.Set(s2, k2, v2);
  CHECK(oneByOne.Value(s2, k2) == AsRead(v2));
  if (!sameKey) CHECK(oneByOne.Value(s, k) == AsRead(v));
  Document batch = original;
  const bool batchChanged = batch.SetMany({{s, k, v}, {s2, k2, v2}});
  CHECK(batch.Content() == oneByOne.Content());
  CHECK(batchChanged == (batch.Content() != original.Content()));

  // Deleting a section removes the first listing of its name, and nothing else.
  Document withoutSection = original;
  const bool sectionDeleted = withoutSection.DeleteSection(s2);
  Names afterDelete = names;
  if (!ini::Trim(s2).empty()) {
    for (auto it = afterDelete.begin(); it != afterDelete.end(); ++it) {
      if (SameName(*it, s2)) {
        afterDelete.erase(it);
        CHECK(sectionDeleted);
        break;
      }
    }
  }
  CHECK(withoutSection.SectionNames() == afterDelete);
  CHECK(sectionDeleted == (withoutSection.Content() != original.Content()));
  if (!SameName(s, s2)) CHECK(withoutSection.Value(s, k) == original.Value(s, k));
  CHECK(Document(withoutSection.Content()).SectionNames() == afterDelete);

  // Deleting a key keeps every section and every other key.
  Document withoutKey = original;
  const bool keyDeleted = withoutKey.DeleteKey(s2, k2);
  CHECK(keyDeleted == (withoutKey.Content() != original.Content()));
  CHECK(withoutKey.SectionNames() == names);
  if (!sameKey) CHECK(withoutKey.Value(s, k) == original.Value(s, k));
  return 0;
}
