// Reading the PowerShell invocation the installer makes: its seven arguments and the Expand-Archive command.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace powershell_standin {

// The characters PowerShell takes as a single quote: ' ‘ ’ ‚ ‛.
bool IsSingleQuote(wchar_t c);

// Reads a single-quoted literal whose opening quote is at text[position]. Any of the five quote
// characters opens and closes it; two in a row stand for the second one. On success position is just
// past the closing quote.
bool ReadSingleQuotedLiteral(std::wstring_view text, std::size_t& position, std::wstring& value);

struct ExpandArchiveCommand {
  std::wstring literalPath;
  std::wstring destinationPath;
  bool force = false;
};

// "Expand-Archive -LiteralPath '...' -DestinationPath '...' [-Force]", parameters in any order,
// names without regard to case. Anything else is refused with a reason in error.
bool ParseExpandArchiveCommand(std::wstring_view command, ExpandArchiveCommand& parsed, std::wstring& error);

// The arguments after the program name: exactly -NoLogo -NoProfile -NonInteractive -ExecutionPolicy
// Bypass -Command and the command text.
bool ParseInvocation(const std::vector<std::wstring>& arguments, ExpandArchiveCommand& parsed,
                     std::wstring& error);

}  // namespace powershell_standin
