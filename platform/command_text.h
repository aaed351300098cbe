// SPDX-License-Identifier: Apache-2.0
// The command line's own text: its arguments as given, quoted back as the
// platform's shell would read them, and text written to a console.
#pragma once

#include <string>
#include <vector>

namespace qve::platform {

// How a Windows command line's backslash before a quote reads: as C's
// escaped quote, or, for a program none of whose arguments can hold a quote
// (each a path, an option or a number), a backslash before the quote that
// ends an argument is a path's own, as cmd's tab completion writes a folder:
// "my logs\".
enum class BackslashQuote { Escapes, EndsPath };

// The command's arguments, program name first: on Windows read from the
// UTF-16 command line and written as UTF-8 whatever the code page (ShownText,
// which ArgumentPath reverses), with "/?" and "-?" read as "--help"; on Linux
// `argv` as it is.
std::vector<std::string> CommandArguments(int argc, char** argv,
                                          BackslashQuote backslashQuote = BackslashQuote::Escapes);

// The paths a PATH argument stands for. On Windows, whose shells leave
// wildcards to the program, '*' and '?' match the names in their folder,
// ignoring case, in any component ("case_*\system.log": only folders that
// hold the rest), and the matches come sorted; a pattern that matches
// nothing gives none. Elsewhere, and for an argument
// without them, the argument alone.
std::vector<std::wstring> ExpandWildcards(const std::wstring& argument);

// `argument` as the platform's shell would take it back: POSIX shell quoting
// on Linux, cmd's on Windows.
std::string QuotedArgument(const std::string& argument);

// Call first thing: text written to standard output and error is UTF-8, and
// where one of them is a Windows console it goes through WriteConsoleW, so
// that every character shows whatever the console's code page.
void WriteUtf8ToConsoles();

}  // namespace qve::platform
