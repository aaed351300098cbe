// Writes the seed inputs of the fuzz targets that the test builders make
// field by field: container headers, seal windows, log lines, whole
// containers and split log chains. fuzz/make-seeds runs it.
//   qve_fuzz_seeds CORPUS_FOLDER
#include <iostream>
#include <string>

#include "tests/support/builders.h"
#include "tests/support/harness.h"

namespace {

using namespace qve::testing;
using qve::Bytes;

fs::path corpus;

void Seed(const std::string& target, const std::string& name, const Bytes& bytes) {
  fs::create_directories(corpus / target);
  WriteFile(corpus / target / name, bytes);
}

void HeaderSeeds() {
  Seed("container_header", "one-recipient", Container{}.Header());
  Seed("container_header", "no-recipients", Container{.records = {{}}}.Header());
  Seed("container_header", "two-recipients",
       Container{.records = {{{.keyId = kKeyId11, .wrappedKey = Pattern(40)}, {}}}}.Header());
  Seed("container_header", "bad-tag",
       Container{.records = {{{.tag = 'p', .keyId = kKeyId10}}}}.Header());
}

void SealSeeds() {
  const Bytes body = Pattern(300, 7);
  Seed("seal", "signed", Concat(body, Seal{}.Build(body)));
  Seed("seal", "empty-fields", Seal{.keyId = {}, .signature = Bytes{}}.Build());
  Seed("seal", "gap", Concat(body, Seal{.signature = Pattern(12), .gap = Pattern(9, 3)}.Build()));
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
  Seed("decrypt", "empty-body", Container{}.Build());
  Seed("decrypt", "short-body", Container{.body = BytesOf("a sealed line\n")}.Build());
  Seed("decrypt", "whole-blocks", Container{.body = Pattern(64, 1)}.Build());
  Seed("decrypt", "second-recipient",
       Container{.records = {{{.keyId = kKeyId11, .wrappedKey = Pattern(16)},
                              WrappedFor(kKeyId10, KeyBlock(Pattern(32, 9)))}},
                 .sessionKey = Pattern(32, 9),
                 .body = Pattern(100, 2)}
           .Build());
  Seed("decrypt", "no-seal", Container{.body = Pattern(50, 4), .seal = std::nullopt}.Build());
}

// The verify target reads its first three bytes as the file count and the
// two cut points; the rest is the logs, back to back.
void VerifySeeds() {
  LogChain chain;
  LogBuilder first(chain), second(chain), third(chain);
  first.DataLines(2, "a").Sign();
  second.DataLines(1, "b").Sign().EmptySignature();
  third.Data("c").Sign().Data("unsigned");
  const Bytes all = Concat(Concat(first.bytes(), second.bytes()), third.bytes());
  const auto cut = [&](std::size_t at) { return static_cast<std::uint8_t>(at * 255 / all.size()); };
  const std::size_t one = first.bytes().size(), two = one + second.bytes().size();
  Seed("verify", "three-files", Concat({2, cut(one), cut(two)}, all));
  Seed("verify", "one-file", Concat({0, 0, 0}, all));
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
