// SPDX-License-Identifier: Apache-2.0
#include "platform/command_text.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>
#include <iostream>
#include <streambuf>

#include "platform/paths.h"

namespace qve::platform {

namespace {

// Takes UTF-8 and hands it to a console as UTF-16. A character cut by the
// end of a write waits for its other bytes.
class ConsoleBuffer final : public std::streambuf {
 public:
  explicit ConsoleBuffer(HANDLE console) : console_(console) {
    setp(buffer_, buffer_ + sizeof buffer_);
  }

 protected:
  int_type overflow(int_type c) override {
    if (!Flush()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return Flush() ? 0 : -1; }

 private:
  bool Flush() {
    const std::size_t held = static_cast<std::size_t>(pptr() - pbase());
    std::size_t whole = held, start = held;
    while (start > 0 && held - start < 3 && (buffer_[start - 1] & 0xC0) == 0x80) --start;
    if (start > 0) {
      const auto lead = static_cast<unsigned char>(buffer_[start - 1]);
      const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
      if (length > held - (start - 1)) whole = start - 1;
    }
    bool written = true;
    if (whole > 0) {
      // Bytes that are not UTF-8 show as U+FFFD.
      const int length = static_cast<int>(whole);
      std::wstring wide(
          static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, buffer_, length, nullptr, 0)),
          L'\0');
      MultiByteToWideChar(CP_UTF8, 0, buffer_, length, wide.data(), static_cast<int>(wide.size()));
      for (std::size_t done = 0; written && done < wide.size();) {
        DWORD put = 0;
        written = WriteConsoleW(console_, wide.data() + done,
                                static_cast<DWORD>(wide.size() - done), &put, nullptr) &&
                  put > 0;
        done += put;
      }
    }
    std::copy(buffer_ + whole, buffer_ + held, buffer_);
    setp(buffer_, buffer_ + sizeof buffer_);
    pbump(static_cast<int>(held - whole));
    return written;
  }

  HANDLE console_;
  char buffer_[4096];
};

// The command line split as CommandLineToArgvW splits it, but for a run of
// backslashes before a quote that closes a quoted argument (whitespace or
// the end follows): those backslashes are all the path's own.
std::vector<std::wstring> SplitEndingPaths(const wchar_t* line) {
  std::vector<std::wstring> out;
  const auto blank = [](wchar_t c) { return c == L' ' || c == L'\t'; };
  // The program name: up to the next quote, or to a blank.
  std::wstring name;
  if (*line == L'"') {
    for (++line; *line != L'\0' && *line != L'"'; ++line) name += *line;
    if (*line == L'"') ++line;
  } else {
    for (; *line != L'\0' && !blank(*line); ++line) name += *line;
  }
  out.push_back(std::move(name));
  for (;;) {
    while (blank(*line)) ++line;
    if (*line == L'\0') break;
    std::wstring argument;
    bool quoted = false;
    while (*line != L'\0' && (quoted || !blank(*line))) {
      if (*line == L'\\') {
        std::size_t n = 0;
        while (line[n] == L'\\') ++n;
        const bool closes =
            quoted && line[n] == L'"' && (line[n + 1] == L'\0' || blank(line[n + 1]));
        if (line[n] != L'"' || closes) {
          argument.append(n, L'\\');  // literal, the closing quote follows
        } else {
          argument.append(n / 2, L'\\');
          if (n % 2 == 1) argument += L'"';
          n += n % 2;
        }
        line += n;
      } else if (*line == L'"') {
        // Two quotes inside quotes stand for one.
        if (quoted && line[1] == L'"') {
          argument += L'"';
          ++line;
        } else {
          quoted = !quoted;
        }
        ++line;
      } else {
        argument += *line++;
      }
    }
    out.push_back(std::move(argument));
  }
  return out;
}

}  // namespace

std::vector<std::string> CommandArguments(int argc, char** argv, BackslashQuote backslashQuote) {
  const wchar_t* line = GetCommandLineW();
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(line, &count);
  std::vector<std::string> arguments;
  // Arguments that are not this process's own are taken as given.
  if (wide != nullptr && count == argc) {
    for (int i = 0; i < count; ++i) arguments.push_back(ShownText(wide[i]));
  } else {
    arguments.assign(argv, argv + argc);
  }
  LocalFree(wide);
  // A quote in an argument that cannot hold one came from a backslash that
  // ended a quoted path.
  if (backslashQuote == BackslashQuote::EndsPath && arguments.size() == std::size_t(argc) &&
      std::any_of(arguments.begin() + (argc > 0 ? 1 : 0), arguments.end(),
                  [](const std::string& a) { return a.find('"') != std::string::npos; })) {
    arguments.clear();
    for (const std::wstring& argument : SplitEndingPaths(line))
      arguments.push_back(ShownText(argument));
  }
  // Windows programs show their help for "/?"; after the program name.
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == "/?" || arguments[i] == "-?") arguments[i] = "--help";
  }
  return arguments;
}

std::string QuotedArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"&|<>^()%!;,=") == std::string::npos)
    return argument;
  // Backslashes are literal but before a quote, where each is doubled.
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    quoted += c;
    backslashes = 0;
  }
  quoted.append(2 * backslashes, '\\');
  return quoted + "\"";
}

void WriteUtf8ToConsoles() {
  const auto use = [](DWORD which, std::ostream& stream) {
    const HANDLE handle = GetStdHandle(which);
    DWORD mode = 0;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
      return;
    stream.flush();
    // Never freed: the runtime still flushes the stream after main returns.
    stream.rdbuf(new ConsoleBuffer(handle));
  };
  use(STD_OUTPUT_HANDLE, std::cout);
  use(STD_ERROR_HANDLE, std::cerr);
}

}  // namespace qve::platform
