#include "tests/contract/contract_support.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#include "platform/system_factory.h"

namespace quillon::contract {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) base = fs::current_path();
  std::mt19937_64 random(std::random_device{}() ^
                         static_cast<std::uint64_t>(
                             std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = base / ("quillon-contract-" + std::to_string(random() % 1000000000ULL));
    if (fs::create_directory(candidate, ec) && !ec) {
      path_ = candidate.string();
      return;
    }
  }
  // Leave path_ empty: every use then fails visibly in the test.
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ec;
  fs::remove_all(fs::path(path_), ec);
}

std::string TempDir::operator/(const std::string& name) const { return path_ + NativeSeparator() + name; }

std::string NativeSeparator() { return std::string(1, static_cast<char>(fs::path::preferred_separator)); }

bool WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::unique_ptr<platform::System> MakeBackend(const std::string& home) { return platform::MakeSystem(home); }

}  // namespace quillon::contract
