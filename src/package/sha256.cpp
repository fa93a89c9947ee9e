// SHA-256 digest of a file through CNG.
#include "package/sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <vector>

#include "common/unique_handle.h"

namespace {

constexpr std::size_t kReadBufferSize = 65536;
constexpr ULONG kDigestSize = 32;

bool Failed(NTSTATUS status) { return status < 0; }

std::wstring HexText(const UCHAR* bytes, std::size_t count) {
  static constexpr wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring text;
  text.reserve(count * 2);
  for (std::size_t i = 0; i < count; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0x0F]);
  }
  return text;
}

}  // namespace

bool ComputeFileSha256(const std::wstring& path, std::wstring& digest, std::wstring& error) {
  // Declared in reverse of the release order (the hash lives in hashObject, so that goes last);
  // filled in the order CNG needs them.
  std::vector<UCHAR> hashObject;
  unique_file_handle file;
  unique_bcrypt_algorithm provider;
  unique_bcrypt_hash hash;

  if (Failed(::BCryptOpenAlgorithmProvider(provider.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    error = L"Не удалось инициализировать SHA-256.";
    return false;
  }

  DWORD objectLength = 0;
  ULONG resultSize = 0;
  if (Failed(::BCryptGetProperty(provider.get(), BCRYPT_OBJECT_LENGTH,
                                 reinterpret_cast<PUCHAR>(&objectLength), sizeof(objectLength), &resultSize,
                                 0))) {
    error = L"Не удалось получить параметры SHA-256.";
    return false;
  }

  hashObject.assign(objectLength, 0);
  if (Failed(
          ::BCryptCreateHash(provider.get(), hash.put(), hashObject.data(), objectLength, nullptr, 0, 0))) {
    error = L"Не удалось создать SHA-256 hash.";
    return false;
  }

  // Read and write sharing, as the C runtime opens, so a writer elsewhere does not lock us out. Plain
  // ReadFile into the hash's buffer: a stream's own buffering only cost time here.
  file.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) {
    error = L"Не удалось открыть скачанный пакет.";
    return false;
  }

  std::vector<char> buffer(kReadBufferSize);
  for (;;) {
    DWORD count = 0;
    // A failed read ends the data, as the end of the file does.
    if (!::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &count, nullptr) || count == 0) {
      break;
    }
    if (Failed(::BCryptHashData(hash.get(), reinterpret_cast<PUCHAR>(buffer.data()), count, 0))) {
      error = L"Ошибка SHA-256.";
      return false;
    }
  }

  UCHAR bytes[kDigestSize] = {};
  const NTSTATUS finished = ::BCryptFinishHash(hash.get(), bytes, kDigestSize, 0);
  hash.reset();
  provider.reset();
  if (Failed(finished)) {
    error = L"Не удалось завершить SHA-256.";
    return false;
  }

  digest = HexText(bytes, kDigestSize);
  return true;
}
