// SPDX-License-Identifier: Apache-2.0
// qvehelper verify --html, read back the way a browser reads it: headless
// Chromium loads the page and dumps its DOM, which must hold the expected
// cells and line rows, and no element or attribute that a log brought in.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/support/command_rows.h"
#include "tests/support/harness.h"

namespace qve {
namespace {

using testing::LogBuilder;
using testing::LogChain;
using testing::TempDir;

// A name and lines that try markup, quotes, controls and invalid UTF-8.
const std::string kHostileName = "System_<img src=x onerror=alert(1)>&amp;\"'\x01.log";
const std::string kScriptLine = "<script>alert(1)</script> & <b title=\"x\">bold</b>";
const std::string kByteLine = "bad \xff\xfe bytes \x1b[31m red \xe2\x80\xae reversed";

using Files = std::vector<std::pair<std::string, std::string>>;

struct Case {
  const char* name;
  Files logs = {};  // builder scripts of one chain, written into the run's folder
  std::function<void(const std::filesystem::path&)> make = {};  // or logs built so
  std::vector<std::string> args = {"."};                        // in that folder
  int exitCode = 0;
  std::string strip;               // cell kinds per file, files split by '|'
  std::vector<std::string> inDom;  // serialised DOM pieces that must be there
  bool asNobody = false;           // run as the unprivileged user (CI runs as root)
  std::string sh = "true";         // shell steps in the folder first
};

std::string Examples(const char* name) { return std::string(QVE_EXAMPLES_DIR) + "/" + name; }

std::string Repeat(const std::string& text, int times) {
  std::string all;
  while (times-- > 0) all += text;
  return all;
}

const Case kCases[] = {
    // clang-format off
    {.name = "BundledChain", .args = {Examples("logs")}, .strip = "ok|ok|ok unsigned",
     .inDom = {R"(<span class="verdict result good">ReportOk (0)</span>)", R"(<span class="cell k-ok" title="lines 1–10: 2 blocks BlockOk">✓<small>×2</small></span>)", R"(<td class="n">6</td><td><span class="cell k-unsigned">U</span> BlockUnsigned</td>)"}},
    {.name = "UnsignedTail", .logs = {{"system.log", "l l S t t t"}}, .strip = "ok unsigned",
     .inDom = {R"(<td class="n">4–6</td><td><span class="cell k-unsigned">U</span> BlockUnsigned</td>)", R"(<div class="count"><strong>3</strong><span>unsigned lines</span></div>)", R"(<div class="count"><strong>1</strong><span>file verified</span></div>)", "lines 4-6 are not signed"}},
    {.name = "NeverSigned", .logs = {{"system.log", "one two"}}, .exitCode = 1, .strip = "unsigned",
     .inDom = {R"(<span class="verdict plain">FileUnsigned</span>)"}},
    {.name = "ChainBreak", .logs = {{"System_1.log", "l l S"}, {"System_2.log", "restarted S0 l S"}}, .exitCode = 2,
     .strip = "ok|break ok",
     .inDom = {R"(<span class="verdict broken">FileChainBreak</span>)", "<tr><th>1</th><td>restarted</td></tr>", R"(<p class="meaning">Signed, but not linked to the block before.</p>)"}},
    {.name = "FileThatCannotBeRead", .logs = {{"System_1.log", "l S"}, {"System_2.log", "secret S"}, {"System_3.log", "l S"}},
     .exitCode = 6, .strip = "ok|none|break",
     .inDom = {R"(<td colspan="3" class="none">The file cannot be read.</td>)", "cannot be read (permission denied); FileUnsigned</li>", R"(<p class="note">The chain break follows from <code>)", "Signed, but not linked to the block before: the break follows from ", R"(<div class="count"><strong>0</strong><span>bad files</span></div>)"},
     .asNobody = true, .sh = "chmod 0 System_2.log"},
    {.name = "CheckpointInLinkOrder", .logs = {{"System_9.log", "l S"}, {"System_10.log", "l S"}},
     .args = {"--order", "links", "--strict", "--checkpoint-init", "--checkpoint", "cp", "System_9.log", "System_10.log"},
     .strip = "ok|ok",
     .inDom = {"<h3>Chain, in verification order: by their links</h3>", R"(<span class="verdict good">Checkpoint new</span> System_10.log line 2 (id 0), written to )", R"x(<span class="cell k-ok checkpoint" title="lines 1–2: BlockOk; the checkpoint: System_10.log line 2 (id 0)">)x", "the strict policy is met."}},
    {.name = "MarkupAndInvalidBytes",
     .make = [](const std::filesystem::path& dir) {
       LogChain chain;
       LogBuilder(chain).Data(kScriptLine).Data(kByteLine).Script("S!").WriteTo(dir / kHostileName);
     },
     .exitCode = 3, .strip = "invalid",
     .inDom = {"System_&lt;img src=x onerror=alert(1)&gt;&amp;amp;\"'<span " "class=\"esc\">\\x01</span>.log", "<tr><th>1</th><td>&lt;script&gt;alert(1)&lt;/script&gt; &amp; &lt;b " "title=\"x\"&gt;bold&lt;/b&gt;</td></tr>", "bad <span class=\"esc\">\\xff\\xfe</span> bytes <span class=\"esc\">\\x1b</span>[31m " "red <span class=\"esc\">\\u{202e}</span> reversed"}},
    {.name = "LongBadBlock", .logs = {{"system.log", Repeat("l ", 199) + "last more more more more more S!"}},
     .exitCode = 3, .strip = "invalid",
     .inDom = {"<tr><th>200</th><td>last</td></tr>", "!<tr><th>201</th>", "Not shown: 5 more lines of this block, after the first 200."}},
    {.name = "EveryBlockBad", .logs = {{"system.log", Repeat("line S# ", 25)}}, .exitCode = 3, .strip = "invalid",
     .inDom = {R"(<a class="cell k-invalid" href="#c1-f1-b1" title="lines 1–50: 25 blocks BlockInvalid">)", R"(<div class="excerpt" id="c1-f1-b20">)", R"(!id="c1-f1-b21")", "Not shown: the lines of 5 more bad blocks. The page shows those of at most 20 bad " "blocks " "per file and 4 MiB of lines per chain."}},
    {.name = "ManyRuns", .logs = {{"system.log", Repeat("line S E ", 100) + "line S"}},
     .strip = Repeat("ok nosig ", 100) + "more",
     .inDom = {R"(<span class="cell k-more" title="lines 301–302: 1 more block not listed one by one">)"}},
    {.name = "EachChain", .args = {"--each", Examples("logs"), Examples("logs-tampered")},
     .exitCode = 2, .strip = "ok|ok|ok unsigned|ok|invalid ok|ok unsigned",
     .inDom = {"<h2>Chain 1 of 2: " + Examples("logs") + " <span class=\"verdict result good\">", "<h2>Chain 2 of 2: " + Examples("logs-tampered") + " <span class=\"verdict result bad\">", "<div class=\"excerpt\" id=\"c2-f2-b1\">", R"(<span class="verdict bad">FileInvalid</span>)", R"(<a class="cell k-invalid" href="#c2-f2-b1" title="lines 1–4: BlockInvalid">I</a>)", "<tr><th>3</th><td>2024-03-02 08:10:44 INFO  auth: user guest logged in</td></tr>", "The signature does not vouch for these lines"}},
    // clang-format on
};

// The DOM as Chromium builds it; under an address-space cap (a mutation run's),
// where Chromium dies, the page as written, which proves less.
std::string DumpDom(const std::filesystem::path& page) {
  rlimit cap{};
  if (getrlimit(RLIMIT_AS, &cap) == 0 && cap.rlim_cur != RLIM_INFINITY) {
    std::string text = testing::ReadText(page);
    // A serialised DOM writes quotes in text as they are.
    text = std::regex_replace(text, std::regex("&quot;"), "\"");
    return std::regex_replace(text, std::regex("&#39;"), "'");
  }
  TempDir profile;
  const testing::CommandResult run = testing::RunCommand(
      "chromium",
      {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
       "--disable-background-networking", "--disable-component-update", "--disable-sync",
       "--user-data-dir=" + profile.path().string(), "--dump-dom", "file://" + page.string()});
  EXPECT_EQ(run.exitCode, 0) << "chromium is needed (scripts/setup installs it): " << run.err;
  return run.out;
}

// Every element and attribute of the DOM is one the page itself writes. In a
// serialised DOM text never holds a raw '<' and attribute values are quoted.
void ExpectOnlyOwnMarkup(const std::string& dom) {
  static const std::set<std::string> kElements = {
      "html", "head", "meta", "title", "style", "body", "header", "footer", "h1",     "h2",
      "h3",   "h4",   "dl",   "dt",    "dd",    "code", "div",    "span",   "a",      "section",
      "ul",   "li",   "p",    "table", "tbody", "tr",   "th",     "td",     "strong", "small"};
  static const std::set<std::string> kAttributes = {"lang", "charset",    "http-equiv",  "content",
                                                    "name", "class",      "id",          "title",
                                                    "href", "aria-label", "aria-hidden", "colspan"};
  const std::regex tag(R"re(<(\w+)((?:\s+[^\s=>]+(?:="[^"]*")?)*)\s*>)re"),
      attribute(R"re(([^\s=]+)(?:="([^"]*)")?)re"), anyTag("<\\w"),
      ownIds(R"(#?c\d+(-f\d+(-b\d+)?)?)");
  const std::sregex_iterator end;
  EXPECT_EQ(std::distance(std::sregex_iterator(dom.begin(), dom.end(), tag), end),
            std::distance(std::sregex_iterator(dom.begin(), dom.end(), anyTag), end));
  for (std::sregex_iterator t(dom.begin(), dom.end(), tag); t != end; ++t) {
    EXPECT_TRUE(kElements.count((*t)[1])) << "element " << (*t)[1];
    const std::string attributes = (*t)[2];
    for (std::sregex_iterator a(attributes.begin(), attributes.end(), attribute); a != end; ++a) {
      const std::string name = (*a)[1], value = (*a)[2];
      EXPECT_TRUE(kAttributes.count(name)) << (*t)[1] << " attribute " << name;
      if (name == "id" || name == "href") {
        EXPECT_TRUE(std::regex_match(value, ownIds)) << value;
      }
    }
  }
}

// Found by search, not one regex over a whole strip: std::regex recurses per
// character, and a strip of a hundred cells outgrows ThreadSanitizer's stack.
std::string StripOf(const std::string& dom) {
  const std::string open = R"(<div class="cells">)", close = "</div>";
  const std::regex cell(R"re(class="cell k-(\w+)[^"]*")re");
  std::string strip;
  for (size_t at = dom.find(open); at != std::string::npos; at = dom.find(open, at)) {
    at += open.size();
    const size_t stop = dom.find(close, at);
    if (stop == std::string::npos) break;
    if (!strip.empty()) strip += '|';
    const std::string cells = dom.substr(at, stop - at);
    std::string kinds;
    for (std::sregex_iterator c(cells.begin(), cells.end(), cell), end; c != end; ++c) {
      if (!kinds.empty()) kinds += ' ';
      kinds += (*c)[1].str();
    }
    strip += kinds;
    at = stop;
  }
  return strip;
}

class HtmlReportTest : public ::testing::TestWithParam<Case> {};

TEST_P(HtmlReportTest, PageShowsTheChainAndOnlyItsOwnMarkup) {
  const Case& c = GetParam();
  TempDir logs, out;
  testing::WriteChain(logs.path(), c.logs);
  if (c.make) c.make(logs.path());
  ASSERT_EQ(testing::Shell(logs.path(), "chmod 777 . " + out.path().string() + " && " + c.sh), 0);
  std::vector<std::string> args = {"verify", "--html", (out / "report.html").string()};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const testing::CommandResult run = testing::Run(
      {.program = QVE_CLI_FILE, .args = args, .folder = logs.path(), .asNobody = c.asNobody});
  ASSERT_EQ(run.exitCode, c.exitCode) << run.err;
  // The command still prints what it prints without --html.
  EXPECT_NE(run.out.find(" file"), std::string::npos);

  const std::string dom = DumpDom(out / "report.html");
  ASSERT_NE(dom.find("</footer>"), std::string::npos) << dom;
  EXPECT_EQ(StripOf(dom), c.strip);
  for (const std::string& piece : c.inDom) {
    if (piece[0] == '!') {
      EXPECT_EQ(dom.find(piece.substr(1)), std::string::npos) << piece;
    } else {
      EXPECT_NE(dom.find(piece), std::string::npos) << piece;
    }
  }

  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  EXPECT_NE(dom.find(std::string("<dt>Host</dt><dd>") + host + "</dd>"), std::string::npos);
  ExpectOnlyOwnMarkup(dom);
}

QVE_ROWS(HtmlReportTest, kCases);

}  // namespace
}  // namespace qve
