#include "decrypt/block_buffers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <istream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/container_builder.h"

namespace qve {
namespace {

using testing::Pattern;

std::string PatternText(std::size_t size) {
  const Bytes bytes = Pattern(size, 7);
  return std::string(bytes.begin(), bytes.end());
}

// Records the size of every hand-over, and accepts up to `limit` bytes.
class RecordingSink : public std::streambuf {
 public:
  explicit RecordingSink(std::size_t limit = SIZE_MAX) : limit_(limit) {}
  std::string accepted;
  std::vector<std::streamsize> handOvers;
  int syncs = 0;

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    handOvers.push_back(n);
    const auto take = std::min(static_cast<std::size_t>(n), limit_ - accepted.size());
    accepted.append(s, take);
    return static_cast<std::streamsize>(take);
  }
  int sync() override {
    ++syncs;
    return 0;
  }

 private:
  std::size_t limit_;
};

struct ReadCase {
  const char* name;
  std::size_t size;
  std::size_t blockSize;
  std::size_t chunk;
};

class BlockReadBufferTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(BlockReadBufferTest, DeliversEveryByteInOrderThenTheEnd) {
  const ReadCase& c = GetParam();
  const std::string text = PatternText(c.size);
  std::istringstream source(text);
  BlockReadBuffer blocks(*source.rdbuf(), c.blockSize);
  std::istream in(&blocks);
  std::string read;
  std::string chunk(c.chunk, '\0');
  while (in.good()) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    read.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
  }
  EXPECT_EQ(read, text);
  EXPECT_TRUE(in.eof());
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BlockReadBufferTest,
    ::testing::Values(ReadCase{"Empty", 0, 64, 16}, ReadCase{"SmallerThanABlock", 50, 64, 16},
                      ReadCase{"ExactBlocks", 256, 64, 16},
                      ReadCase{"ChunkAcrossBlocks", 1000, 64, 48},
                      ReadCase{"ChunkLargerThanABlock", 1000, 64, 300},
                      ReadCase{"ChunkOfTheDecryption", 20000, kFileBlockSize, 4096}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BlockWriteBuffer, HandsOverWholeBlocksUntilTheFlush) {
  RecordingSink sink;
  const std::string text = PatternText(1000);
  {
    BlockWriteBuffer blocks(sink, 256);
    std::ostream out(&blocks);
    for (std::size_t at = 0; at < text.size(); at += 100)
      out.write(text.data() + at,
                static_cast<std::streamsize>(std::min<std::size_t>(100, text.size() - at)));
    EXPECT_TRUE(out.good());
    EXPECT_EQ(sink.accepted, text.substr(0, 768));
    EXPECT_EQ(sink.handOvers, (std::vector<std::streamsize>{256, 256, 256}));
    EXPECT_EQ(sink.syncs, 0);
    EXPECT_TRUE(out.flush().good());
  }
  EXPECT_EQ(sink.accepted, text);
  EXPECT_EQ(sink.handOvers.back(), 232);
  EXPECT_EQ(sink.syncs, 1);
}

TEST(BlockWriteBuffer, WritesNothingAtDestruction) {
  RecordingSink sink;
  {
    BlockWriteBuffer blocks(sink, 256);
    std::ostream out(&blocks);
    out << "abandoned";
  }
  EXPECT_TRUE(sink.accepted.empty());
  EXPECT_TRUE(sink.handOvers.empty());
}

TEST(BlockWriteBuffer, ARefusedHandOverFailsTheWriteAndKeepsWhatWasTaken) {
  RecordingSink sink(300);
  const std::string text = PatternText(1000);
  BlockWriteBuffer blocks(sink, 256);
  std::ostream out(&blocks);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  EXPECT_TRUE(out.bad());
  EXPECT_EQ(sink.accepted, text.substr(0, 300));
}

TEST(BlockWriteBuffer, ARefusedFlushFailsTheStream) {
  RecordingSink sink(10);
  BlockWriteBuffer blocks(sink, 256);
  std::ostream out(&blocks);
  out << "more than ten bytes";
  EXPECT_TRUE(out.good());
  EXPECT_TRUE(out.flush().bad());
  EXPECT_EQ(sink.accepted, "more than ");
  EXPECT_EQ(sink.syncs, 0);
}

}  // namespace
}  // namespace qve
