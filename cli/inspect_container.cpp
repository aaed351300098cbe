// The container half of inspect: the header as ReadHeader reads it, where
// and why it stops, the record the built-in key would use, and with --seal
// one decryption into memory that looks at the seal trailer.
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <istream>
#include <streambuf>
#include <string>
#include <vector>

#include "cli/inspect.h"
#include "crypto/built_in_keys.h"
#include "crypto/digest.h"
#include "crypto/openssl_ptr.h"
#include "decrypt/container_header.h"
#include "decrypt/decrypt_stream.h"
#include "decrypt/decryption_context.h"
#include "decrypt/session_key.h"

namespace qve::cli {

namespace {

constexpr std::uint64_t kFixedHeaderSize = 7;  // magic, version, count
constexpr std::uint64_t kRecordFixedSize = 5;  // tag, K, W

const char* StatusName(HeaderStatus status) {
  static constexpr const char* kNames[] = {"Complete",           "MagicVersionOrIvUnreadable",
                                           "VersionUnsupported", "Truncated",
                                           "TooManyRecipients",  "BadRecipientTag",
                                           "KeyIdLengthInvalid", "WrappedKeyLengthInvalid"};
  return kNames[static_cast<int>(status)];
}

// Up to `count` bytes at `offset`; fewer where the file ends.
Bytes BytesAt(std::istream& file, std::uint64_t offset, std::size_t count) {
  Bytes bytes(count);
  file.clear();
  file.seekg(static_cast<std::streamoff>(offset));
  file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<std::size_t>(file.gcount()));
  file.clear();
  return bytes;
}

std::uint32_t U16At(std::istream& file, std::uint64_t offset) {
  const Bytes bytes = BytesAt(file, offset, 2);
  return bytes.size() == 2 ? bytes[0] | (bytes[1] << 8) : 0;
}

std::uint64_t RecordStart(const std::vector<RecipientEntry>& records, std::size_t index) {
  std::uint64_t at = kFixedHeaderSize;
  for (std::size_t i = 0; i < index; ++i)
    at += kRecordFixedSize + records[i].keyId.size() + records[i].wrappedKey.size();
  return at;
}

std::string Left(std::uint64_t size, std::uint64_t at) {
  return std::to_string(size > at ? size - at : 0) + " left";
}

std::string ByteHex(std::uint32_t value) { return "0x" + Hex(Bytes{std::uint8_t(value)}); }

struct Fault {
  std::uint64_t offset;
  std::string problem;
};

// The reader names only the kind of fault; the records it kept and the
// file's size say which field it was.
Fault LocateFault(HeaderStatus status, const std::vector<RecipientEntry>& records,
                  std::istream& file, std::uint64_t size, std::size_t ivLength) {
  const std::size_t read = records.size();
  const std::string next = "record " + std::to_string(read + 1);
  const std::uint64_t nextStart = RecordStart(records, read);
  switch (status) {
    case HeaderStatus::Complete:
      break;
    case HeaderStatus::MagicVersionOrIvUnreadable: {
      const Bytes magic = BytesAt(file, 0, 4);
      if (magic != Bytes{'Q', 'V', 'E', 'S'})
        return {0, "magic " + Hex(magic) + ", expected 51564553 (\"QVES\")"};
      if (size < 6) return {4, "version cut short by the end of the file"};
      return {nextStart, "IV of " + std::to_string(ivLength) + " bytes, " + Left(size, nextStart)};
    }
    case HeaderStatus::VersionUnsupported:
      return {4, "version " + std::to_string(U16At(file, 4)) + ", expected 1"};
    case HeaderStatus::Truncated: {
      if (size < kFixedHeaderSize) return {6, "recipient count cut short by the end of the file"};
      if (read > 0) {
        // The reader keeps a record whose wrapped key it could not read,
        // without that key: its length is read from the file.
        const std::uint64_t at = RecordStart(records, read - 1) + 5 + records.back().keyId.size();
        const std::uint32_t declared = U16At(file, at - 2);
        if (records.back().wrappedKey.size() != declared && size < at + declared)
          return {at, "wrapped key of record " + std::to_string(read) + ", " +
                          std::to_string(declared) + " bytes declared, " + Left(size, at)};
      }
      if (size <= nextStart) return {nextStart, next + " missing, the file ends"};
      return {nextStart + 3, "key identifier of " + next + ", " +
                                 std::to_string(U16At(file, nextStart + 1)) + " bytes declared, " +
                                 Left(size, nextStart + 3)};
    }
    case HeaderStatus::TooManyRecipients:
      return {6, "recipient count " + std::to_string(BytesAt(file, 6, 1).at(0)) + ", at most " +
                     std::to_string(kMaxRecipients)};
    case HeaderStatus::BadRecipientTag:
      return {nextStart, "tag " + ByteHex(BytesAt(file, nextStart, 1).at(0)) + " of " + next +
                             ", expected 0x50 (\"P\")"};
    case HeaderStatus::KeyIdLengthInvalid:
      if (size < nextStart + 3)
        return {nextStart + 1,
                "key identifier length of " + next + " cut short by the end of the file"};
      return {nextStart + 1, "key identifier length " + std::to_string(U16At(file, nextStart + 1)) +
                                 " of " + next + ", at most " + std::to_string(kMaxKeyIdLength)};
    case HeaderStatus::WrappedKeyLengthInvalid: {
      const std::uint64_t at = RecordStart(records, read - 1) + 3 + records.back().keyId.size();
      const std::string record = "record " + std::to_string(read);
      if (size < at + 2)
        return {at, "wrapped key length of " + record + " cut short by the end of the file"};
      return {at, "wrapped key length " + std::to_string(U16At(file, at)) + " of " + record +
                      ", at most " + std::to_string(kMaxWrappedKeyLength)};
    }
  }
  return {0, ""};
}

Json SessionKeyOf(const std::vector<RecipientEntry>& records) {
  const DecryptionKey key;
  const auto used = std::find_if(records.begin(), records.end(),
                                 [&](const RecipientEntry& r) { return r.keyId == key.keyId(); });
  if (used == records.end())
    return {{"record", nullptr}, {"problem", "no record for the built-in key " + Hex(key.keyId())}};
  Json result = {{"record", used - records.begin() + 1}};
  KeyBlockBuffer buffer;
  const auto block = UnwrapKeyBlock(key.pkey(), used->wrappedKey, buffer);
  result["unwraps"] = block.has_value();
  if (!block) return result;
  result["crcMatches"] = KeyBlockIntact(*block);
  result["keyMaterialLength"] = block->size() < 4 ? 0 : block->size() - 4;
  return result;
}

// The seal's signature check, fed as the plaintext streams by.
class SignatureCheck {
 public:
  explicit SignatureCheck(const VerificationKey& key) : context_(EVP_MD_CTX_new()) {
    bound_ =
        context_ && key.pkey() != nullptr &&
        EVP_DigestVerifyInit(context_.get(), nullptr, LibraryDigest(), nullptr, key.pkey()) == 1;
  }
  bool Update(const std::uint8_t* bytes, std::size_t count) {
    return bound_ && EVP_DigestUpdate(context_.get(), bytes, count) == 1;
  }
  bool Finish(const Bytes& signature) {
    return bound_ && EVP_DigestVerifyFinal(context_.get(), signature.data(), signature.size()) == 1;
  }
  bool bound() const { return bound_; }

