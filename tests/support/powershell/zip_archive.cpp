// Zip reading for the PowerShell stand-in: central directory, stored and deflate entries, zlib inflate.
#include "zip_archive.h"

#include <windows.h>
#include <zlib.h>

#include <cstdint>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace powershell_standin {
namespace {

constexpr std::uint32_t kEndOfCentralDirectory = 0x06054b50;
constexpr std::uint32_t kCentralDirectoryEntry = 0x02014b50;
constexpr std::uint32_t kLocalHeader = 0x04034b50;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kCentralEntrySize = 46;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint16_t kFlagUtf8Name = 0x0800;
constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflate = 8;

struct Entry {
  std::wstring name;  // as stored, '/' separated
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint32_t crc = 0;
  std::uint32_t compressedSize = 0;
  std::uint32_t size = 0;
  std::uint32_t localHeaderOffset = 0;
  std::filesystem::path target;
  bool isFolder = false;
};

std::uint16_t Read16(const std::string& data, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(data[at]) |
                                    (static_cast<unsigned char>(data[at + 1]) << 8));
}

std::uint32_t Read32(const std::string& data, std::size_t at) {
  return static_cast<std::uint32_t>(Read16(data, at)) |
         (static_cast<std::uint32_t>(Read16(data, at + 2)) << 16);
}

bool Decode(const std::string& bytes, bool utf8, std::wstring& text) {
  text.clear();
  if (bytes.empty()) return true;
  const UINT codePage = utf8 ? CP_UTF8 : 437;
  const DWORD flags = utf8 ? MB_ERR_INVALID_CHARS : 0;
  const int count = static_cast<int>(bytes.size());
  const int needed = ::MultiByteToWideChar(codePage, flags, bytes.data(), count, nullptr, 0);
  if (needed <= 0) return false;
  text.resize(static_cast<std::size_t>(needed));
  return ::MultiByteToWideChar(codePage, flags, bytes.data(), count, text.data(), needed) == needed;
}

std::wstring FullPath(const std::wstring& path) {
  const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return {};
  std::wstring full(needed, L'\0');
  const DWORD written = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (written == 0 || written >= needed) return {};
  full.resize(written);
  return full;
}

bool StartsWithIgnoringCase(const std::wstring& text, const std::wstring& prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::towlower(text[i]) != std::towlower(prefix[i])) return false;
  }
  return true;
}

// Where an entry lands below root (a full path), or false when it would land outside or cannot be a
// Windows name. Both the entry's own components and the resolved full path are checked.
bool ResolveTarget(const std::wstring& root, const std::wstring& name, std::filesystem::path& target) {
  if (name.empty() || name[0] == L'/' || name[0] == L'\\') return false;
  std::vector<std::wstring> components;
  std::wstring component;
  auto finishComponent = [&]() -> bool {
    if (component == L"..") {
      if (components.empty()) return false;
      components.pop_back();
    } else if (!component.empty() && component != L".") {
      components.push_back(component);
    }
    component.clear();
    return true;
  };
  for (wchar_t c : name) {
    if (c == L'/' || c == L'\\') {
      if (!finishComponent()) return false;
      continue;
    }
    if (c < 0x20 || c == L':' || c == L'<' || c == L'>' || c == L'"' || c == L'|' || c == L'?' || c == L'*') {
      return false;
    }
    component.push_back(c);
  }
  if (!finishComponent()) return false;

  std::wstring joined = root;
  for (const std::wstring& piece : components) joined += L"\\" + piece;
  const std::wstring full = FullPath(joined);
  std::wstring prefix = root;
  if (prefix.back() != L'\\') prefix += L'\\';
  if (full.empty() || !(full == root || StartsWithIgnoringCase(full, prefix))) return false;
  target = full;
  return true;
}

bool ReadWholeFile(const std::wstring& path, std::string& data) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  if (!in) return false;
  std::ostringstream content;
  content << in.rdbuf();
  data = content.str();
  return !in.bad();
}

bool ReadCentralDirectory(const std::string& data, std::vector<Entry>& entries, std::wstring& error) {
  error = L"The archive is not a valid zip file or it is corrupt.";
  if (data.size() < kEndRecordSize) return false;
  std::size_t end = std::string::npos;
  const std::size_t last = data.size() - kEndRecordSize;
  const std::size_t first = last > 0xFFFF ? last - 0xFFFF : 0;
  for (std::size_t at = last + 1; at-- > first;) {
    if (Read32(data, at) == kEndOfCentralDirectory) {
      end = at;
      break;
    }
  }
  if (end == std::string::npos) return false;
  const std::uint16_t count = Read16(data, end + 10);
  const std::uint32_t directorySize = Read32(data, end + 12);
  const std::uint32_t directoryOffset = Read32(data, end + 16);
  if (count == 0xFFFF || directoryOffset == 0xFFFFFFFF) {
    error = L"Zip64 archives are not supported by this PowerShell stand-in.";
    return false;
  }
  if (static_cast<std::uint64_t>(directoryOffset) + directorySize > end) return false;

  std::size_t at = directoryOffset;
  for (std::uint16_t i = 0; i < count; ++i) {
    if (at + kCentralEntrySize > end || Read32(data, at) != kCentralDirectoryEntry) return false;
    Entry entry;
    entry.flags = Read16(data, at + 8);
    entry.method = Read16(data, at + 10);
    entry.crc = Read32(data, at + 16);
    entry.compressedSize = Read32(data, at + 20);
    entry.size = Read32(data, at + 24);
    const std::uint16_t nameLength = Read16(data, at + 28);
    const std::uint16_t extraLength = Read16(data, at + 30);
    const std::uint16_t commentLength = Read16(data, at + 32);
    entry.localHeaderOffset = Read32(data, at + 42);
    const std::size_t next = at + kCentralEntrySize + nameLength + extraLength + commentLength;
    if (next > end) return false;
    if (!Decode(data.substr(at + kCentralEntrySize, nameLength), (entry.flags & kFlagUtf8Name) != 0,
                entry.name)) {
      return false;
    }
    entries.push_back(std::move(entry));
    at = next;
  }
  error.clear();
  return true;
}

