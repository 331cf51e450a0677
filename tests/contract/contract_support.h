// Helpers shared by the backend contract tests: a scratch directory per test
// and raw byte files, written and read without going through the backend
// under test.
#pragma once

#include <memory>
#include <string>

#include "platform/system.h"

namespace quillon::contract {

// A fresh, empty directory below the system's temporary directory. It is
// removed with everything in it when the object goes away. Paths use the
// native separator and are plain ASCII, so they pass unchanged through the
// narrow (ANSI) file APIs on Windows.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory, without a trailing separator.
  const std::string& Path() const { return path_; }
  // The directory, the native separator and `name`.
  std::string operator/(const std::string& name) const;

 private:
  std::string path_;
};

// The native separator between a directory and a name ("\\" or "/").
std::string NativeSeparator();

// Writes `bytes` to `path` exactly as given (binary mode), replacing any file.
// True on success.
bool WriteBytes(const std::string& path, const std::string& bytes);
// The whole file as bytes; empty when it cannot be read.
std::string ReadBytes(const std::string& path);

// The backend of this build with `home` as its base directory.
std::unique_ptr<platform::System> MakeBackend(const std::string& home);

}  // namespace quillon::contract