 private:
  MdCtxPtr context_;
  bool bound_ = false;
};

// Takes the plaintext instead of a file: all but the newest window's worth
// goes into the signature check at once; the newest bytes wait until the
// trailer's length is known, so that the trailer itself stays out.
class SealCheckSink : public std::streambuf {
 public:
  explicit SealCheckSink(SignatureCheck& verifier) : verifier_(verifier) {}

  std::uint64_t total() const { return total_; }

  // Checks everything but the last `trailerLength` bytes against `signature`.
  bool Finish(std::uint32_t trailerLength, const Bytes& signature) {
    if (trailerLength > held_.size()) return false;
    return Pass(held_.size() - trailerLength) && ok_ && verifier_.Finish(signature);
  }

 protected:
  std::streamsize xsputn(const char* bytes, std::streamsize count) override {
    held_.insert(held_.end(), bytes, bytes + count);
    total_ += static_cast<std::uint64_t>(count);
    if (held_.size() > 2 * kWindowSize) ok_ = Pass(held_.size() - kWindowSize) && ok_;
    return count;
  }
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    xsputn(&byte, 1);
    return c;
  }

 private:
  bool Pass(std::size_t count) {
    const bool passed = verifier_.Update(held_.data(), count);
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(count));
    return passed;
  }

  SignatureCheck& verifier_;
  Bytes held_;
  std::uint64_t total_ = 0;
  bool ok_ = true;
};

