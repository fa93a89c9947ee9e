// setup-driver.exe: drives a running setup window from a shell, one command after another.
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "equipment_log.h"
#include "setup_window_driver.h"

namespace {

constexpr wchar_t kUsage[] =
    L"usage: setup-driver.exe [--pid N] [--timeout MS] COMMAND...\n"
    L"commands (run in order; the first that fails ends the program with exit code 1); ID is a control's\n"
    L"IDC_ name (IDC_INSTALL_DIR, IDC_INSTALL, IDC_STATUS, ...) or its number:\n"
    L"  wait-window               wait until the setup window exists\n"
    L"  dump                      print the window and each control\n"
    L"  text ID                   print a control's text\n"
    L"  set-text ID TEXT          replace a control's text\n"
    L"  click ID                  press a button (posted)\n"
    L"  wait-text ID TEXT         wait until a control's text is exactly TEXT\n"
    L"  wait-prefix ID TEXT       wait until a control's text starts with TEXT\n"
    L"  wait-not-text ID TEXT     wait until a control's text is anything but TEXT\n"
    L"  wait-enabled ID 0|1       wait until a control is disabled (0) or enabled (1)\n"
    L"  wait-box                  wait for a message box and print its caption and text\n"
    L"  dismiss-box               press OK on the message box\n"
    L"  wait-gone                 wait until the setup window no longer exists\n"
    L"  close                     post WM_CLOSE to the setup window\n";

void Write(const std::wstring& text, DWORD stream) { equipment::WriteStandard(stream, text); }

void Out(const std::wstring& line) { Write(line + L"\n", STD_OUTPUT_HANDLE); }
void Err(const std::wstring& line) { Write(L"setup-driver: " + line + L"\n", STD_ERROR_HANDLE); }

class Session {
 public:
  Session(DWORD processId, DWORD timeoutMs) : processId_(processId), timeoutMs_(timeoutMs) {}

  // Runs the commands from index; returns the exit code.
  int Run(const std::vector<std::wstring>& args, std::size_t index) {
    while (index < args.size()) {
      const std::wstring& command = args[index++];
      const std::size_t operands = OperandCount(command);
      if (operands == kUnknown || index + operands > args.size()) {
        Err(L"bad command or missing operands: " + command);
        Write(kUsage, STD_ERROR_HANDLE);
        return 2;
      }
      std::vector<std::wstring> operand(args.begin() + index, args.begin() + index + operands);
      index += operands;
      if (!Execute(command, operand)) return 1;
    }
    return 0;
  }

 private:
  static constexpr std::size_t kUnknown = static_cast<std::size_t>(-1);

  static std::size_t OperandCount(const std::wstring& command) {
    if (command == L"wait-window" || command == L"dump" || command == L"wait-box" ||
        command == L"dismiss-box" || command == L"close" || command == L"wait-gone") {
      return 0;
    }
    if (command == L"text" || command == L"click") return 1;
    if (command == L"set-text" || command == L"wait-text" || command == L"wait-prefix" ||
        command == L"wait-not-text" || command == L"wait-enabled") {
      return 2;
    }
    return kUnknown;
  }

  bool Window() {
    if (window_ != nullptr && ::IsWindow(window_)) return true;
    window_ = setup_driver::WaitForSetupWindow(processId_, timeoutMs_);
    if (window_ == nullptr) Err(L"no setup window appeared");
    return window_ != nullptr;
  }

  bool Control(const std::wstring& id, int& value) {
    value = setup_driver::ControlIdNamed(id);
    wchar_t* end = nullptr;
    if (value == 0) value = static_cast<int>(std::wcstol(id.c_str(), &end, 10));
    if (end == id.c_str() || (end != nullptr && *end != L'\0')) {
      Err(L"not a control name or id: " + id);
      return false;
    }
    if (::GetDlgItem(window_, value) == nullptr) {
      Err(L"the window has no control " + id);
      return false;
    }
    return true;
  }

