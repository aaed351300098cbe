// Writes the seed inputs of the fuzz targets that the test builders can make
// field by field: container headers, seal windows, log lines, whole
// containers and split log chains. fuzz/make-seeds runs it.
//   qve_fuzz_seeds CORPUS_FOLDER
#include <filesystem>
#include <iostream>
#include <string>

#include "crypto/bytes.h"
#include "tests/support/byte_writer.h"
#include "tests/support/container_builder.h"
#include "tests/support/log_builder.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using qve::Bytes;
using qve::testing::BytesOf;
using qve::testing::ContainerBuilder;
using qve::testing::kKeyId10;
using qve::testing::kKeyId11;
using qve::testing::LogBuilder;
using qve::testing::LogChain;
using qve::testing::Pattern;
using qve::testing::RecipientRecord;
using qve::testing::SealTrailerBuilder;

fs::path corpus;

void Seed(const std::string& target, const std::string& name, const Bytes& bytes) {
  fs::create_directories(corpus / target);
  qve::testing::WriteFile(corpus / target / name, bytes);
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

void HeaderSeeds() {
  Seed("container_header", "one-recipient", ContainerBuilder().Header());
  Seed("container_header", "no-recipients", ContainerBuilder().NoRecipients().Header());
  Seed("container_header", "two-recipients",
       ContainerBuilder()
           .Recipient(RecipientRecord().KeyId(kKeyId11).WrappedKey(Pattern(40)))
           .Recipient(RecipientRecord().KeyId({}).WrappedKey({}))
           .Header());
  Seed("container_header", "bad-tag",
       ContainerBuilder().Recipient(RecipientRecord().Tag('p').KeyId(kKeyId10)).Header());
}

void SealSeeds() {
  const Bytes body = Pattern(300, 7);
  Seed("seal", "signed", Concat(body, SealTrailerBuilder().SignBody().Build(body)));
  Seed("seal", "empty-fields", SealTrailerBuilder().KeyId({}).Signature({}).Build());
  Seed("seal", "gap",
       Concat(body, SealTrailerBuilder().Signature(Pattern(12)).Gap(Pattern(9, 3)).Build(body)));
}

void LogLineSeeds() {
  LogChain chain;
  LogBuilder crlf(chain);
  crlf.CrLf().DataLines(2).Sign().Data("tail");
  Seed("log_line", "crlf-signed", Concat({7}, crlf.bytes()));
  LogBuilder odd(chain);
  odd.Data(std::string("nul\0after", 9))
      .Raw(
          "lone\rcr\n\x1F\x1F\n\x1F\r\nend\x1A"
          "after");
  Seed("log_line", "odd-bytes", Concat({1}, odd.bytes()));
}

void DecryptSeeds() {
  Seed("decrypt", "empty-body", ContainerBuilder().Build());
  Seed("decrypt", "short-body", ContainerBuilder().Body(BytesOf("a sealed line\n")).Build());
  Seed("decrypt", "whole-blocks", ContainerBuilder().Body(Pattern(64, 1)).Build());
  Seed("decrypt", "second-recipient",
       ContainerBuilder()
           .Recipient(RecipientRecord().KeyId(kKeyId11).WrappedKey(Pattern(16)))
           .Recipient(qve::testing::WrappedFor(kKeyId10, qve::testing::KeyBlock(Pattern(32, 9))))
           .SessionKey(Pattern(32, 9))
           .Body(Pattern(100, 2))
           .Build());
  Seed("decrypt", "no-seal", ContainerBuilder().Body(Pattern(50, 4)).NoTrailer().Build());
}

// The verify target reads its first three bytes as the file count and the
// two cut points; the rest is the logs, back to back.
Bytes SplitInput(std::uint8_t files, std::uint8_t cut1, std::uint8_t cut2, const Bytes& logs) {
  return Concat({files, cut1, cut2}, logs);
}

void VerifySeeds() {
  LogChain chain;
  LogBuilder first(chain), second(chain), third(chain);
  first.DataLines(2, "a").Sign();
  second.DataLines(1, "b").Sign().EmptySignature();
  third.Data("c").Sign().Data("unsigned");
  const Bytes all = Concat(Concat(first.bytes(), second.bytes()), third.bytes());
  const auto cut = [&](std::size_t at) { return static_cast<std::uint8_t>(at * 255 / all.size()); };
  Seed("verify", "three-files",
       SplitInput(2, cut(first.bytes().size()), cut(first.bytes().size() + second.bytes().size()),
                  all));
  Seed("verify", "one-file", SplitInput(0, 0, 0, all));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: qve_fuzz_seeds CORPUS_FOLDER\n";
    return 64;
  }
  corpus = argv[1];
  HeaderSeeds();
  SealSeeds();
  LogLineSeeds();
  DecryptSeeds();
  VerifySeeds();
  return 0;
}
