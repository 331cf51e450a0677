// Files, directories and INI files on Linux. The INI services keep the
// contract of the Windows private-profile functions (platform/posix/
// ini_engine.h has the format) and replace a file atomically on every write:
// the new content goes to a temporary file in the same directory, which is
// flushed to disk and then renamed over the old file, so a crash leaves
// either the old store or the new one, never a mixture.
//
// A store is a regular file, reached without following a symbolic link at
// its own name: a link planted where a store should be (in a directory that
// others can write) would otherwise feed another user's file in, or have a
// write overwrite it. Reads refuse such a link; writes refuse it and never
// write through one (the temporary file is made exclusively, and a rename
// replaces a directory entry, never what a link points to). Whether the
// config directory itself is sound is ConfigDirectoryProblem's question.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "platform/posix/ini_engine.h"
#include "platform/posix/posix_system.h"
#include "platform/posix/text_encoding.h"
#include "platform/text.h"

namespace quillon::platform {

namespace {

// ---- Plain file helpers -----------------------------------------------------

// Hands the open file's bytes to `piece` as they are read, up to 64 KiB
// at a time; false on a read error.
template <typename Piece>
bool ReadPieces(int fd, Piece piece) {
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    piece(std::string_view(buffer, static_cast<std::size_t>(got)));
  }
}

// Reads the whole open file; false on a read error.
bool ReadAll(int fd, std::string& out) {
  out.clear();
  // A regular file's size is known: its bytes are read without growing.
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) out.reserve(static_cast<std::size_t>(info.st_size) + 1);
  return ReadPieces(fd, [&](std::string_view piece) { out.append(piece); });
}

// The file opened for reading; -1 when the path names no regular file that
// can be opened.
int OpenRegularFile(const std::string& path) {
  if (path.empty()) return -1;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) return fd;
  ::close(fd);
  return -1;
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(put);
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Makes `path` and every missing directory above it, each for the user
// alone (0700); directories that are there already stay as they are.
void MakeDirectories(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    ::mkdir(path.substr(0, slash).c_str(), 0700);
  }
  ::mkdir(path.c_str(), 0700);
}

// ---- The INI store ----------------------------------------------------------

// What identifies one version of a file: a replaced file is a new inode, a
// file changed in place has a new size or modification time.
struct Stamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  std::int64_t seconds = 0;
  long nanoseconds = 0;

  static Stamp Of(const struct stat& info) {
    return Stamp{info.st_dev, info.st_ino, info.st_size, static_cast<std::int64_t>(info.st_mtim.tv_sec),
                 info.st_mtim.tv_nsec};
  }
  bool operator==(const Stamp&) const = default;
};

// The store is read key by key, thousands of times in a pass over a large
// list, so the parsed form of the last few files is kept and used for as
// long as the file on disk is the same version.
struct CachedFile {
  std::string path;
  Stamp stamp;
  std::shared_ptr<const ini::Document> document;
};

constexpr std::size_t kCachedFiles = 4;

// The parsed-file cache and every file read run under this lock; it is
// never held while a file is written to the disk, so a read (on the window
// thread, say) never waits for another thread's flush.
std::mutex& IniLock() {
  static std::mutex lock;
  return lock;
}

// Writes are read-modify-replace: they run one at a time, under this lock,
// or two at once would lose one change.
std::mutex& WriterLock() {
  static std::mutex lock;
  return lock;
}

std::list<CachedFile>& Cache() {
  static std::list<CachedFile> cache;
  return cache;
}

void Remember(const std::string& path, const Stamp& stamp, std::shared_ptr<const ini::Document> document) {
  auto& cache = Cache();
  for (auto it = cache.begin(); it != cache.end(); ++it) {
    if (it->path == path) {
      cache.erase(it);
      break;
    }
  }
  cache.push_front(CachedFile{path, stamp, std::move(document)});
  if (cache.size() > kCachedFiles) cache.pop_back();
}

enum class Load { Loaded, Missing, Failed };