  bool WaitForControl(int id, const std::wstring& what,
                      bool (*matches)(const setup_driver::ControlState&, const std::wstring&),
                      const std::wstring& expected) {
    setup_driver::ControlState last;
    const bool reached = setup_driver::WaitUntil(
        [&] {
          last = setup_driver::ReadControl(window_, id);
          return matches(last, expected);
        },
        timeoutMs_);
    if (!reached) Err(L"timed out waiting for " + what + L"; last seen: " + setup_driver::Describe(last));
    return reached;
  }

  bool Execute(const std::wstring& command, const std::vector<std::wstring>& operand) {
    if (command == L"wait-gone") {
      const bool gone = setup_driver::WaitUntil(
          [&] { return setup_driver::FindSetupWindow(processId_) == nullptr; }, timeoutMs_);
      if (!gone) Err(L"the setup window is still there");
      return gone;
    }
    if (command == L"wait-box" || command == L"dismiss-box") return MessageBoxCommand(command);
    if (!Window()) return false;
    if (command == L"wait-window") return true;
    if (command == L"dump") {
      Write(setup_driver::Describe(setup_driver::ReadWindow(window_)), STD_OUTPUT_HANDLE);
      return true;
    }
    if (command == L"close") return setup_driver::PostClose(window_);

    int id = 0;
    if (!Control(operand[0], id)) return false;
    if (command == L"text") {
      Out(setup_driver::Escape(setup_driver::ReadText(::GetDlgItem(window_, id))));
      return true;
    }
    if (command == L"click") return setup_driver::Click(window_, id);
    if (command == L"set-text") return setup_driver::SetControlText(window_, id, operand[1]);
    if (command == L"wait-text") {
      return WaitForControl(
          id, L"text \"" + operand[1] + L"\"",
          [](const setup_driver::ControlState& c, const std::wstring& e) { return c.text == e; }, operand[1]);
    }
    if (command == L"wait-prefix") {
      return WaitForControl(
          id, L"text starting with \"" + operand[1] + L"\"",
          [](const setup_driver::ControlState& c, const std::wstring& e) {
            return c.text.compare(0, e.size(), e) == 0;
          },
          operand[1]);
    }
    if (command == L"wait-not-text") {
      return WaitForControl(
          id, L"a text other than \"" + operand[1] + L"\"",
          [](const setup_driver::ControlState& c, const std::wstring& e) { return c.text != e; }, operand[1]);
    }
    // wait-enabled
    return WaitForControl(
        id, operand[1] == L"0" ? L"disabled" : L"enabled",
        [](const setup_driver::ControlState& c, const std::wstring& e) { return c.enabled == (e != L"0"); },
        operand[1]);
  }

  bool MessageBoxCommand(const std::wstring& command) {
    const HWND box = setup_driver::WaitForMessageBox(processId_, timeoutMs_);
    if (box == nullptr) {
      Err(L"no message box appeared");
      return false;
    }
    if (command == L"dismiss-box") return setup_driver::DismissMessageBox(box);
    const setup_driver::MessageBoxState state = setup_driver::ReadMessageBox(box);
    Out(L"box caption=\"" + setup_driver::Escape(state.caption) + L"\" text=\"" +
        setup_driver::Escape(state.text) + L"\"");
    return true;
  }

  DWORD processId_;
  DWORD timeoutMs_;
  HWND window_ = nullptr;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv + 1, argv + argc);
  DWORD processId = 0;
  DWORD timeoutMs = 30000;
  std::size_t index = 0;
  while (index + 1 < args.size() && (args[index] == L"--pid" || args[index] == L"--timeout")) {
    const DWORD value = static_cast<DWORD>(std::wcstoul(args[index + 1].c_str(), nullptr, 10));
    (args[index] == L"--pid" ? processId : timeoutMs) = value;
    index += 2;
  }
  if (index >= args.size()) {
    Write(kUsage, STD_ERROR_HANDLE);
    return 2;
  }
  return Session(processId, timeoutMs).Run(args, index);
}
