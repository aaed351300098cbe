// SPDX-License-Identifier: Apache-2.0
#include "report/chain_links.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "crypto/digest.h"
#include "format/signed_log_format.h"
#include "platform/paths.h"
#include "text/escape.h"
#include "verify/system_log_name.h"
#include "verify/verify_files.h"

namespace qve {

namespace {

// Chain values as map keys. Written out because g++ 12 at -O3 warns that the
// vector's own <=> may read past any object (a false stringop-overread).
struct BytesLess {
  bool operator()(const Bytes& a, const Bytes& b) const {
    const std::size_t common = std::min(a.size(), b.size());
    const int order = common == 0 ? 0 : std::memcmp(a.data(), b.data(), common);
    return order != 0 ? order < 0 : a.size() < b.size();
  }
};
template <typename T>
using ByChainValue = std::map<Bytes, T, BytesLess>;

constexpr std::size_t kNone = std::size_t(-1);

// The first block breaks that a run in `order` has, as the library judges
// them: a validly signed first block whose link is not the chain value
// before it, but for the run's first file.
std::size_t ChainBreaks(const std::vector<VerifiedFile>& files,
                        const std::vector<std::size_t>& order, const Bytes& start) {
  std::size_t breaks = 0;
  const Bytes* chain = &start;
  for (std::size_t k = 0; k < order.size(); ++k) {
    const VerifiedFile& file = files[order[k]];
    const bool signedValidly = file.firstSigned == BlockOk || file.firstSigned == BlockChainBreak;
    if (k > 0 && signedValidly && file.detail.firstLink && *file.detail.firstLink != *chain)
      ++breaks;
    if (file.detail.lastChainValue) chain = &*file.detail.lastChainValue;
  }
  return breaks;
}

// A rotation's name, whose number tells its age one way or the other; the
// live log's name says it is the newest.
bool IsNumbered(std::wstring_view name) { return AsTheRuleSpellsIt(name).starts_with(L"System_"); }

std::string PathsText(const std::vector<VerifiedFile>& files,
                      const std::vector<std::size_t>& which) {
  std::string text;
  for (std::size_t k = 0; k < which.size(); ++k) {
    if (k > 0) text += k + 1 == which.size() ? " and " : ", ";
    text += files[which[k]].path;
  }
  return text;
}

}  // namespace

std::vector<std::size_t> LinkOrder(const std::vector<FileLinks>& files,
                                   const std::vector<bool>& numbered) {
  const std::size_t n = files.size();
  const auto isNumbered = [&](std::size_t i) { return numbered.empty() || numbered[i]; };
  ByChainValue<std::vector<std::size_t>> endingIn;
  for (std::size_t i = 0; i < n; ++i) {
    if (files[i].lastChainValue) endingIn[*files[i].lastChainValue].push_back(i);
  }
  std::vector<std::size_t> before(n, kNone), after(n, kNone);
  std::ptrdiff_t newestFirst = 0;  // joins from a higher number, less those from a lower
  for (std::size_t i = 0; i < n; ++i) {
    if (!files[i].firstLink) continue;
    const auto found = endingIn.find(*files[i].firstLink);
    if (found == endingIn.end()) continue;
    for (const std::size_t j : found->second) {
      if (j == i) continue;
      before[i] = j;
      if (after[j] == kNone) {
        after[j] = i;
        if (isNumbered(i) && isNumbered(j)) newestFirst += j > i ? 1 : -1;
      }
      break;
    }
  }
  // The order in which runs are taken: by age as the names tell it.
  std::vector<std::size_t> byAge;
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t i = newestFirst > 0 ? n - 1 - k : k;
    if (newestFirst <= 0 || isNumbered(i)) byAge.push_back(i);
  }
  for (std::size_t i = 0; newestFirst > 0 && i < n; ++i) {
    if (!isNumbered(i)) byAge.push_back(i);
  }
  std::vector<std::size_t> order;
  std::vector<bool> placed(n);
  const auto place = [&](std::size_t i) {
    for (; i != kNone && !placed[i]; i = after[i]) {
      placed[i] = true;
      order.push_back(i);
    }
  };
  // Nothing tells where a file with no signature line stands but that its
  // writer has not signed yet: it is the newest.
  const auto begun = [&](std::size_t i) {
    return !files[i].opened || files[i].firstLink || files[i].lastChainValue;
  };
  const auto startsRun = [&](std::size_t i) {
    return begun(i) && (before[i] == kNone || after[before[i]] != i);
  };
  // With nothing to tell which way the numbers run, the live log's run is
  // the newest still.
  const auto holdsLive = [&](std::size_t i) {
    if (newestFirst != 0) return false;
    for (std::size_t k = 0; i != kNone && k < n; i = after[i], ++k) {
      if (!isNumbered(i)) return true;
    }
    return false;
  };
  // Nor which run is the oldest but that one starts the chain.
  const Bytes start = ChainStart();
  const auto startsChain = [&](std::size_t i) {
    return newestFirst == 0 && !numbered.empty() && files[i].firstLink == start;
  };
  for (const int pass : {0, 1, 2}) {
    for (const std::size_t i : byAge) {
      if (startsRun(i) && (holdsLive(i) ? 2 : startsChain(i) ? 0 : 1) == pass) place(i);
    }
  }
  // What is left links round in a circle.
  for (const std::size_t i : byAge) {
    if (begun(i)) place(i);
  }
  for (const std::size_t i : byAge) place(i);
  return order;
}