bool WriteEntry(const std::string& data, const Entry& entry, std::wstring& error) {
  const std::wstring corrupt = L"The archive entry '" + entry.name + L"' is corrupt.";
  std::size_t at = entry.localHeaderOffset;
  if (at + kLocalHeaderSize > data.size() || Read32(data, at) != kLocalHeader) {
    error = corrupt;
    return false;
  }
  const std::size_t begin = at + kLocalHeaderSize + Read16(data, at + 26) + Read16(data, at + 28);
  if (begin + entry.compressedSize > data.size()) {
    error = corrupt;
    return false;
  }

  std::ofstream out(entry.target, std::ios::binary | std::ios::trunc);
  if (!out) {
    error = L"Cannot write the file '" + entry.target.wstring() + L"'.";
    return false;
  }
  const Bytef* input = reinterpret_cast<const Bytef*>(data.data() + begin);
  uLong crc = crc32(0L, Z_NULL, 0);
  std::uint64_t written = 0;
  if (entry.method == kMethodStored) {
    if (entry.compressedSize != entry.size) {
      error = corrupt;
      return false;
    }
    crc = crc32(crc, input, entry.size);
    out.write(data.data() + begin, entry.size);
    written = entry.size;
  } else {
    z_stream stream = {};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
      error = L"zlib could not start.";
      return false;
    }
    stream.next_in = const_cast<Bytef*>(input);
    stream.avail_in = entry.compressedSize;
    std::vector<Bytef> chunk(65536);
    int status = Z_OK;
    while (status == Z_OK) {
      stream.next_out = chunk.data();
      stream.avail_out = static_cast<uInt>(chunk.size());
      status = inflate(&stream, Z_NO_FLUSH);
      const std::size_t produced = chunk.size() - stream.avail_out;
      crc = crc32(crc, chunk.data(), static_cast<uInt>(produced));
      out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(produced));
      written += produced;
      if (written > entry.size) break;                           // more than the directory promised
      if (status == Z_BUF_ERROR && stream.avail_in == 0) break;  // input ended before the stream did
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END) {
      error = corrupt;
      return false;
    }
  }
  out.close();
  if (!out) {
    error = L"Cannot write the file '" + entry.target.wstring() + L"'.";
    return false;
  }
  if (written != entry.size || crc != entry.crc) {
    error = corrupt;
    return false;
  }
  return true;
}

}  // namespace

bool ExpandZipArchive(const std::wstring& archivePath, const std::wstring& destination, bool force,
                      std::wstring& error) {
  std::string data;
  const DWORD attributes = ::GetFileAttributesW(archivePath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
      !ReadWholeFile(archivePath, data)) {
    error = L"The path '" + archivePath + L"' either does not exist or is not a valid file system path.";
    return false;
  }
  std::vector<Entry> entries;
  if (!ReadCentralDirectory(data, entries, error)) return false;

  const std::wstring root = FullPath(destination);
  if (root.empty()) {
    error = L"The destination path '" + destination + L"' is not valid.";
    return false;
  }
  for (Entry& entry : entries) {
    if ((entry.flags & kFlagEncrypted) != 0) {
      error = L"The archive entry '" + entry.name + L"' is encrypted.";
      return false;
    }
    if (entry.method != kMethodStored && entry.method != kMethodDeflate) {
      error = L"The archive entry '" + entry.name + L"' uses compression method " +
              std::to_wstring(entry.method) + L", which is not supported.";
      return false;
    }
    if (!ResolveTarget(root, entry.name, entry.target)) {
      error = L"The path '" + entry.name + L"' of an archive entry is outside the destination directory '" +
              root + L"'.";
      return false;
    }
    const wchar_t lastChar = entry.name.back();
    entry.isFolder = lastChar == L'/' || lastChar == L'\\';
  }

  std::error_code failure;
  std::filesystem::create_directories(root, failure);
  if (failure) {
    error = L"Cannot create the destination directory '" + root + L"'.";
    return false;
  }
  for (const Entry& entry : entries) {
    const std::filesystem::path folder = entry.isFolder ? entry.target : entry.target.parent_path();
    std::filesystem::create_directories(folder, failure);
    if (failure) {
      error = L"Cannot create the directory '" + folder.wstring() + L"'.";
      return false;
    }
    if (entry.isFolder) continue;
    if (std::filesystem::exists(entry.target, failure)) {
      if (!force) {
        error = L"The file '" + entry.target.wstring() + L"' already exists.";
        return false;
      }
      if (std::filesystem::is_directory(entry.target, failure)) {
        error = L"A directory is in the way of the file '" + entry.target.wstring() + L"'.";
        return false;
      }
    }
    if (!WriteEntry(data, entry, error)) return false;
  }
  return true;
}

}  // namespace powershell_standin