// The parsed file (from the cache when the file has not changed). Missing:
// there is no such file. Failed: it exists but is no store (a symbolic link,
// a directory, a pipe...) or cannot be read.
Load LoadDocument(const std::string& path, std::shared_ptr<const ini::Document>& document) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return (errno == ENOENT || errno == ENOTDIR) ? Load::Missing : Load::Failed;
  if (!S_ISREG(info.st_mode)) return Load::Failed;
  for (auto& cached : Cache()) {
    if (cached.path == path && cached.stamp == Stamp::Of(info)) {
      document = cached.document;
      return Load::Loaded;
    }
  }
  // The entry may change between the look and the open: the open follows no
  // link, and does not wait on a pipe put there meanwhile.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT ? Load::Missing : Load::Failed;
  std::string content;
  const bool read = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ReadAll(fd, content);
  ::close(fd);
  if (!read) return Load::Failed;
  auto parsed = std::make_shared<const ini::Document>(ToUtf8(std::move(content)));
  Remember(path, Stamp::Of(info), parsed);
  document = std::move(parsed);
  return Load::Loaded;
}

// Writes `bytes` to a temporary file beside `path`, flushes it to disk and
// renames it over `path`; false, with nothing written, when `path` is there
// but is no regular file (a symbolic link included). A new file is readable
// and writable by its owner only (0600); a replaced file keeps the
// permissions of the old one, less any write permission for others and the
// special bits.
bool ReplaceFile(const std::string& path, const std::string& bytes, Stamp& stamp) {
  static std::atomic<unsigned> counter{0};
  const std::string directory = DirectoryOf(path);
  const std::size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);

  struct stat old {};
  const bool replacing = ::lstat(path.c_str(), &old) == 0;
  if (replacing ? !S_ISREG(old.st_mode) : errno != ENOENT) return false;

  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = directory + "/." + name + ".tmp-" + std::to_string(::getpid()) + "-" +
                std::to_string(counter.fetch_add(1));
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;

  struct stat written {};
  bool ok = (!replacing || ::fchmod(fd, old.st_mode & 0755) == 0) && WriteAll(fd, bytes) && ::fsync(fd) == 0 &&
            ::fstat(fd, &written) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary.c_str());
    return false;
  }
  // The rename itself reaches the disk with the directory.
  const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  stamp = Stamp::Of(written);
  return true;
}

}  // namespace

// ---- Files and directories --------------------------------------------------

std::string ChooseBaseDirectory(const std::string& programDirectory, bool programDirectoryWritable,
                                const char* xdgConfigHome, const char* home) {
  const bool installed = programDirectory == "/usr" || programDirectory.rfind("/usr/", 0) == 0;
  if (programDirectoryWritable && !installed) return programDirectory;
  if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') return std::string(xdgConfigHome) + "/quillon";
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.config/quillon";
  return programDirectory;
}

namespace {

// What the symbolic link `path` holds; empty when it cannot be read.
std::string ReadLink(const std::string& path) {
  std::string target(256, '\0');
  for (;;) {
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length < 0) return {};
    if (static_cast<std::size_t>(length) < target.size()) {
      target.resize(static_cast<std::size_t>(length));
      return target;
    }
    target.resize(target.size() * 2);
  }
}

}  // namespace

std::string ExecutablePath() { return ReadLink("/proc/self/exe"); }

std::string PosixSystem::ProgramDirectory() {
  std::call_once(baseOnce_, [this] {
    // The base directory is made when it is not there yet (with its parents):
    // the config directory inside it is made one level only.
    if (!homeOverride_.empty()) {
      base_ = homeOverride_;
      while (base_.size() > 1 && base_.back() == '/') base_.pop_back();
      MakeDirectories(base_);
      return;
    }
    const std::string exe = ExecutablePath();
    if (exe.empty()) return;
    const std::string directory = DirectoryOf(exe);
    base_ = ChooseBaseDirectory(directory, ::access(directory.c_str(), W_OK) == 0, std::getenv("XDG_CONFIG_HOME"),
                                std::getenv("HOME"));
    if (base_ != directory) MakeDirectories(base_);
  });
  return base_;
}

bool PosixSystem::FileExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0;
}

