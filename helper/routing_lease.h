// One routing user at a time, machine-wide.
//
// Each pass of a user's Quillon (window, command line or service) is a
// helper process of its own, about once a minute, so a lock held for one
// plan alone would let two users' services undo each other's routes every
// minute. The rule is a lease, kept in the directory /run/quillon:
//
// - `lock` (flock) lets one helper at a time read and change the table.
// - `owner` names the user whose plan last routed, and when (seconds since
//   boot; /run starts empty at every boot).
// - A plan that routes (anything but an empty plan or one that only clears)
//   goes when nobody owns routing, when its own user does, or when the
//   owner's last plan is older than kLeaseSeconds: a running Quillon sends
//   one every minute, so by then the owner's has stopped. It makes its user
//   the owner as of now. Another user's plan is refused whole (Busy), with
//   one line that names the owner. Several processes of one user all go.
// - A clear always goes; the owner's clear ends the lease at once, so that
//   another user need not wait.
//
// The directory belongs to the group quillon, whose members the
// administrator lets route: the lease keeps them from undoing each other's
// routes by accident; it is no wall between them (each can write the files).
#pragma once

#include <sys/types.h>

#include <string>

namespace quillon::helper {

inline constexpr char kRunDirectory[] = "/run/quillon";
inline constexpr long kLeaseSeconds = 180;
// How long a plan waits for another helper's plan to finish.
inline constexpr int kLockWaitSeconds = 30;

// Writes all of `text` to `fd` (a short write is continued); false when the
// descriptor takes no more.
bool WriteAll(int fd, const std::string& text);

class RoutingLease {
 public:
  RoutingLease() = default;
  ~RoutingLease();
  RoutingLease(const RoutingLease&) = delete;
  RoutingLease& operator=(const RoutingLease&) = delete;

  // Opens the directory (makes it when it is missing and this process runs
  // as root) and takes the lock, held until the object goes. False with a
  // one-line reason; `busy` when another plan held the lock too long.
  bool Lock(std::string& reason, bool& busy);
  // For a plan that routes: whether `uid` may route now (else why not, one
  // line); when it may, it owns routing as of now.
  bool Claim(uid_t uid, std::string& reason);
  // For a clear: ends the lease when `uid` owns it.
  void Release(uid_t uid);

 private:
  struct Owner {
    bool present = false;
    uid_t uid = 0;
    long at = 0;  // seconds since boot of its last plan
  };
  Owner ReadOwner() const;
  void WriteOwner(uid_t uid, long at);
  // Gives a file this process made the directory's group, mode 0660.
  void Share(int fd) const;

  int directory_ = -1;
  int lock_ = -1;
  gid_t group_ = 0;
};

}  // namespace quillon::helper
