// qvehelper verify --html: one self-contained page for people who did not run
// the tool. It is drawn from the same document that --json --details prints,
// plus the verified files themselves for the lines of bad blocks and for
// where each signed block sits.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace qve::cli {

// One verified chain: the --json --details document, and the files in the
// order of its "details".
struct HtmlChain {
  nlohmann::ordered_json report;
  std::vector<std::wstring> paths;
  std::string title = {};  // what the chain was made from, shown in its heading
};

// When, where and how the page was made.
struct HtmlRun {
  std::string time;
  std::string host;
  std::string command;
  std::string version;
  std::string build = {};  // BuildDescription: version, OpenSSL and built-in keys
};

// This process's run: now, this host, its command line, this version.
HtmlRun CurrentRun();

// The whole page; one section per chain.
std::string RenderHtmlReport(const std::vector<HtmlChain>& chains, const HtmlRun& run);

// Renders for the current run and writes the page to `path` (narrow text as
// on the command line); false with `error` set when it cannot be written.
bool WriteHtmlReport(const std::string& path, const std::vector<HtmlChain>& chains,
                     std::string* error);

}  // namespace qve::cli