// The one directory made through this service is the config directory: it
// is the user's alone.
bool PosixSystem::CreateDirectory(const std::string& path) { return !path.empty() && ::mkdir(path.c_str(), 0700) == 0; }

ByteArray PosixSystem::FileRead(const std::string& path) {
  const int fd = OpenRegularFile(path);
  if (fd < 0) return {};
  std::string content;
  const bool ok = ReadAll(fd, content);
  ::close(fd);
  if (!ok) return {};
  return content;  // moved, not copied
}

void PosixSystem::FileReadPieces(const std::string& path, const std::function<void(std::string_view)>& piece) {
  const int fd = OpenRegularFile(path);
  if (fd < 0) return;
  ReadPieces(fd, piece);
  ::close(fd);
}

bool PosixSystem::FileDelete(const std::string& path) { return !path.empty() && ::unlink(path.c_str()) == 0; }

bool PosixSystem::FileWrite(const std::string& path, const ByteArray& bytes) {
  Stamp stamp;
  return !path.empty() && ReplaceFile(path, bytes, stamp);
}

std::string PosixSystem::DecodeText(const ByteArray& bytes) {
  std::string text = ToUtf8(bytes);
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  return text;
}

std::string PosixSystem::RealPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string real = resolved;
  std::free(resolved);
  return real;
}

// ---- Where the stores live ---------------------------------------------------
//
// Another user must not be able to change what the config directory's path
// leads to, or the stores in it: not by writing into the config directory
// (a store replaced), nor by writing into a directory on the way to it (the
// config directory renamed away and another put in its place), nor by owning
// one of them (an owner may change its mode at any time). So:
// - the config directory is a directory, not a symbolic link, owned by the
//   calling user (root's for root), with no write permission for its group
//   or others;
// - every directory above it, up to "/", belongs to the user or to root and
//   has no write permission for its group or others, unless its sticky bit
//   is set (as on /tmp, where only an entry's owner may rename or remove it);
// - a symbolic link on the way is followed, and the directories it leads
//   through are held to the same rule; a link in a directory that others may
//   write (a sticky one) must belong to the user or root.
// What is not there yet is no problem: the program makes it, for the user
// alone, in a directory that nobody else can write.

namespace {

std::string UserText(uid_t uid) {
  struct passwd entry {};
  struct passwd* found = nullptr;
  char buffer[4096];
  const bool named = ::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr;
  return (named ? std::string(found->pw_name) + " " : std::string()) + "(uid " + std::to_string(uid) + ")";
}

std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

bool OthersMayWrite(const struct stat& info) { return (info.st_mode & (S_IWGRP | S_IWOTH)) != 0; }

// The names between the slashes of `path`, without empty ones and ".".
std::deque<std::string> PathParts(const std::string& path) {
  std::deque<std::string> parts;
  std::size_t begin = 0;
  while (begin <= path.size()) {
    const std::size_t end = std::min(path.find('/', begin), path.size());
    if (end > begin && path.compare(begin, end - begin, ".") != 0) parts.push_back(path.substr(begin, end - begin));
    begin = end + 1;
  }
  return parts;
}

std::string JoinPath(const std::string& directory, const std::string& name) {
  return directory == "/" ? "/" + name : directory + "/" + name;
}

// The problem of a path whose status could not be read (errno says why).
std::string Unexaminable(const std::string& path) {
  const int error = errno;
  return "cannot examine " + path + ": " + std::strerror(error);
}

// Why the directory `path` (its status `info`) on the way to the config
// directory lets others change what lies below it; empty when it does not.
std::string AboveProblem(const std::string& path, const struct stat& info, uid_t self) {
  if (info.st_uid != self && info.st_uid != 0) {
    return path + ", above the config directory, belongs to " + UserText(info.st_uid) +
           ", who could put another config directory in its place";
  }
  if (OthersMayWrite(info) && (info.st_mode & S_ISVTX) == 0) {
    return "other users may write into " + path + ", above the config directory (mode " + ModeText(info.st_mode) +
           "), and put another config directory in its place";
  }
  return {};
}

}  // namespace

