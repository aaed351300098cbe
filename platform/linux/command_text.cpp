// SPDX-License-Identifier: Apache-2.0
#include "platform/command_text.h"

namespace qve::platform {

std::vector<std::string> CommandArguments(int argc, char** argv, BackslashQuote) {
  return std::vector<std::string>(argv, argv + argc);
}

// The shell has expanded them.
std::vector<std::wstring> ExpandWildcards(const std::wstring& argument) { return {argument}; }

std::string QuotedArgument(const std::string& argument) {
  if (!argument.empty() &&
      argument.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                 "0123456789-_./=:,+@%") == std::string::npos)
    return argument;
  std::string quoted = "'";
  for (const char c : argument) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

void WriteUtf8ToConsoles() {}

}  // namespace qve::platform
