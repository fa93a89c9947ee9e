// Expanding a zip archive into a folder the way Expand-Archive does, for the PowerShell stand-in.
#pragma once

#include <string>

namespace powershell_standin {

// Stored and deflated entries, folders, UTF-8 names (flag bit 11) or CP437 names. Refuses an archive
// with an entry that would land outside destination before writing anything; without force an existing
// file is an error, with it the file is replaced. On failure error says why.
bool ExpandZipArchive(const std::wstring& archivePath, const std::wstring& destination, bool force,
                      std::wstring& error);

}  // namespace powershell_standin
