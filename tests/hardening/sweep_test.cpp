// SPDX-License-Identifier: Apache-2.0
// Tamper sweeps: no change passes as untouched but those the format cannot see.
#include <gtest/gtest.h>

#include <optional>
#include <sstream>

#include "tests/support/builders.h"
#include "tests/support/harness.h"
#include "verify/log_line.h"

namespace qve {
namespace {

using namespace testing;

constexpr std::size_t kBlock = 16;

// Flips accepted among those of each bit of [begin, end), and how many of
// them in the last cipher block; a Success must leave exactly `body`.
std::pair<std::size_t, std::size_t> Sweep(const Bytes& container, const Bytes& body,
                                          std::size_t begin, std::size_t end) {
  TempDir dir;
  std::size_t accepted = 0, inLastBlock = 0;
  for (std::size_t at = begin; at < end; ++at) {
    for (int bit = 0; bit < 8; ++bit) {
      Bytes flipped = container;
      flipped[at] ^= std::uint8_t(1u << bit);
      WriteFile(dir / "in.qves", flipped);
      if (Decrypt(dir / "in.qves", dir / "out.bin") != QVE_Helper::Success) continue;
      EXPECT_EQ(ReadFile(dir / "out.bin"), body) << "byte " << at << " bit " << bit;
      ++accepted;
      if (at >= container.size() - kBlock) ++inLastBlock;
    }
  }
  return {accepted, inLastBlock};
}

// A 12-byte body and the 276-byte trailer fill whole blocks: a flip in the
// last, pure padding, garbles only it, and it is dropped. Nothing else passes.
TEST(ContainerSweep, NoFlippedBitDecryptsToOtherData) {
  const Container whole{.body = Pattern(12, 5)};
  ASSERT_EQ(whole.Plaintext().size() % kBlock, 0u);
  const Bytes container = whole.Build();
  // From the first recipient record through the IV and the payload.
  const auto [accepted, inLastBlock] = Sweep(container, whole.body, 7, container.size());
  EXPECT_EQ(accepted, inLastBlock);
  EXPECT_GE(inLastBlock, 8 * kBlock - 8);
  EXPECT_LE(inLastBlock, 8 * kBlock);
  // With a partly filled last block the trailer's end shares it with the
  // padding, so no flip is accepted.
  const Container partial{.body = Pattern(20, 6)};
  ASSERT_NE(partial.Plaintext().size() % kBlock, 0u);
  const Bytes other = partial.Build();
  EXPECT_EQ(Sweep(other, partial.body, other.size() - 2 * kBlock, other.size()).first, 0u);
}

using Lines = std::vector<std::string>;
// System_1.log, System_2.log, system.log: one chain, every line distinct,
// every file ending in a signature line.
using Chain = std::vector<std::pair<std::string, Lines>>;

Chain BuildChain() {
  LogChain chain;
  LogBuilder first(chain), second(chain), third(chain);
  first.DataLines(2, "boot ").Sign().Data("service up").Sign();
  second.Data("user login").Sign().DataLines(2, "job ").Sign();
  third.Data("user logout").Data("shutdown").Sign();
  Chain files = {{"System_1.log", {}}, {"System_2.log", {}}, {"system.log", {}}};
  const LogBuilder* logs[] = {&first, &second, &third};
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::istringstream in(std::string(logs[i]->bytes().begin(), logs[i]->bytes().end()));
    for (std::string line; std::getline(in, line);) files[i].second.push_back(line);
  }
  return files;
}

// ReportOk with every file named in `touched` FileOk.
bool LooksUntouched(const Chain& chain, const Lines& touched) {
  TempDir dir;
  Report report(CreateVerificationReport());
  for (const auto& [name, lines] : chain) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    WriteFile(dir / name, text);
    AddFileToVerificationReport(report.get(), WidePath(dir / name).c_str());
  }
  if (VerifyReport(report.get(), true) != QVE_REPORT_OK) return false;
  for (const auto& name : touched)
    for (const auto& [file, verdict] : RecordsOf(report.get()))
      if (file == WidePath(name) && verdict != QVE_FILE_OK) return false;
  return true;
}

// The digest of the block the verifier decodes from a whole line, or nothing
// when the line does not sign.
std::optional<Bytes> SignedBlockOf(const std::string& line) {
  LineFeed feed;
  feed.Add(line);
  if (!feed.EndsSignature()) return std::nullopt;
  return feed.payload().digest();
}

// Two changes per byte: a bit flipped, and the byte made a line end. The only
// change let through leaves a signature line's decoded block as it was: a
// payload byte past where decoding stops, or only unused low bits.
TEST(LogSweep, EveryChangeIsCaughtButThoseTheFormatCannotSee) {
  const Chain original = BuildChain();
  ASSERT_TRUE(LooksUntouched(original, {"System_1.log", "System_2.log", "system.log"}));
  std::size_t tried = 0;
  for (std::size_t f = 0; f < original.size(); ++f) {
    const auto& [name, lines] = original[f];
    for (std::size_t l = 0; l < lines.size(); ++l) {
      for (std::size_t b = 0; b < lines[l].size(); ++b) {
        for (const char change : {char(lines[l][b] ^ 1), '\n'}) {
          Chain tampered = original;
          tampered[f].second[l][b] = change;
          ++tried;
          if (!LooksUntouched(tampered, {name})) continue;
          const auto before = SignedBlockOf(lines[l]), after = SignedBlockOf(tampered[f].second[l]);
          ASSERT_TRUE(before && after && *before == *after) << name << ":" << l + 1 << " " << b;
        }
      }
      // Every deleted line and every swap of neighbouring lines is caught.
      Chain deleted = original, swapped = original;
      deleted[f].second.erase(deleted[f].second.begin() + long(l));
      EXPECT_FALSE(LooksUntouched(deleted, {name})) << name << ":" << l + 1 << " deleted";
      if (l + 1 == lines.size()) continue;
      std::swap(swapped[f].second[l], swapped[f].second[l + 1]);
      EXPECT_FALSE(LooksUntouched(swapped, {name})) << name << ":" << l + 1 << " swapped";
    }
  }
  EXPECT_GT(tried, 2000u);
  // Every swap of two file names is caught.
  for (std::size_t a = 0; a < original.size(); ++a) {
    for (std::size_t b = a + 1; b < original.size(); ++b) {
      Chain tampered = original;
      std::swap(tampered[a].first, tampered[b].first);
      EXPECT_FALSE(LooksUntouched(tampered, {original[a].first, original[b].first})) << a << b;
    }
  }
  // Removing the first file leaves a chain whose new first block may link to
  // anything, and removing the last a shorter whole chain: the library cannot
  // see either (a checkpoint catches the second: tests/cli). A file removed
  // from the middle breaks the chain.
  for (std::size_t f = 0; f < original.size(); ++f) {
    Chain tampered = original;
    tampered.erase(tampered.begin() + long(f));
    EXPECT_EQ(LooksUntouched(tampered, {tampered[0].first, tampered[1].first}), f != 1) << f;
  }
}

}  // namespace
}  // namespace qve