std::string PosixSystem::ConfigDirectoryProblem(const std::string& directory) {
  if (directory.empty()) return "no config directory was given";
  std::string absolute = directory;
  if (absolute[0] != '/') {
    char* current = ::getcwd(nullptr, 0);
    if (current == nullptr) return Unexaminable(".");
    absolute = std::string(current) + "/" + absolute;
    std::free(current);
  }
  std::deque<std::string> parts = PathParts(absolute);
  if (parts.empty() || parts.back() == "..") return "the config directory " + directory + " names no directory";
  const std::string name = parts.back();
  parts.pop_back();
  const uid_t self = ::geteuid();

  // The directories above it, from "/" down, as the system walks them:
  // `at` is where the walk stands, a path without links, checked.
  std::string at = "/";
  struct stat atInfo {};
  if (::stat("/", &atInfo) != 0) return Unexaminable("/");
  if (std::string problem = AboveProblem("/", atInfo, self); !problem.empty()) return problem;
  int links = 0;
  while (!parts.empty()) {
    const std::string part = std::move(parts.front());
    parts.pop_front();
    if (part == "..") {
      at = DirectoryOf(at);
      if (::stat(at.c_str(), &atInfo) != 0) return Unexaminable(at);
      continue;
    }
    const std::string next = JoinPath(at, part);
    struct stat info {};
    if (::lstat(next.c_str(), &info) != 0) {
      if (errno == ENOENT) return {};
      return Unexaminable(next);
    }
    if (S_ISLNK(info.st_mode)) {
      if (++links > 40) return "too many symbolic links on the way to the config directory " + directory;
      if (info.st_uid != self && info.st_uid != 0 && OthersMayWrite(atInfo)) {
        return "the symbolic link " + next + ", on the way to the config directory, belongs to " +
               UserText(info.st_uid) + " in a directory that others may write";
      }
      const std::string target = ReadLink(next);
      if (target.empty()) return Unexaminable(next);
      const std::deque<std::string> targetParts = PathParts(target);
      parts.insert(parts.begin(), targetParts.begin(), targetParts.end());
      if (target[0] == '/') {
        at = "/";
        if (::stat("/", &atInfo) != 0) return Unexaminable("/");
      }
      continue;
    }
    if (!S_ISDIR(info.st_mode)) return next + ", on the way to the config directory, is not a directory";
    if (std::string problem = AboveProblem(next, info, self); !problem.empty()) return problem;
    at = next;
    atInfo = info;
  }

  const std::string config = JoinPath(at, name);
  struct stat info {};
  if (::lstat(config.c_str(), &info) != 0) return errno == ENOENT ? std::string() : Unexaminable(config);
  if (S_ISLNK(info.st_mode)) {
    return "the config directory " + directory + " is a symbolic link; it must be a directory of its own";
  }
  if (!S_ISDIR(info.st_mode)) return "the config directory " + directory + " is not a directory";
  if (info.st_uid != self) {
    return "the config directory " + directory + " belongs to " + UserText(info.st_uid) + ", not to you, " +
           UserText(self);
  }
  if (OthersMayWrite(info)) {
    return "other users may write into the config directory " + directory + " (mode " + ModeText(info.st_mode) +
           "); make it yours alone: chmod go-w " + directory;
  }
  return {};
}

// ---- INI files --------------------------------------------------------------

namespace {

// A value as the read gives it: the fallback when there is none (the Windows
// function takes it as a C string; the engine ends values at a NUL already),
// never longer than the limit and never with part of a character.
std::string AsRead(std::optional<std::string> value, const std::string& fallback) {
  std::string result = value ? std::move(*value) : fallback;
  result.resize(std::min(result.find('\0'), result.size()));
  if (result.size() > kIniValueLimit) {
    std::size_t whole = 0;  // the end of the last character that fits
    for (;;) {
      const std::size_t next = whole + CharLength(result, whole, SystemCharRule());
      if (next > kIniValueLimit) break;
      whole = next;
    }
    result.resize(whole);
  }
  return result;
}

}  // namespace

