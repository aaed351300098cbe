// SPDX-License-Identifier: Apache-2.0
// Writes the seed inputs of the fuzz targets that the test builders make
// field by field: container headers, seal windows, log lines, whole
// containers and split log chains; and the named vectors, small containers
// and log sets each with the result the library must give, which the vector
// test reads and the fuzz targets start from too. fuzz/make-seeds runs it.
//   qve_fuzz_seeds CORPUS_FOLDER VECTORS_FOLDER
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "format/container_format.h"
#include "format/signed_log_format.h"

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

// A buffer-size byte, then a gzip file: a signed log in one member, in two,
// and cut inside its second.
void GzipSeeds() {
  LogChain chain;
  LogBuilder log(chain);
  log.CrLf().DataLines(3).Sign().Data("tail");
  const Bytes& bytes = log.bytes();
  const Bytes two = Concat(Gzip(Head(bytes, 40)), Gzip(std::span(bytes).subspan(40)));
  Seed("gzip", "signed-log", Concat({63}, Gzip(bytes)));
  Seed("gzip", "two-members", Concat({2}, two));
  Seed("gzip", "cut-member", Concat({5}, Head(two, two.size() - 9)));
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
  // Unwraps with the built-in key, yet holds fewer bytes than a CRC: only
  // a seed can reach past the unwrapping.
  const Bytes shortBlock =
      Container{.records = {{WrappedFor(kKeyId10, Bytes{1, 2})}}, .body = Pattern(40, 5)}.Build();
  Seed("decrypt", "key-block-shorter-than-crc", shortBlock);
  Seed("inspect", "key-block-shorter-than-crc", shortBlock);
  // The C interface's two option bytes first: keep unverified output and
  // stop at the first progress call; check with a scratch file.
  Seed("c_decrypt", "key-block-shorter-than-crc", Concat({1, 1}, shortBlock));
  Seed("c_decrypt", "sealed-scratch-file",
       Concat({4 | 16, 0}, Container{.body = BytesOf("a sealed line\n")}.Build()));
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

// A container and the DecryptResult it must give: NAME.qves, NAME.expected.
void ContainerVector(const fs::path& folder, const std::string& name, const Bytes& container,
                     QVE_Helper::DecryptResult expected) {
  WriteFile(folder / (name + ".qves"), container);
  WriteFile(folder / (name + ".expected"), std::string(qve::DecryptResultName(expected)) + " " +
                                               std::to_string(int(expected)) + "\n");
}

void ContainerVectors(const fs::path& folder) {
  using Records = std::vector<Record>;
  fs::create_directories(folder);
  const auto header = [&](const std::string& name, const Container& c) {
    ContainerVector(folder, "header-" + name, c.Build(), QVE_Helper::HeaderInvalid);
  };
  // One per header code, in the order of the codes.
  header("1-magic", {.magic = "QVEZ"});
  header("1-one-byte", {.cutTo = 1});
  header("1-iv-cut", {.cutTo = 280});
  header("2-version", {.version = 2});
  header("3-key-id-cut", {.records = Records{{.keyIdLength = 90}}, .cutTo = 50});
  header("4-count-33", {.count = 33});
  header("5-tag", {.records = Records{{.tag = 'p'}}});
  header("6-key-id-length", {.records = Records{{.keyIdLength = 16385}}});
  header("7-wrapped-key-length",
         {.records = Records{{.keyId = kKeyId10, .wrappedKeyLength = 4097}}});

  const Container plain{.body = BytesOf("a sealed line\n")};
  const Bytes key = plain.sessionKey;
  const auto session = [&](const std::string& name, Records records) {
    Container c = plain;
    c.records = std::move(records);
    ContainerVector(folder, "session-" + name, c.Build(), QVE_Helper::SessionKeyUnavailable);
  };
  session("no-record", {});
  session("only-key-11", {WrappedFor(kKeyId11, KeyBlock(key))});
  session("not-unwrapping", {{.keyId = kKeyId10, .wrappedKey = Pattern(256)}});
  session("crc-mismatch", {WrappedFor(kKeyId10, Concat(key, Bytes{1, 2, 3, 4}))});
  session("material-short", {WrappedFor(kKeyId10, KeyBlock(Head(key, 31)))});
  session("first-of-two-corrupt",
          {{.keyId = kKeyId10, .wrappedKey = Pattern(256)}, WrappedFor(kKeyId10, KeyBlock(key))});

  const auto seal = [&](const std::string& name, const Container& c, QVE_Helper::DecryptResult r) {
    ContainerVector(folder, "seal-" + name, c.Build(), r);
  };
  seal("good", plain, QVE_Helper::Success);
  seal("second-record",
       {.records =
            Records{WrappedFor(kKeyId11, KeyBlock(key)), WrappedFor(kKeyId10, KeyBlock(key))}},
       QVE_Helper::Success);
  seal("empty-body", {}, QVE_Helper::Success);
  // The payload is exactly two chunks, so the last read delivers nothing.
  seal("payload-8192", {.body = Pattern(8191 - 276)}, QVE_Helper::Success);
  // The output left once the trailer is cut off is exactly two chunks.
  seal("output-8192", {.body = Pattern(8192)}, QVE_Helper::Success);
  seal("none", {.body = Pattern(100), .seal = std::nullopt}, QVE_Helper::NoSeal);
  seal("longer-than-window", {.body = Pattern(100), .seal = Seal{.gap = Pattern(8192 - 276 + 1)}},
       QVE_Helper::NoSeal);
  seal("key-id-10", {.seal = Seal{.keyId = kKeyId10}}, QVE_Helper::BadSignature);
  seal("key-id-five-bytes", {.seal = Seal{.keyId = Concat(kKeyId11, Bytes{0})}},
       QVE_Helper::BadSignature);
  seal("bad-signature", {.body = Pattern(100), .seal = Seal{.signature = Pattern(256)}},
       QVE_Helper::BadSignature);
  seal("signed-over-other-data", {.body = Pattern(100), .seal = Seal{.signedData = Pattern(101)}},
       QVE_Helper::BadSignature);
  seal("payload-cut", {.body = Pattern(100), .cutTo = 288 + 100}, QVE_Helper::NoSeal);
}

// A log set: the files of one folder verified as one run, with every file
// reported, and the result they must give. `expected` holds the report
// result, then one line per file: name, verdict, value.
void LogVector(const fs::path& folder, const std::string& name,
               const std::vector<std::pair<std::string, Bytes>>& files,
               QVE_Helper::ReportResult result,
               const std::vector<QVE_Helper::FileVerdict>& verdicts) {
  const fs::path set = folder / name;
  fs::create_directories(set);
  std::string expected =
      std::string(qve::ReportResultName(result)) + " " + std::to_string(int(result)) + "\n";
  for (std::size_t i = 0; i < files.size(); ++i) {
    WriteFile(set / files[i].first, files[i].second);
    expected += files[i].first + " " + qve::FileVerdictName(verdicts[i]) + " " +
                std::to_string(int(verdicts[i])) + "\n";
  }
  WriteFile(set / "expected", expected);
}

Bytes Script(LogChain& chain, std::string_view script) {
  return LogBuilder(chain).Script(script).bytes();
}

void LogVectors(const fs::path& folder) {
  using namespace QVE_Helper;
  LogChain chain;
  const Bytes first = Script(chain, "boot up S");
  LogVector(folder, "valid-chain",
            {{"System_1.log", first}, {"system.log", Script(chain, "down S")}}, ReportOk,
            {FileOk, FileOk});
  chain.Reset();
  const Bytes one = Script(chain, "a S");
  LogVector(folder, "chain-break", {{"System_1.log", one}, {"system.log", Script(chain, "b S@")}},
            ReportSomeInvalid, {FileOk, FileChainBreak});
  chain.Reset();
  LogVector(folder, "tampered-line", {{"system.log", Script(chain, "a b S!")}}, ReportAllInvalid,
            {FileInvalid});
  chain.Reset();
  LogVector(folder, "empty-signature", {{"system.log", Script(chain, "a b E")}}, ReportUnsigned,
            {FileUnsigned});
  chain.Reset();
  LogVector(folder, "unsigned-tail", {{"system.log", Script(chain, "a S b c")}}, ReportOk,
            {FileOk});
  chain.Reset();
  LogVector(folder, "nul-in-line", {{"system.log", Script(chain, "a~hidden S")}}, ReportOk,
            {FileOk});
  chain.Reset();
  LogVector(folder, "crlf", {{"system.log", Script(chain, "crlf a b S c")}}, ReportOk, {FileOk});
  chain.Reset();
  // Past a 0x1A nothing is read, not even a malformed signature line.
  LogVector(folder, "end-of-input-byte",
            {{"system.log", LogBuilder(chain)
                                .Script("a S")
                                .Raw("\x1A"
                                     "b\n\x1Fjunk\x1F\n")
                                .bytes()}},
            ReportOk, {FileOk});
  chain.Reset();
  // A signature line whose LF is missing ends in 0x1F 0x0D: a data line.
  Bytes cr = Script(chain, "a S");
  cr.back() = '\r';
  LogVector(folder, "marker-cr-at-end", {{"system.log", cr}}, ReportUnsigned, {FileUnsigned});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: qve_fuzz_seeds CORPUS_FOLDER VECTORS_FOLDER\n";
    return 64;
  }
  corpus = argv[1];
  ContainerVectors(fs::path(argv[2]) / "containers");
  LogVectors(fs::path(argv[2]) / "logs");
  HeaderSeeds();
  SealSeeds();
  LogLineSeeds();
  GzipSeeds();
  DecryptSeeds();
  VerifySeeds();
  return 0;
}