std::vector<std::wstring> SortByLinks(std::vector<std::wstring> paths, platform::WorkerPool* pool) {
  // One file is in order without being read.
  if (paths.size() < 2) return paths;
  std::stable_sort(paths.begin(), paths.end(), FileNameLess);
  std::vector<FileLinks> links(paths.size());
  platform::ForEach(pool, paths.size(), [&](std::size_t i) {
    links[i] =
        ReadFileLinks(platform::ToNarrow(paths[i]).value_or(""), CompressionByName(paths[i]));
  });
  std::vector<bool> numbered;
  for (const auto& path : paths) numbered.push_back(IsNumbered(platform::FileNameOf(path)));
  std::vector<std::wstring> ordered;
  for (const std::size_t i : LinkOrder(links, numbered)) ordered.push_back(std::move(paths[i]));
  return ordered;
}

void LeaveOutGzipCopies(std::vector<std::wstring>& paths, std::vector<VerifyWarning>& warnings) {
  const std::set<std::wstring> given(paths.begin(), paths.end());
  const auto links = [](const std::wstring& path) {
    return ReadFileLinks(platform::ToNarrow(path).value_or(""), CompressionByName(path));
  };
  std::erase_if(paths, [&](const std::wstring& path) {
    if (CompressionByName(path) != Compression::Gzip) return false;
    const std::wstring plain = path.substr(0, path.size() - 3);
    if (given.count(plain) == 0) return false;
    const FileLinks copy = links(path);
    if (!copy.lastChainValue) return false;
    const FileLinks original = links(plain);
    if (copy.firstLink != original.firstLink || copy.lastChainValue != original.lastChainValue)
      return false;
    warnings.push_back({platform::ShownText(path),
                        "a gzip'd copy of " + platform::ShownText(plain) +
                            ", which holds the same signed lines; verified once",
                        false, WarningKind::SameFile});
    return true;
  });
}

