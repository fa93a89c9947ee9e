// Test equipment shared by the suites.
#include "test_support.h"

#include <lmcons.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "common/text.h"
#include "common/unique_handle.h"
#include "install/messages.h"

namespace test_support {
namespace {

constexpr wchar_t kRecorderClass[] = L"FernquillTestRecorder";

bool IsWorkerMessage(UINT message) {
  return message == WM_SETUP_STATUS || message == WM_SETUP_PROGRESS || message == WM_SETUP_FINISHED;
}

RecordedMessage Record(const MSG& msg) {
  RecordedMessage recorded;
  recorded.message = msg.message;
  recorded.wParam = msg.wParam;
  if (msg.message != WM_SETUP_STATUS) return recorded;
  if (const std::unique_ptr<std::wstring> text = TakeStatusText(msg.lParam)) {
    recorded.hasText = true;
    recorded.text = *text;
  }
  return recorded;
}

}  // namespace

MessageRecorder::MessageRecorder() {
  window_ = equipment::CreateMessageWindow(kRecorderClass);
  if (window_ == nullptr) throw std::runtime_error("cannot create the recorder window");
  previous_ = g_setupWindow;
  g_setupWindow = window_;
}

MessageRecorder::~MessageRecorder() {
  Drain();  // frees texts nobody asked for
  g_setupWindow = previous_;
  ::DestroyWindow(window_);
}

std::vector<RecordedMessage> MessageRecorder::Drain() {
  std::vector<RecordedMessage> messages;
  MSG msg;
  while (::PeekMessageW(&msg, window_, 0, 0, PM_REMOVE)) {
    if (IsWorkerMessage(msg.message)) {
      messages.push_back(Record(msg));
    } else {
      ::DispatchMessageW(&msg);
    }
  }
  return messages;
}

std::vector<RecordedMessage> MessageRecorder::PumpUntilFinished(DWORD timeoutMs) {
  std::vector<RecordedMessage> messages;
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    for (RecordedMessage& message : Drain()) {
      const bool finished = message.message == WM_SETUP_FINISHED;
      messages.push_back(std::move(message));
      if (finished) return messages;
    }
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return messages;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
  }
}

std::vector<unsigned> ProgressValues(const std::vector<RecordedMessage>& messages) {
  std::vector<unsigned> values;
  for (const RecordedMessage& message : messages) {
    if (message.message == WM_SETUP_PROGRESS) values.push_back(static_cast<unsigned>(message.wParam));
  }
  return values;
}

std::vector<std::wstring> StatusTexts(const std::vector<RecordedMessage>& messages) {
  std::vector<std::wstring> texts;
  for (const RecordedMessage& message : messages) {
    if (message.message == WM_SETUP_STATUS) texts.push_back(message.text);
  }
  return texts;
}

TempFolder::TempFolder(const std::wstring& hint) {
  static std::atomic<unsigned> counter{0};
  wchar_t temp[MAX_PATH + 1] = {};
  if (::GetTempPathW(MAX_PATH + 1, temp) == 0) throw std::runtime_error("no temporary folder");
  path_ = std::filesystem::path(temp) / (L"fq-" + hint + L"-" + std::to_wstring(::GetCurrentProcessId()) +
                                         L"-" + std::to_wstring(counter++));
  std::error_code error;
  std::filesystem::remove_all(path_, error);
  std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
  std::error_code error;
  // Tests may leave read-only files behind; clear the flag so the folder really goes.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    ::SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  std::filesystem::remove_all(path_, error);
}

ScopedEnvironment::ScopedEnvironment(const std::wstring& name, const std::wstring* value) : name_(name) {
  wchar_t buffer[32768];
  const DWORD length = ::GetEnvironmentVariableW(name.c_str(), buffer, 32768);
  had_ = length > 0 && length < 32768;
  if (had_) old_.assign(buffer, length);
  ::SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr);
}

ScopedEnvironment::~ScopedEnvironment() {
  ::SetEnvironmentVariableW(name_.c_str(), had_ ? old_.c_str() : nullptr);
}

std::wstring BuildDir() {
  wchar_t buffer[32768];
  const DWORD length = ::GetEnvironmentVariableW(L"FERNQUILL_BUILD_DIR_WIN", buffer, 32768);
  if (length == 0 || length >= 32768) {
    throw std::runtime_error("FERNQUILL_BUILD_DIR_WIN is not set: run tests through the wine-run wrapper");
  }
  return std::wstring(buffer, length);
}

std::wstring UserName() {
  wchar_t name[UNLEN + 1] = {};
  DWORD length = UNLEN + 1;
  if (!::GetUserNameW(name, &length)) return {};
  return name;
}

std::wstring EquipmentPath(const std::wstring& name) { return BuildDir() + L"\\equipment\\" + name; }

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string WaitForReadableFile(const std::filesystem::path& path, unsigned timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (std::filesystem::exists(path)) {
      std::ifstream in(path, std::ios::binary);
      if (in) {
        std::ostringstream content;
        content << in.rdbuf();
        return content.str();
      }
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::string();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

LauncherRecord ReadLauncherRecord(const std::filesystem::path& path) {
  std::istringstream lines(ReadFile(path));
  LauncherRecord record;
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t colon = line.find(": ");
    if (colon == std::string::npos) throw std::runtime_error("not a launcher record line: " + line);
    const std::string field = line.substr(0, colon);
    const std::wstring value = Utf8ToWide(line.substr(colon + 2));
    if (field == "command-line") {
      record.commandLine = value;
    } else if (field == "working-folder") {
      record.workingFolder = value;
    } else if (field == "argument") {
      record.arguments.push_back(value);
    } else {
      throw std::runtime_error("unknown launcher record field: " + field);
    }
  }
  return record;
}

unique_kernel_handle StartProcess(std::wstring commandLine, const StartOptions& options, DWORD* processId) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(options.program, commandLine.data(), nullptr, nullptr, FALSE, options.flags, nullptr,
                        options.workingFolder, &startup, &process)) {
    const DWORD error = ::GetLastError();
    throw std::runtime_error("cannot start " + WideToUtf8(options.program ? options.program : commandLine) +
                             " (error " + std::to_string(error) + ")");
  }
  unique_kernel_handle thread(process.hThread);
  if (processId != nullptr) *processId = process.dwProcessId;
  return unique_kernel_handle(process.hProcess);
}

unique_kernel_handle StartProcess(std::wstring commandLine, DWORD* processId) {
  StartOptions options;
  options.flags = CREATE_NO_WINDOW;
  return StartProcess(std::move(commandLine), options, processId);
}

DWORD RunAndWait(std::wstring commandLine, const std::filesystem::path& workingFolder, DWORD timeoutMs) {
  StartOptions options;
  options.workingFolder = workingFolder.c_str();
  const unique_kernel_handle child = StartProcess(commandLine, options);
  if (::WaitForSingleObject(child.get(), timeoutMs) != WAIT_OBJECT_0) {
    throw std::runtime_error("does not end: " + WideToUtf8(commandLine));
  }
  DWORD exitCode = 0;
  ::GetExitCodeProcess(child.get(), &exitCode);
  return exitCode;
}

void CopyApplicationStandIns(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  for (const wchar_t* name : {L"Fernquill.exe", L"FernquillLauncher.exe"}) {
    const std::wstring target = (folder / name).wstring();
    if (!::CopyFileW(EquipmentPath(name).c_str(), target.c_str(), FALSE)) {
      throw std::runtime_error("cannot copy the stand-in " + WideToUtf8(name));
    }
  }
}

}  // namespace test_support
