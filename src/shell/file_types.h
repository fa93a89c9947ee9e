// Per-user registration of the package file types and the fernquill: URL scheme.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// One string value under HKEY_CURRENT_USER; an empty name is the key's unnamed value.
struct RegistryValue {
  std::wstring key;
  std::wstring name;
  std::wstring data;
};

// The twelve values in the order they are written.
std::vector<RegistryValue> ShellIntegrationValues(const std::wstring& installDir);

// The four values of one package file type.
std::vector<RegistryValue> FileTypeValues(const std::wstring& extension, const std::wstring& progId,
                                          const std::wstring& description, const std::wstring& installDir);

// Writes every value, each attempted on its own, then tells the shell that associations changed.
void RegisterShellIntegration(const std::wstring& installDir);

void RegisterFileType(const std::wstring& extension, const std::wstring& progId,
                      const std::wstring& description, const std::wstring& installDir);

// REG_SZ with its terminating null; creates the key and missing parents. True when the value was set.
bool SetRegistryString(HKEY root, const std::wstring& subkey, const std::wstring& valueName,
                       const std::wstring& data);
