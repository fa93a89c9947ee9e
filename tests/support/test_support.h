// Test equipment shared by the suites: a window that records worker messages, temp folders, paths.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "equipment_log.h"

namespace test_support {

struct RecordedMessage {
  UINT message = 0;
  WPARAM wParam = 0;
  bool hasText = false;  // WM_SETUP_STATUS with a string object
  std::wstring text;
};

// A hidden window of the calling thread that stands in for the setup window: it becomes
// g_setupWindow for its lifetime and records what arrives, freeing status texts as the window does.
class MessageRecorder {
 public:
  MessageRecorder();
  ~MessageRecorder();
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;

  HWND window() const { return window_; }

  // Everything queued so far, in arrival order.
  std::vector<RecordedMessage> Drain();

  // Pumps until WM_SETUP_FINISHED arrives or the time runs out; returns all messages seen.
  std::vector<RecordedMessage> PumpUntilFinished(DWORD timeoutMs);

 private:
  HWND window_ = nullptr;
  HWND previous_ = nullptr;
};

// Only the WM_SETUP_PROGRESS values, in order.
std::vector<unsigned> ProgressValues(const std::vector<RecordedMessage>& messages);
// Only the status texts, in order.
std::vector<std::wstring> StatusTexts(const std::vector<RecordedMessage>& messages);

// A fresh, empty folder in the Windows temporary folder, removed with everything in it at the end.
class TempFolder {
 public:
  explicit TempFolder(const std::wstring& hint = L"t");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::wstring str() const { return path_.wstring(); }
  std::filesystem::path operator/(const std::wstring& relative) const { return path_ / relative; }

 private:
  std::filesystem::path path_;
};

// Sets an environment variable of this process for a scope (GetTempPathW reads TMP and TEMP).
class ScopedEnvironment {
 public:
  ScopedEnvironment(const std::wstring& name, const std::wstring* value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::wstring name_;
  bool had_ = false;
  std::wstring old_;
};

// The name the current user logs on with (GetUserNameW), or empty.
std::wstring UserName();

// The build tree as a Windows path (Z:\...), from the Wine wrapper's environment.
std::wstring BuildDir();
// A program or file of the test equipment folder of the build.
std::wstring EquipmentPath(const std::wstring& name);

void WriteFile(const std::filesystem::path& path, const std::string& bytes);
std::string ReadFile(const std::filesystem::path& path);

// The bytes of a file that another process is about to write: waits up to the timeout until it exists
// and can be read (just after it appears, Wine may still refuse to open it); empty when it never could.
std::string WaitForReadableFile(const std::filesystem::path& path, unsigned timeoutMs);

using equipment::WideToUtf8;

// What the launcher stand-in (equipment FernquillLauncher.exe) wrote down about one start of it.
struct LauncherRecord {
  std::wstring commandLine;             // GetCommandLineW
  std::wstring workingFolder;           // GetCurrentDirectoryW
  std::vector<std::wstring> arguments;  // CommandLineToArgvW, the program itself first
};
// Reads the record the stand-in leaves in the file named by FERNQUILL_LAUNCHER_LOG (or, when that is
// unset, launcher-log.txt beside it).
LauncherRecord ReadLauncherRecord(const std::filesystem::path& path);

// How StartProcess starts a program; the defaults are CreateProcessW's own.
struct StartOptions {
  const wchar_t* program = nullptr;        // null: the first token of the command line
  const wchar_t* workingFolder = nullptr;  // null: this process's
  DWORD flags = 0;                         // creation flags
};
// Starts a command line without waiting; throws when it cannot be started.
unique_kernel_handle StartProcess(std::wstring commandLine, const StartOptions& options,
                                  DWORD* processId = nullptr);
// The same without a window (CREATE_NO_WINDOW).
unique_kernel_handle StartProcess(std::wstring commandLine, DWORD* processId = nullptr);

// Starts a command line in a folder and waits for it to end; returns its exit code. Throws when it cannot
// be started or does not end within the time.
DWORD RunAndWait(std::wstring commandLine, const std::filesystem::path& workingFolder,
                 DWORD timeoutMs = 30000);

// Copies the application stand-ins Fernquill.exe and FernquillLauncher.exe into a folder.
void CopyApplicationStandIns(const std::filesystem::path& folder);

}  // namespace test_support
