// Every single-bit change to the parts of a small container that protect it
// (the recipient record for key 10, the IV and the payload) is tried. None
// may decrypt to Success with output other than the sealed data; the one
// change that is let through is stated below as the format's limit.
#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <iostream>
#include <string>

#include "QVEHelper.h"
#include "platform/paths.h"
#include "tests/support/container_builder.h"
#include "tests/support/temp_dir.h"

namespace qve {
namespace {

namespace fs = std::filesystem;
using testing::ContainerBuilder;
using testing::Pattern;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

constexpr std::size_t kBlock = 16;

struct Region {
  const char* name;
  std::size_t begin;
  std::size_t end;
};

struct SweepCounts {
  std::size_t tried = 0;
  std::size_t accepted = 0;  // Success with exactly the sealed data
  std::size_t acceptedInLastBlock = 0;
};

class ContainerSweep {
 public:
  explicit ContainerSweep(ContainerBuilder builder)
      : builder_(std::move(builder)), container_(builder_.Build()) {}

  const Bytes& container() const { return container_; }
  std::size_t headerSize() const { return builder_.Header().size(); }
  // The sealed data, what a Success must leave: the body without its trailer.
  Bytes sealed() const { return body_; }
  void SetBody(Bytes body) { body_ = std::move(body); }

  // Flips each bit of [begin, end) alone and decrypts the result.
  void Sweep(const Region& region, SweepCounts& counts) {
    const fs::path input = dir_ / "flipped.qves";
    const fs::path output = dir_ / "out.bin";
    const std::size_t lastBlock = container_.size() - kBlock;
    for (std::size_t at = region.begin; at < region.end; ++at) {
      for (int bit = 0; bit < 8; ++bit) {
        Bytes flipped = container_;
        flipped[at] ^= static_cast<std::uint8_t>(1u << bit);
        WriteFile(input, flipped);
        const auto result = QVE_Helper::Decrypt(*platform::ToWide(input.string()),
                                                *platform::ToWide(output.string()));
        ++counts.tried;
        if (result != QVE_Helper::Success) continue;
        ASSERT_EQ(ReadFile(output), body_)
            << region.name << " byte " << at << " bit " << bit << " decrypted to other data";
        ++counts.accepted;
        if (at >= lastBlock) ++counts.acceptedInLastBlock;
      }
    }
  }

 private:
  ContainerBuilder builder_;
  Bytes container_;
  Bytes body_;
  TempDir dir_;
};

void Report(const char* name, const SweepCounts& counts) {
  ::testing::Test::RecordProperty(std::string(name) + "_tried", static_cast<int>(counts.tried));
  ::testing::Test::RecordProperty(std::string(name) + "_accepted",
                                  static_cast<int>(counts.accepted));
  std::cout << name << ": " << counts.tried << " flipped files tried, " << counts.accepted
            << " accepted (all in the last cipher block: " << counts.acceptedInLastBlock << ")\n";
}

// The trailer signed by the dev key is 276 bytes; with a 12-byte body the
// plaintext fills 18 whole blocks, so the last cipher block is pure padding.
TEST(ContainerSweepTest, NoFlippedBitDecryptsToOtherData) {
  const Bytes body = Pattern(12, 5);
  ContainerSweep sweep(ContainerBuilder().Body(body));
  sweep.SetBody(body);
  const std::size_t header = sweep.headerSize();
  const std::size_t size = sweep.container().size();
  ASSERT_EQ((size - header) % kBlock, 0u);
  ASSERT_EQ(ContainerBuilder().Body(body).Plaintext().size() % kBlock, 0u)
      << "the plaintext must fill whole blocks for the padding limit below";

  SweepCounts counts;
  for (const Region& region :
       {Region{"recipient record for key 10", 7, header - kBlock},
        Region{"IV", header - kBlock, header}, Region{"payload", header, size}}) {
    sweep.Sweep(region, counts);
  }
  Report("whole_block_container", counts);
  EXPECT_EQ(counts.tried, 8 * (size - 7));
  // The limit: a flip in the pure padding block garbles only that block, so
  // its padding check fails and it is dropped; the seal sits in the block
  // before, and the rest decrypts to exactly the sealed data. Almost every
  // flip there is accepted that way; a garbled block that happens to end in
  // valid padding adds bytes behind the seal and is refused.
  EXPECT_EQ(counts.accepted, counts.acceptedInLastBlock);
  EXPECT_GE(counts.acceptedInLastBlock, 8 * kBlock - 8);
  EXPECT_LE(counts.acceptedInLastBlock, 8 * kBlock);
}

// With a partly filled last block the trailer's end shares it with the
// padding, so no flip anywhere in the payload is accepted.
TEST(ContainerSweepTest, PartialLastBlockAcceptsNoFlip) {
  const Bytes body = Pattern(20, 6);
  ContainerSweep sweep(ContainerBuilder().Body(body));
  sweep.SetBody(body);
  ASSERT_NE(ContainerBuilder().Body(body).Plaintext().size() % kBlock, 0u);
  const std::size_t size = sweep.container().size();
  SweepCounts counts;
  sweep.Sweep({"last two cipher blocks", size - 2 * kBlock, size}, counts);
  Report("partial_block_container", counts);
  EXPECT_EQ(counts.tried, 8 * 2 * kBlock);
  EXPECT_EQ(counts.accepted, 0u);
}

}  // namespace
}  // namespace qve
