// The update manifest latest.txt: its record and the parser that accepts or refuses a body.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The largest latest.txt a run reads (1 MiB): a real one is a few hundred bytes, and a server that sends
// more must not fill the memory.
constexpr std::uint64_t kManifestSizeLimit = 1048576;

struct UpdateManifest {
  std::wstring version;
  std::wstring url;
  std::wstring sha256;
};

// Fills the record in place; true when version, url and sha256 are all acceptable.
bool ParseManifest(std::string_view body, UpdateManifest& manifest);