void WarnAboutLinks(VerifyOutcome& outcome) {
  std::vector<VerifiedFile>& files = outcome.files;
  const Bytes start = ChainStart();
  ByChainValue<std::vector<std::size_t>> continuing, endingIn;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const FileDetail& detail = files[i].detail;
    if (detail.firstLink) continuing[*detail.firstLink].push_back(i);
    if (detail.lastChainValue) endingIn[*detail.lastChainValue].push_back(i);
  }
  std::vector<bool> inFork(files.size());
  for (const auto& [link, which] : continuing) {
    if (which.size() < 2) continue;
    for (const std::size_t i : which) inFork[i] = true;
    outcome.warnings.push_back(
        {files[which[0]].path,
         link == start
             ? PathsText(files, which) + " each start a chain: their first blocks link to "
                                         "the empty digest"
             : PathsText(files, which) + " continue the same block (chain value " +
                   text::Hex(link) + "): a file was replayed or rewritten"});
    outcome.warnings.back().code = WarningKind::Links;
  }
  bool signedBefore = false;
  const VerifiedFile* lastSigned = nullptr;
  for (std::size_t i = 0; i < files.size(); ++i) {
    VerifiedFile& file = files[i];
    const std::optional<Bytes>& link = file.detail.firstLink;
    // The chain value stays as it was across a file that cannot be read,
    // and is that of its last block read across one read in part.
    if (file.detail.counts.firstBlockChainBreak) {
      for (std::size_t j = i; j-- > 0;) {
        const FileDetail& before = files[j].detail;
        if (before.opened && !before.readError && before.fault == platform::ReadFault::None) {
          if (before.lastChainValue) break;
          continue;
        }
        file.breakFollows = files[j].path;
        outcome.warnings.push_back(
            {file.path, "FileChainBreak follows from " + files[j].path + ", which cannot be read"});
        outcome.warnings.back().code = WarningKind::BreakFollows;
        break;
      }
    }
    // In link order a break between files is a seam: the links join the
    // file to none before it, and the order of names put it where it is.
    const bool seam = outcome.linkOrder && link && lastSigned != nullptr &&
                      *link != *lastSigned->detail.lastChainValue;
    outcome.seams = outcome.seams || seam;
    const std::string seamText =
        seam ? "; it follows " + lastSigned->path + " by the order of names" : "";
    const auto ending = link ? endingIn.find(*link) : endingIn.end();
    const bool continuesOne =
        ending != endingIn.end() && (ending->second.size() > 1 || ending->second[0] != i);
    const std::size_t warned = outcome.warnings.size();
    if (i > 0 && link && !continuesOne && !inFork[i] && file.breakFollows.empty()) {
      if (*link != start) {
        outcome.warnings.push_back(
            {file.path, "its first block links to " + text::Hex(*link) +
                            ", which no file of the run ends in: a file before it is missing "
                            "or was changed" +
                            seamText});
        outcome.warnings.back().code = WarningKind::Links;
      } else if (signedBefore) {
        outcome.warnings.push_back(
            {file.path,
             "starts a chain anew: its first block links to the empty digest" + seamText});
        outcome.warnings.back().code = WarningKind::Links;
      }
    }
    if (seam && outcome.warnings.size() == warned && file.breakFollows.empty()) {
      outcome.warnings.push_back({file.path, "the links join it to no file before it: it follows " +
                                                 lastSigned->path + " by the order of names"});
      outcome.warnings.back().code = WarningKind::Links;
    }
    if (file.detail.lastChainValue) {
      signedBefore = true;
      lastSigned = &file;
    }
  }
  if (outcome.linkOrder) return;
  std::vector<FileLinks> links;
  std::vector<bool> numbered;
  std::vector<std::size_t> asRun;
  for (const VerifiedFile& file : files) {
    asRun.push_back(links.size());
    links.push_back({file.detail.opened, file.detail.firstLink, file.detail.lastChainValue});
    numbered.push_back(IsNumbered(file.detail.name));
  }
  const std::vector<std::size_t> order = LinkOrder(links, numbered);
  const std::size_t byName = ChainBreaks(files, asRun, start);
  const std::size_t byLinks = ChainBreaks(files, order, start);
  if (byLinks >= byName) return;
  const std::size_t at =
      std::size_t(std::mismatch(order.begin(), order.end(), asRun.begin()).first - order.begin());
  outcome.warnings.push_back(
      {files[at].path, "name order puts it before " + files[order[at]].name +
                           ", link order after it: in link order the run has " +
                           text::Counted(byName - byLinks, "chain break") + " fewer"});
  outcome.warnings.back().code = WarningKind::Links;
}

}  // namespace qve
