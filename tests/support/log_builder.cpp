#include "tests/support/log_builder.h"

#include "tests/support/temp_dir.h"
#include "tools/writer/log_signer.h"

namespace qve::testing {

Bytes LogChain::EmptyDigest() { return writer::EmptyChainValue(); }

LogBuilder& LogBuilder::Lf() {
  lineEnd_ = "\n";
  return *this;
}

LogBuilder& LogBuilder::CrLf() {
  lineEnd_ = "\r\n";
  return *this;
}

LogBuilder& LogBuilder::Data(std::string_view line) {
  // A reader sees a CR right before the LF as part of the line end.
  std::string_view covered = line;
  if (covered.ends_with('\r')) covered.remove_suffix(1);
  pending_.emplace_back(covered.substr(0, covered.find('\0')));
  Raw(line);
  return Raw(lineEnd_);
}

LogBuilder& LogBuilder::DataLines(int count, std::string_view prefix) {
  for (int i = 1; i <= count; ++i) Data(std::string(prefix) + std::to_string(i));
  return *this;
}

LogBuilder& LogBuilder::Sign(const std::function<void(SignatureBlockBuilder&)>& adjust) {
  SignatureBlockBuilder block;
  block.Link(chain_.value()).SignOver(pending_);
  if (adjust) adjust(block);
  lastBlock_ = block.Build();
  chain_.Set(writer::Sha256(lastBlock_));
  const std::string line = writer::SignatureLineOf(lastBlock_);
  pending_.clear();
  Raw(line);
  return Raw(lineEnd_);
}

LogBuilder& LogBuilder::EmptySignature() {
  chain_.Reset();
  return SignatureLine("");
}

LogBuilder& LogBuilder::SignatureLine(std::string_view payload) {
  pending_.clear();
  Raw("\x1F");
  Raw(payload);
  Raw("\x1F");
  return Raw(lineEnd_);
}

LogBuilder& LogBuilder::Raw(std::string_view bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

void LogBuilder::WriteTo(const std::filesystem::path& path) const { WriteFile(path, bytes_); }

}  // namespace qve::testing
