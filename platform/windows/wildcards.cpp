// SPDX-License-Identifier: Apache-2.0
// cmd and PowerShell hand "logs\*.log" to the program as it is.
#include <windows.h>

#include <algorithm>
#include <string_view>

#include "platform/command_text.h"
#include "platform/name_order.h"

namespace qve::platform {

namespace {

// The length of the character `text` starts with: a surrogate pair is one.
std::size_t CharacterLength(std::wstring_view text) {
  return text.size() > 1 && (text[0] & 0xFC00) == 0xD800 && (text[1] & 0xFC00) == 0xDC00 ? 2 : 1;
}

// '*' any run of characters, '?' one character, anything else itself in any
// case. The last '*' seen is where a mismatch resumes.
bool Matches(std::wstring_view pattern, std::wstring_view name) {
  std::size_t p = 0, n = 0, starP = std::wstring_view::npos, starN = 0;
  while (n < name.size()) {
    const std::size_t length = CharacterLength(name.substr(n));
    if (p < pattern.size() && pattern[p] == L'*') {
      starP = ++p;
      starN = n;
    } else if (p < pattern.size() &&
               (pattern[p] == L'?' ||
                SameName(pattern.substr(p, CharacterLength(pattern.substr(p))),
                         name.substr(n, length)))) {
      p += pattern[p] == L'?' ? 1 : CharacterLength(pattern.substr(p));
      n += length;
    } else if (starP != std::wstring_view::npos) {
      p = starP;
      n = starN += CharacterLength(name.substr(starN));
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}

bool SortedLess(const std::wstring& a, const std::wstring& b) {
  const int order = CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                         static_cast<int>(b.size()), TRUE);
  return order == CSTR_LESS_THAN || (order == CSTR_EQUAL && a < b);
}

}  // namespace

std::vector<std::wstring> ExpandWildcards(const std::wstring& argument) {
  // "\\?\" and "\\.\" begin a path as it is, no pattern.
  const std::size_t from =
      argument.starts_with(L"\\\\?\\") || argument.starts_with(L"\\\\.\\") ? 4 : 0;
  const std::size_t wild = argument.find_first_of(L"*?", from);
  if (wild == std::wstring::npos) return {argument};
  const std::size_t cut = argument.find_last_of(L"\\/:", wild);
  const std::size_t start = cut == std::wstring::npos ? 0 : cut + 1;
  const std::size_t end = std::min(argument.find_first_of(L"\\/", wild), argument.size());
  std::wstring pattern = argument.substr(start, end - start);
  // "*.*" is every name, dot or not, as cmd has it.
  if (pattern == L"*.*") pattern = L"*";
  const std::wstring folder = argument.substr(0, start), rest = argument.substr(end);
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data{};
  const HANDLE find = FindFirstFileExW((folder + L"*").c_str(), FindExInfoBasic, &data,
                                       FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return {};
  do {
    const std::wstring_view name = data.cFileName;
    // A pattern in a folder part ("case_*\system.log") matches folders only.
    if (name != L"." && name != L".." && Matches(pattern, name) &&
        (rest.empty() || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)))
      names.emplace_back(name);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  std::sort(names.begin(), names.end(), SortedLess);
  std::vector<std::wstring> paths;
  for (const std::wstring& name : names) {
    const std::wstring path = folder + name + rest;
    if (rest.empty()) {
      paths.push_back(path);
      continue;
    }
    // What a folder matched holds is there when the rest has no pattern.
    for (std::wstring& match : ExpandWildcards(path))
      if (match != path || GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        paths.push_back(std::move(match));
  }
  return paths;
}

}  // namespace qve::platform
