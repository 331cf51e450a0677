#include "helper/routing_lease.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string_view>

namespace quillon::helper {

namespace {

constexpr char kLockFile[] = "lock";
constexpr char kOwnerFile[] = "owner";
constexpr char kOwnerNew[] = "owner.new";

long SecondsSinceBoot() {
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  return static_cast<long>(now.tv_sec);
}

// The login name of `uid` from /etc/passwd (no name service module is
// loaded into this process), else "uid N".
std::string UserName(uid_t uid) {
  std::ifstream passwd("/etc/passwd");
  for (std::string line; std::getline(passwd, line);) {
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    const std::size_t third = second == std::string::npos ? second : line.find(':', second + 1);
    if (third == std::string::npos || line.compare(second + 1, third - second - 1, std::to_string(uid)) != 0) continue;
    std::string name = line.substr(0, first);
    bool plain = !name.empty() && name.size() <= 64;
    for (const char c : name) plain = plain && static_cast<unsigned char>(c) > 0x20 && c != 0x7F;
    if (plain) return "user " + name;
  }
  return "uid " + std::to_string(uid);
}

// A decimal number without sign, or -1.
long Decimal(std::string_view text) {
  if (text.empty() || text.size() > 18) return -1;
  long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

RoutingLease::~RoutingLease() {
  if (lock_ >= 0) close(lock_);
  if (directory_ >= 0) close(directory_);
}

void RoutingLease::Share(int fd) const {
  struct stat st{};
  if (fstat(fd, &st) != 0 || st.st_uid != geteuid()) return;
  // Best effort, as is the directory's below: a file left in its maker's
  // group is still replaced whole by the next owner.
  [[maybe_unused]] const int grouped = fchown(fd, static_cast<uid_t>(-1), group_);
  fchmod(fd, 0660);
}

bool RoutingLease::Lock(std::string& reason, bool& busy) {
  busy = false;
  const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  directory_ = open(kRunDirectory, flags);
  if (directory_ < 0 && errno == ENOENT && geteuid() == 0) {
    // Run as root before the package's tmpfiles.d entry made it: root and
    // the group of this program (quillon, as the package installs it).
    struct stat self{};
    const gid_t group = stat("/proc/self/exe", &self) == 0 ? self.st_gid : 0;
    if (mkdir(kRunDirectory, 0770) == 0 || errno == EEXIST) directory_ = open(kRunDirectory, flags);
    if (directory_ >= 0) {
      [[maybe_unused]] const int owned = fchown(directory_, 0, group);
      fchmod(directory_, 0770);
    }
  }
  if (directory_ < 0) {
    reason = std::string("the lock directory ") + kRunDirectory + " cannot be opened (" + std::strerror(errno) +
             "): sudo systemd-tmpfiles --create quillon.conf";
    return false;
  }
  struct stat st{};
  group_ = fstat(directory_, &st) == 0 ? st.st_gid : 0;

  lock_ = openat(directory_, kLockFile, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0660);
  if (lock_ < 0 && errno == EACCES) lock_ = openat(directory_, kLockFile, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (lock_ < 0) {
    reason = std::string("the lock ") + kRunDirectory + "/" + kLockFile + " cannot be opened: " + std::strerror(errno);
    return false;
  }
  Share(lock_);
  // Another helper holds it for the length of one plan: wait for it.
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  while (flock(lock_, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      reason = std::string("the lock cannot be taken: ") + std::strerror(errno);
      return false;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec - start.tv_sec >= kLockWaitSeconds) {
      busy = true;
      reason = "another route plan has been at work for " + std::to_string(kLockWaitSeconds) + " s; try again later";
      return false;
    }
    const timespec pause{0, 20 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  return true;
}

RoutingLease::Owner RoutingLease::ReadOwner() const {
  Owner owner;
  const int fd = openat(directory_, kOwnerFile, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return owner;
  char buffer[64];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  close(fd);
  // "UID SECONDS\n"; anything else is no owner.
  const std::string_view text(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
  const std::size_t blank = text.find(' ');
  if (blank == std::string_view::npos || text.empty() || text.back() != '\n') return owner;
  const long uid = Decimal(text.substr(0, blank));
  const long at = Decimal(text.substr(blank + 1, text.size() - blank - 2));
  if (uid < 0 || at < 0 || uid > 0xFFFFFFFEL) return owner;
  owner.present = true;
  owner.uid = static_cast<uid_t>(uid);
  owner.at = at;
  return owner;
}

void RoutingLease::WriteOwner(uid_t uid, long at) {
  // A new file put in place: another member's file can be replaced in the
  // group's directory even where it cannot be written.
  unlinkat(directory_, kOwnerNew, 0);
  const int fd = openat(directory_, kOwnerNew, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0660);
  if (fd < 0) return;
  Share(fd);
  const bool written = WriteAll(fd, std::to_string(uid) + " " + std::to_string(at) + "\n");
  close(fd);
  if (!written || renameat(directory_, kOwnerNew, directory_, kOwnerFile) != 0) unlinkat(directory_, kOwnerNew, 0);
}

bool RoutingLease::Claim(uid_t uid, std::string& reason) {
  const long now = SecondsSinceBoot();
  const Owner owner = ReadOwner();
  if (owner.present && owner.uid != uid && owner.at <= now && now - owner.at < kLeaseSeconds) {
    const std::string who = UserName(owner.uid);
    reason = who + " routes on this machine (its last route plan " + std::to_string(now - owner.at) +
             " s ago); another user may route once " + who + " has sent none for " + std::to_string(kLeaseSeconds) +
             " s";
    return false;
  }
  WriteOwner(uid, now);
  return true;
}

void RoutingLease::Release(uid_t uid) {
  const Owner owner = ReadOwner();
  if (owner.present && owner.uid == uid) unlinkat(directory_, kOwnerFile, 0);
}

}  // namespace quillon::helper