Json SealOf(std::istream& file) {
  const VerificationKey key;
  SignatureCheck verifier(key);
  const bool bound = verifier.bound();
  SealCheckSink sink(verifier);
  std::ostream plaintext(&sink);
  SealInfo seal;
  file.clear();
  file.seekg(0);
  const QVE_Helper::DecryptResult result = DecryptStream(file, plaintext, seal);
  if (result != QVE_Helper::Success) return {{"decrypts", false}};
  Json out = {{"decrypts", true}, {"plaintextLength", sink.total()}, {"found", seal.length != 0}};
  if (seal.length == 0) return out;
  out["length"] = seal.length;
  out["keyId"] = Hex(seal.keyId);
  out["signatureLength"] = seal.signature.size();
  // As the decryption judges it: the key is compared after the whole pass.
  const bool checked = bound && sink.Finish(seal.length, seal.signature);
  out["verifies"] = checked && seal.keyId == key.keyId();
  return out;
}

}  // namespace

void InspectContainer(std::istream& file, std::uint64_t size, bool seal, Json& into) {
  const EVP_CIPHER* cipher = PayloadCipher();
  Bytes iv(static_cast<std::size_t>(EVP_CIPHER_get_iv_length(cipher)));
  std::vector<RecipientEntry> records;
  file.clear();
  file.seekg(0);
  const HeaderStatus status = ReadHeader(file, iv, records);
  const std::uint64_t headerEnd = RecordStart(records, records.size()) + iv.size();

  Json header = {{"code", static_cast<int>(status)}, {"status", StatusName(status)}};
  if (status != HeaderStatus::Complete) {
    const Fault fault = LocateFault(status, records, file, size, iv.size());
    header["offset"] = fault.offset;
    header["problem"] = fault.problem;
  }
  into["header"] = header;
  if (size >= 6 && BytesAt(file, 0, 4) == Bytes{'Q', 'V', 'E', 'S'}) {
    into["version"] = U16At(file, 4);
    if (size >= kFixedHeaderSize && into["version"] == kContainerVersion)
      into["recipientCount"] = BytesAt(file, 6, 1).at(0);
  }

  const Bytes builtIn = MakeKeyId(kDecryptionKeyNumber);
  const auto used = std::find_if(records.begin(), records.end(),
                                 [&](const RecipientEntry& r) { return r.keyId == builtIn; });
  Json list = Json::array();
  for (std::size_t i = 0; i < records.size(); ++i) {
    list.push_back({{"offset", RecordStart(records, i)},
                    {"tag", "P"},
                    {"keyId", Hex(records[i].keyId)},
                    {"wrappedKeyLength", records[i].wrappedKey.size()},
                    {"used", records.begin() + static_cast<std::ptrdiff_t>(i) == used}});
  }
  into["recipients"] = list;
  if (status != HeaderStatus::Complete) return;

  const auto blockSize = static_cast<std::uint64_t>(EVP_CIPHER_get_block_size(cipher));
  into["iv"] = Hex(iv);
  into["payloadLength"] = size - headerEnd;
  into["blockSize"] = blockSize;
  into["wholeBlocks"] = (size - headerEnd) % blockSize == 0;
  into["sessionKey"] = SessionKeyOf(records);
  if (seal) into["seal"] = SealOf(file);
}

}  // namespace qve::cli
