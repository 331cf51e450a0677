// Files, directories and INI files on Windows: thin wrappers over the ANSI
// file functions and the private-profile functions.
#include <windows.h>
// <windows.h> maps CreateDirectory to CreateDirectoryA; the name here is
// the member of System.
#undef CreateDirectory

#include <new>
#include <string>
#include <vector>

#include "platform/win32/win32_system.h"

namespace quillon::platform {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The buffer that GetPrivateProfileSectionNamesA starts with.
constexpr DWORD kSectionNamesBuffer = 204800;

}  // namespace

// ---- Files and directories --------------------------------------------------

std::string Win32System::ProgramFileDirectory() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      std::string path(buffer.data(), length);
      const std::size_t separator = path.find_last_of("\\/");
      return separator == std::string::npos ? std::string() : path.substr(0, separator);
    }
    buffer.resize(buffer.size() * 2);  // the name was cut short
  }
}

std::string Win32System::ProgramDirectory() {
  if (!homeOverride_.empty()) {
    std::string home = homeOverride_;
    while (home.size() > 1 && IsSeparator(home.back())) home.pop_back();
    return home;
  }
  return ProgramFileDirectory();
}

bool Win32System::FileExists(const std::string& path) {
  if (path.empty()) return false;
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

bool Win32System::CreateDirectory(const std::string& path) {
  return !path.empty() && CreateDirectoryA(path.c_str(), nullptr) != FALSE;
}

ByteArray Win32System::FileRead(const std::string& path) {
  if (path.empty()) return {};
  // Others may read the file meanwhile, nobody may write it.
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  ByteArray content;
  LARGE_INTEGER size;
  if (GetFileSizeEx(file, &size) && size.QuadPart > 0) content.reserve(static_cast<std::size_t>(size.QuadPart));
  std::vector<char> buffer(65536);
  bool ok = true;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    content.append(buffer.data(), got);
  }
  CloseHandle(file);
  if (!ok) return {};
  return content;  // moved, not copied
}

bool Win32System::FileDelete(const std::string& path) { return !path.empty() && DeleteFileA(path.c_str()) != FALSE; }

std::string Win32System::DecodeText(const ByteArray& bytes) {
  const auto wide = [](const char* data, int size, UINT codePage) {
    std::wstring text(static_cast<std::size_t>(MultiByteToWideChar(codePage, 0, data, size, nullptr, 0)), L'\0');
    if (!text.empty()) MultiByteToWideChar(codePage, 0, data, size, text.data(), static_cast<int>(text.size()));
    return text;
  };
  std::wstring text;
  if (bytes.size() >= 2 && bytes.compare(0, 2, "\xFF\xFE") == 0) {
    text.assign(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
  } else if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    text = wide(bytes.data() + 3, static_cast<int>(bytes.size() - 3), CP_UTF8);
  } else if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                 0) > 0) {
    text = wide(bytes.data(), static_cast<int>(bytes.size()), CP_UTF8);
  } else {
    return bytes;  // the system's own code page already
  }
  std::string ansi(static_cast<std::size_t>(
                       WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr)),
                   '\0');
  if (!ansi.empty()) {
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), ansi.data(), static_cast<int>(ansi.size()),
                        nullptr, nullptr);
  }
  return ansi;
}

bool Win32System::FileWrite(const std::string& path, const ByteArray& bytes) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = bytes.empty() ||
                  (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size());
  return CloseHandle(file) != FALSE && ok;
}

// ---- INI files --------------------------------------------------------------

std::string Win32System::ReadProfileString(const std::string& file, const std::string& section,
                                           const std::string& key, const std::string& fallback) {
  std::vector<char> buffer(kIniValueLimit + 1);
  const DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(), buffer.data(),
                                                static_cast<DWORD>(buffer.size()), file.c_str());
  return std::string(buffer.data(), length);
}

bool Win32System::WriteProfileEntry(const std::string& file, const std::string& section,
                           const std::optional<std::string>& key, const std::optional<std::string>& value) {
  return WritePrivateProfileStringA(section.c_str(), key ? key->c_str() : nullptr,
                                    value ? value->c_str() : nullptr, file.c_str()) != FALSE;
}

std::vector<std::string> Win32System::IniSections(const std::string& file) {
  if (file.empty()) return {};
  // The function cuts the list to the buffer and then returns the buffer's
  // size less two; the buffer grows until the whole list fits.
  std::vector<char> buffer;
  DWORD length = 0;
  try {
    for (DWORD size = kSectionNamesBuffer;; size *= 2) {
      buffer.assign(size, '\0');
      length = GetPrivateProfileSectionNamesA(buffer.data(), size, file.c_str());
      if (length + 2 < size) break;
      if (size > 0x40000000) return {};
    }
  } catch (const std::bad_alloc&) {
    return {};
  }
  std::vector<std::string> names;
  std::size_t pos = 0;
  while (pos < length && buffer[pos] != '\0') {
    std::string name(buffer.data() + pos);
    pos += name.size() + 1;
    names.push_back(std::move(name));
  }
  return names;
}

}  // namespace quillon::platform
