// SPDX-License-Identifier: Apache-2.0
// The command line's own text: its arguments as given, quoted back as the
// platform's shell would read them, and text written to a console.
#pragma once

#include <string>
#include <vector>

namespace qve::platform {

// The command's arguments, program name first: on Windows read from the
// UTF-16 command line and written as UTF-8 whatever the code page (ShownText,
// which ArgumentPath reverses); on Linux `argv` as it is.
std::vector<std::string> CommandArguments(int argc, char** argv);

// `argument` as the platform's shell would take it back: POSIX shell quoting
// on Linux, cmd's on Windows.
std::string QuotedArgument(const std::string& argument);

// Call first thing: text written to standard output and error is UTF-8, and
// where one of them is a Windows console it goes through WriteConsoleW, so
// that every character shows whatever the console's code page.
void WriteUtf8ToConsoles();

}  // namespace qve::platform