std::string PosixSystem::ReadProfileString(const std::string& file, const std::string& section,
                                           const std::string& key, const std::string& fallback) {
  std::optional<std::string> value;
  {
    std::lock_guard<std::mutex> hold(IniLock());
    std::shared_ptr<const ini::Document> document;
    if (LoadDocument(file, document) == Load::Loaded) value = document->Value(section, key);
  }
  return AsRead(std::move(value), fallback);
}

// One parse of the file (none when it is unchanged since the last), then
// every section's values from it.
std::vector<System::IniRecord> PosixSystem::IniReadKeys(const std::string& file, const std::vector<std::string>& keys) {
  std::shared_ptr<const ini::Document> document;
  {
    std::lock_guard<std::mutex> hold(IniLock());
    if (file.empty() || LoadDocument(file, document) != Load::Loaded) return {};
  }
  std::vector<IniRecord> records;
  records.reserve(document->SectionCount());
  document->ReadKeys(keys, [&](std::string_view name, const ini::Document::KeyValues& values) {
    IniRecord& record = records.emplace_back();
    record.section = name;
    record.values.reserve(values.size());
    for (const auto& v : values) record.values.push_back(AsRead(v ? std::optional<std::string>(*v) : std::nullopt, {}));
  });
  return records;
}

namespace {

// The read-modify-replace of one file: `edit` changes the document and says
// whether anything changed. The file is written only when something did.
bool EditFile(const std::string& file, bool createsFile, const std::function<bool(ini::Document&)>& edit) {
  std::lock_guard<std::mutex> writing(WriterLock());
  std::shared_ptr<const ini::Document> loaded;
  Load load;
  {
    std::lock_guard<std::mutex> hold(IniLock());
    load = LoadDocument(file, loaded);
  }
  switch (load) {
    case Load::Failed:
      return false;
    case Load::Missing:
      // Deleting from a missing file succeeds and creates nothing; a value
      // creates the file, but never its directory.
      if (!IsDirectory(DirectoryOf(file))) return false;
      if (!createsFile) return true;
      loaded = std::make_shared<const ini::Document>();
      break;
    case Load::Loaded:
      break;
  }
  auto edited = std::make_shared<ini::Document>(*loaded);
  if (!edit(*edited)) return true;
  Stamp stamp;
  if (!ReplaceFile(file, edited->Content(), stamp)) return false;
  std::lock_guard<std::mutex> hold(IniLock());
  Remember(file, stamp, std::move(edited));
  return true;
}

}  // namespace

bool PosixSystem::WriteProfileEntry(const std::string& file, const std::string& section,
                                    const std::optional<std::string>& key, const std::optional<std::string>& value) {
  // Texts here are UTF-8; other bytes would make the file one that is read
  // as another code page.
  if (!IsValidUtf8(section) || !IsValidUtf8(key.value_or("")) || !IsValidUtf8(value.value_or(""))) return false;
  return EditFile(file, key && value, [&](ini::Document& d) {
    return !key ? d.DeleteSection(section) : !value ? d.DeleteKey(section, *key) : d.Set(section, *key, *value);
  });
}

// One replacement of the file for the whole batch: all of it lands, or none.
std::vector<bool> PosixSystem::WriteProfileValues(const std::string& file, const std::vector<IniValue>& values) {
  std::vector<ini::Document::Assignment> assignments;
  assignments.reserve(values.size());
  for (const IniValue& v : values) {
    if (!IsValidUtf8(v.section) || !IsValidUtf8(v.key) || !IsValidUtf8(v.value)) {
      return std::vector<bool>(values.size(), false);
    }
    assignments.push_back({v.section, v.key, v.value});
  }
  const bool written = EditFile(file, true, [&](ini::Document& d) { return d.SetMany(assignments); });
  return std::vector<bool>(values.size(), written);
}

std::vector<std::string> PosixSystem::IniSections(const std::string& file) {
  if (file.empty()) return {};
  std::lock_guard<std::mutex> hold(IniLock());
  std::shared_ptr<const ini::Document> document;
  if (LoadDocument(file, document) != Load::Loaded) return {};
  return document->SectionNames();
}

}  // namespace quillon::platform
