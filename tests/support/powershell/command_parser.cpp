// Reading the installer's PowerShell invocation with PowerShell's own single-quote rules.
#include "command_parser.h"

#include <cwctype>

namespace powershell_standin {
namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

void SkipBlanks(std::wstring_view text, std::size_t& position) {
  while (position < text.size() && IsBlank(text[position])) ++position;
}

std::wstring_view ReadWord(std::wstring_view text, std::size_t& position) {
  const std::size_t begin = position;
  while (position < text.size() && !IsBlank(text[position])) ++position;
  return text.substr(begin, position - begin);
}

bool SameIgnoringCase(std::wstring_view left, std::wstring_view right) {
  if (left.size() != right.size()) return false;
  for (std::size_t i = 0; i < left.size(); ++i) {
    if (std::towlower(left[i]) != std::towlower(right[i])) return false;
  }
  return true;
}

bool ReadPathValue(std::wstring_view command, std::size_t& position, std::wstring_view name,
                   std::wstring& value, std::wstring& error) {
  SkipBlanks(command, position);
  if (position >= command.size()) {
    error = L"Missing an argument for parameter '" + std::wstring(name) + L"'.";
    return false;
  }
  if (!IsSingleQuote(command[position])) {
    error = L"The value of parameter '" + std::wstring(name) + L"' is not a single-quoted string.";
    return false;
  }
  if (!ReadSingleQuotedLiteral(command, position, value)) {
    error = L"The string is missing the terminator: '.";
    return false;
  }
  if (position < command.size() && !IsBlank(command[position])) {
    error = L"Unexpected token after the value of parameter '" + std::wstring(name) + L"'.";
    return false;
  }
  return true;
}

}  // namespace

bool IsSingleQuote(wchar_t c) {
  return c == L'\u0027' || c == L'\u2018' || c == L'\u2019' || c == L'\u201A' || c == L'\u201B';
}

bool ReadSingleQuotedLiteral(std::wstring_view text, std::size_t& position, std::wstring& value) {
  if (position >= text.size() || !IsSingleQuote(text[position])) return false;
  std::wstring content;
  for (std::size_t i = position + 1; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (!IsSingleQuote(c)) {
      content.push_back(c);
      continue;
    }
    if (i + 1 < text.size() && IsSingleQuote(text[i + 1])) {
      content.push_back(text[i + 1]);
      ++i;
      continue;
    }
    value = std::move(content);
    position = i + 1;
    return true;
  }
  return false;
}

bool ParseExpandArchiveCommand(std::wstring_view command, ExpandArchiveCommand& parsed, std::wstring& error) {
  std::size_t position = 0;
  SkipBlanks(command, position);
  const std::wstring_view name = ReadWord(command, position);
  if (!SameIgnoringCase(name, L"Expand-Archive")) {
    error = L"The term '" + std::wstring(name) + L"' is not a command this PowerShell understands.";
    return false;
  }

  ExpandArchiveCommand result;
  bool haveLiteralPath = false;
  bool haveDestination = false;
  for (;;) {
    SkipBlanks(command, position);
    if (position >= command.size()) break;
    const std::wstring_view parameter = ReadWord(command, position);
    if (parameter.size() < 2 || parameter[0] != L'-') {
      error = L"Expand-Archive: a positional argument cannot be found that accepts '" +
              std::wstring(parameter) + L"'.";
      return false;
    }
    const std::wstring_view parameterName = parameter.substr(1);
    bool* seen = nullptr;
    std::wstring* value = nullptr;
    if (SameIgnoringCase(parameterName, L"LiteralPath")) {
      seen = &haveLiteralPath;
      value = &result.literalPath;
    } else if (SameIgnoringCase(parameterName, L"DestinationPath")) {
      seen = &haveDestination;
      value = &result.destinationPath;
    } else if (SameIgnoringCase(parameterName, L"Force")) {
      seen = &result.force;
    } else {
      error = L"Expand-Archive: a parameter cannot be found that matches parameter name '" +
              std::wstring(parameterName) + L"'.";
      return false;
    }
    if (*seen) {
      error =
          L"Expand-Archive: parameter '" + std::wstring(parameterName) + L"' is specified more than once.";
      return false;
    }
    *seen = true;
    if (value != nullptr && !ReadPathValue(command, position, parameterName, *value, error)) return false;
  }

  if (!haveLiteralPath) {
    error = L"Expand-Archive: this PowerShell needs -LiteralPath.";
    return false;
  }
  if (!haveDestination) {
    error = L"Expand-Archive: this PowerShell needs -DestinationPath.";
    return false;
  }
  parsed = std::move(result);
  return true;
}

bool ParseInvocation(const std::vector<std::wstring>& arguments, ExpandArchiveCommand& parsed,
                     std::wstring& error) {
  static const wchar_t* const kOptions[] = {L"-NoLogo",          L"-NoProfile", L"-NonInteractive",
                                            L"-ExecutionPolicy", L"Bypass",     L"-Command"};
  constexpr std::size_t kOptionCount = sizeof(kOptions) / sizeof(kOptions[0]);
  if (arguments.size() != kOptionCount + 1) {
    error = L"Expected 7 arguments, got " + std::to_wstring(arguments.size()) + L".";
    return false;
  }
  for (std::size_t i = 0; i < kOptionCount; ++i) {
    if (arguments[i] != kOptions[i]) {
      error = L"Argument " + std::to_wstring(i + 1) + L" is '" + arguments[i] + L"', expected '" +
              kOptions[i] + L"'.";
      return false;
    }
  }
  return ParseExpandArchiveCommand(arguments[kOptionCount], parsed, error);
}

}  // namespace powershell_standin
