// The private-profile engine of the Linux backend: parses the bytes of an INI
// file and edits them the way the Windows private-profile functions do, and
// nothing else (no file access; platform/posix/files_ini.cpp does that).
//
// The format as the Windows functions read it:
// - A line whose first non-blank byte is '[' and that holds a ']' starts a
//   section; its name lies between the '[' and the LAST ']' of the line,
//   blanks around it dropped (so "[ a ]" is "a", "[a] junk" is "a").
//   A '[' line without ']' is an ordinary line of the current section.
// - Other lines are keys: the name up to the first '=', the value after it,
//   blanks around both dropped. A line without '=' names a key that has no
//   value (reading it gives the default). There is no comment syntax: a line
//   ";x=1" is the key ";x", which no caller asks for.
// - Lines before the first header belong to a nameless head section.
// - Names match without regard to ASCII case; the first section and the first
//   key of a name win, for reading and for writing alike.
// - A NUL ends a section name, key name or value (the functions hand texts
//   over as C strings): "k\0x=v" is the key "k", "[a\0b]" the section "a".
//   The blanks around the whole value go first, so "  v  \0 w" reads "v  ";
//   a name loses the blanks before the NUL as well, since names are always
//   matched trimmed.
// - A value enclosed in a matching pair of '"' or '\'' loses the pair on read
//   (after the NUL's cut).
// - Blanks are space, tab, CR, LF, VT, FF and 0x1A (the old end-of-file mark).
// - A UTF-8 byte order mark at the start is not part of the first line.
// - A text of 4 GiB or more reads as holding nothing (positions are kept in
//   32 bits: at 100,000 sections the parsed form takes a third of what it
//   would take in 64).
//
// Edits change the one line concerned and keep every other byte, including
// the line breaks (new lines take the file's own line break, LF in a file
// that has none yet; where the lines before them end in lone CRs and no LF
// follows, a lone CR, so that those lines stay apart).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::platform::ini {

bool IsBlank(unsigned char byte);
std::string_view Trim(std::string_view text);

// The form of a name in which case does not matter: ASCII letters lowered.
// In a text that is not valid UTF-8 (a GBK text) the second byte of a
// double-byte character is never lowered, so two GBK characters that differ
// only there stay different.
std::string FoldName(std::string_view name);
// FoldName into `out` (its room is used again).
void FoldNameInto(std::string_view name, std::string& out);

// The value as the read functions return it: a matching pair of quotes
// around the (already trimmed) value removed.
std::string_view DropQuotes(std::string_view value);

class Document {
 public:
  Document() { Parse(); }
  explicit Document(std::string content);

  const std::string& Content() const { return content_; }

  // The value of the first key `key` in the first section `section` (both
  // trimmed, matched without regard to case), trimmed and without quotes;
  // nullopt when the section or key is missing or the key has no '='.
  std::optional<std::string> Value(std::string_view section, std::string_view key) const;

  // Names of the sections in file order, duplicates included; the head and
  // sections whose name is empty are not listed.
  std::vector<std::string> SectionNames() const;
  // How many sections there are at most in SectionNames (room to reserve).
  std::size_t SectionCount() const { return sections_.size() - 1; }

  // For each section SectionNames lists, in its order: `each` gets its name
  // and, for each of `keys`, what Value(name, key) gives (nullopt where it
  // gives nothing), as views into the content: no copy, one walk over each
  // section's lines.
  using KeyValues = std::vector<std::optional<std::string_view>>;
  void ReadKeys(const std::vector<std::string>& keys,
                const std::function<void(std::string_view section, const KeyValues& values)>& each) const;

  // Each edit returns true when the content changed.
  // Sets `key` in the first section `section` (names and value trimmed): the
  // key's line is rewritten in place ("name=value", the name as the file
  // spells it); a new key goes after the last non-blank line of the section;
  // a new section is appended at the end of the file.
  bool Set(std::string_view section, std::string_view key, std::string_view value);
  // One Set in a batch.
  struct Assignment {
    std::string section;
    std::string key;
    std::string value;
  };
  // The same content as the Sets one after the other, made in one pass over
  // the file however many there are (an import sets thousands at once).
  bool SetMany(const std::vector<Assignment>& assignments);
  // Removes the line of the first key `key` of the first section `section`.
  bool DeleteKey(std::string_view section, std::string_view key);
  // Removes the first section `section`: its header and every line up to the
  // next header.
  bool DeleteSection(std::string_view section);

 private:
  struct Line {
    std::uint32_t begin;  // first byte of the line
    std::uint32_t end;    // end of the text, where the line break starts
    std::uint32_t next;   // start of the next line (after the line break)
  };
  struct Section {
    std::uint32_t nameAt;    // the name: its bytes in the content
    std::uint32_t nameSize;
    std::uint32_t header;    // line index of the header; kNone for the head
    std::uint32_t first;     // first line after the header
    std::uint32_t last;      // one past the last line of the section
  };
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
  // Texts this long or longer are not parsed.
  static constexpr std::size_t kLongest = 0xFFFFFFFEu;

  void Parse();
  std::string_view Name(const Section& section) const {
    return std::string_view(content_).substr(section.nameAt, section.nameSize);
  }
  // The slot of the table of first sections that holds the folded name
  // `folded` (of hash `hash`), else the free slot where it would go.
  // `other` is room for the names compared.
  std::size_t Slot(const std::string& folded, std::size_t hash, std::string& other) const;
  const Section* Find(std::string_view section) const;
  std::size_t FindKeyLine(const Section& section, std::string_view key) const;
  std::string_view LineText(std::size_t index) const;
  // The line break of new lines put in at `pos` (a line start or the end).
  std::string_view BreakAt(std::size_t pos) const;
  // Replaces content_[begin, end) with `text` and parses again.
  void Splice(std::size_t begin, std::size_t end, std::string_view text);

  std::string content_;
  std::size_t bodyStart_ = 0;  // after the byte order mark, if any
  std::string lineBreak_ = "\n";
  std::vector<Line> lines_;
  std::vector<Section> sections_;  // sections_[0] is the head
  // The first section of each folded name: an open-addressing table of
  // section indexes (kNone: free), with the low bits of each one's hash.
  std::vector<std::uint32_t> byName_;
  std::vector<std::uint32_t> byNameHash_;
  std::vector<std::uint32_t> firstOf_;  // per section, the first one of its name
};

}  // namespace quillon::platform::ini
