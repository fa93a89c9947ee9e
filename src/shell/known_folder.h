// Paths of the user's known folders.
#pragma once

#include <shlobj.h>

#include <string>

// The folder's path, created when missing; empty when the lookup fails.
std::wstring KnownFolderPath(REFKNOWNFOLDERID folderId);
