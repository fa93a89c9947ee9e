// Test equipment: holds a file or folder open without sharing, as a running program would, until told
// to let go. Usage: hold_file <path> <ready event> <release event> (both events made by the caller).
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 64;
  HANDLE ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
  HANDLE release = ::OpenEventW(SYNCHRONIZE, FALSE, argv[3]);
  if (ready == nullptr || release == nullptr) return 65;
  HANDLE held =
      ::CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 66;
  ::SetEvent(ready);
  const DWORD waited = ::WaitForSingleObject(release, 120000);
  ::CloseHandle(held);
  ::CloseHandle(release);
  ::CloseHandle(ready);
  return waited == WAIT_OBJECT_0 ? 0 : 67;
}
