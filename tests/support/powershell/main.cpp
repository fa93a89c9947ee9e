// Stands in for Windows PowerShell in the test prefix: runs the installer's Expand-Archive command.
//
// FERNQUILL_POWERSHELL_LOG names a file that receives the command line as UTF-8 (replaced each start).
// FERNQUILL_POWERSHELL_EXIT_CODE makes it exit at once with that code (decimal or 0x hex), after the log.
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "command_parser.h"
#include "equipment_log.h"
#include "zip_archive.h"

namespace {

int Fail(const std::wstring& message) {
  equipment::WriteStandard(STD_ERROR_HANDLE, message + L"\r\n");
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  equipment::WriteLogNamedBy(L"FERNQUILL_POWERSHELL_LOG", ::GetCommandLineW());

  std::wstring forcedCode;
  if (equipment::ReadEnvironment(L"FERNQUILL_POWERSHELL_EXIT_CODE", forcedCode)) {
    ::ExitProcess(static_cast<UINT>(std::wcstoul(forcedCode.c_str(), nullptr, 0)));
  }

  const std::vector<std::wstring> arguments(argv + 1, argv + argc);
  powershell_standin::ExpandArchiveCommand command;
  std::wstring error;
  if (!powershell_standin::ParseInvocation(arguments, command, error)) return Fail(error);
  if (!powershell_standin::ExpandZipArchive(command.literalPath, command.destinationPath, command.force,
                                            error)) {
    return Fail(L"Expand-Archive : " + error);
  }
  return 0;
}
