// SPDX-License-Identifier: Apache-2.0
// inspect's reading of a file: its kind told by its content, and the
// library's diagnosis of a container as JSON and as text.
#include <optional>
#include <ostream>
#include <string>

#include "cli/inspect.h"
#include "cli/standard_input.h"
#include "decrypt/container_diagnosis.h"
#include "format/container_format.h"
#include "platform/file_status.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace qve::cli {

namespace {

Json HeaderJson(const HeaderStop& stop) {
  Json header = {{"code", static_cast<int>(stop.status)},
                 {"status", HeaderStatusName(stop.status)}};
  if (stop.status == HeaderStatus::Complete) return header;
  header["field"] = HeaderFieldName(stop.field);
  header["record"] = stop.record;
  header["offset"] = stop.offset;
  header["problem"] = HeaderProblem(stop);
  return header;
}

Json SessionKeyJson(const SessionKeyCheck& key) {
  if (!key.record)
    return {{"record", nullptr},
            {"problem", "no record for the built-in key " + Hex(KeyIdOf(kDecryptionKeyNumber))}};
  Json result = {{"record", *key.record + 1}, {"unwraps", key.unwraps}};
  if (!key.unwraps) return result;
  result["crcMatches"] = key.crcMatches;
  result["keyMaterialLength"] = key.keyMaterialLength;
  result["ready"] = key.ready;
  return result;
}

Json SealJson(const SealDiagnosis& seal) {
  Json out = {{"reached", true},
              {"decrypts", seal.decrypted == QVE_Helper::Success},
              {"plaintextLength", seal.plaintextLength},
              {"found", seal.stop.status == SealStatus::Found}};
  if (seal.stop.status != SealStatus::Found) {
    using F = SealField;
    const SealStop& stop = seal.stop;
    const bool isTag = stop.field == F::ClosingTag || stop.field == F::OpeningTag;
    out["stop"] = SealStatusName(stop.status);
    out["offset"] = stop.offset;
    out["problem"] = stop.field == F::None
                         ? "fewer than " + std::to_string(stop.limit) + " bytes"
                         : Problem(stop, SealFieldName(stop.field), isTag, kSealTag.size(),
                                   stop.field == F::KeyId || stop.field == F::Signature,
                                   isTag || stop.field == F::Version);
    return out;
  }
  out["length"] = seal.stop.length;
  out["keyId"] = Hex(seal.keyId);
  out["namesBuiltInKey"] = seal.namesBuiltInKey;
  out["signatureLength"] = seal.signatureLength;
  out["result"] = DecryptResultName(seal.result);
  out["verifies"] = seal.result == QVE_Helper::Success;
  return out;
}

std::string YesNo(const Json& flag, const char* yes, const char* no) {
  return flag.get<bool>() ? yes : no;
}

void InspectContainer(std::istream& file, std::uint64_t size, bool seal, Json& into) {
  const ContainerDiagnosis diagnosis = DiagnoseContainer(file, size, seal);
  into["header"] = HeaderJson(diagnosis.header.stop);
  if (diagnosis.header.version) into["version"] = *diagnosis.header.version;
  if (diagnosis.header.count) into["recipientCount"] = *diagnosis.header.count;
  Json list = Json::array();
  for (std::size_t i = 0; i < diagnosis.records.size(); ++i) {
    const RecordDiagnosis& record = diagnosis.records[i];
    list.push_back({{"offset", record.offset},
                    {"tag", std::string(1, static_cast<char>(kRecipientTag))},
                    {"keyId", Hex(record.keyId)},
                    {"wrappedKeyLength", record.wrappedKeyLength},
                    {"used", diagnosis.sessionKey.record == i}});
  }
  into["recipients"] = list;
  if (diagnosis.header.stop.status != HeaderStatus::Complete) return;

  into["iv"] = Hex(diagnosis.iv);
  into["payloadLength"] = diagnosis.payloadLength;
  into["blockSize"] = diagnosis.blockSize;
  into["wholeBlocks"] = diagnosis.wholeBlocks;
  into["cutShort"] = diagnosis.cutShort;
  into["sessionKey"] = SessionKeyJson(diagnosis.sessionKey);
  if (diagnosis.tail) into["lastBlockPadding"] = diagnosis.tail->paddingValid;
  if (seal) into["seal"] = diagnosis.seal ? SealJson(*diagnosis.seal) : Json{{"reached", false}};
}

void PrintContainer(std::ostream& out, const Json& file) {
  const Json& header = file["header"];
  if (file.contains("version")) out << "  version " << file["version"] << '\n';
  if (file.contains("recipientCount"))
    out << "  recipient count " << file["recipientCount"] << '\n';
  int number = 0;
  for (const Json& record : file["recipients"]) {
    out << "  record " << ++number << " at offset " << record["offset"] << ": tag "
        << record["tag"].get<std::string>() << ", key " << record["keyId"].get<std::string>()
        << ", wrapped key " << record["wrappedKeyLength"] << " bytes"
        << (record["used"].get<bool>() ? " (used)" : "") << '\n';
  }
  if (header["code"] != 0) {
    out << "  header malformed at offset " << header["offset"] << ": "
        << header["problem"].get<std::string>() << " (reader code " << header["code"] << ", "
        << header["status"].get<std::string>() << ")\n";
    return;
  }
  out << "  iv " << file["iv"].get<std::string>() << '\n'
      << "  payload " << file["payloadLength"] << " bytes, ";
  if (file["payloadLength"] == 0)
    out << "none: the file ends right after the IV, cut short";
  else
    out << YesNo(file["wholeBlocks"], "a whole number of ", "not a whole number of ")
        << file["blockSize"] << "-byte blocks" << (file["wholeBlocks"] ? "" : ", cut short");
  if (file.contains("lastBlockPadding"))
    out << ", the last one's padding "
        << YesNo(file["lastBlockPadding"], "valid", "invalid: cut short or damaged");
  out << '\n';
  const Json& key = file["sessionKey"];
  out << "  session key: ";
  if (key["record"].is_null()) {
    out << key["problem"].get<std::string>() << '\n';
  } else if (!key["unwraps"].get<bool>()) {
    out << "record " << key["record"] << " does not unwrap\n";
  } else {
    out << "record " << key["record"] << " unwraps, CRC "
        << YesNo(key["crcMatches"], "matches", "does not match") << ", key material "
        << key["keyMaterialLength"] << " bytes\n";
  }
  if (!file.contains("seal")) return;
  const Json& seal = file["seal"];
  out << "  seal: ";
  if (!seal["reached"].get<bool>()) {
    out << "not reached, the session key does not open\n";
  } else if (!seal["decrypts"].get<bool>()) {
    out << "the decryption stopped after " << seal["plaintextLength"] << " bytes\n";
  } else if (!seal["found"].get<bool>()) {
    out << "no trailer in " << seal["plaintextLength"]
        << " bytes of plaintext: " << seal["problem"].get<std::string>() << " at offset "
        << seal["offset"] << '\n';
  } else {
    out << seal["length"] << " bytes, key " << seal["keyId"].get<std::string>() << ", signature "
        << seal["signatureLength"] << " bytes, "
        << YesNo(seal["verifies"], "verifies", "does not verify") << " ("
        << seal["result"].get<std::string>() << ")";
    if (!seal["namesBuiltInKey"].get<bool>())
      out << ": " << OtherKey(seal["keyId"].get<std::string>());
    out << '\n';
  }
}

}  // namespace

std::string HeaderProblem(const HeaderStop& stop) {
  using F = HeaderField;
  std::string field = HeaderFieldName(stop.field);
  if (stop.record != 0) field += " of record " + std::to_string(stop.record);
  const bool isTag = stop.field == F::Magic || stop.field == F::Tag;
  return Problem(stop, field, isTag, stop.field == F::Magic ? kContainerMagic.size() : 1,
                 stop.field == F::KeyId || stop.field == F::WrappedKey || stop.field == F::Iv,
                 isTag || stop.field == F::Version);
}

std::string OtherKey(const std::string& keyId) {
  return "the seal names key " + keyId + ", not the built-in verification key " +
         Hex(KeyIdOf(kVerificationKeyNumber));
}

std::string TagHex(std::uint64_t value, std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = size; i-- > 0; value >>= 8) bytes[i] = static_cast<std::uint8_t>(value);
  return Hex(bytes);
}

std::string InspectFile(const std::string& path, const InspectOptions& options, std::ostream& out,
                        const std::wstring* reads) {
  Json file = {{"path", Escaped(path)}};
  const std::wstring wide = reads != nullptr ? *reads : platform::ArgumentPath(path);
  const auto unreadable = [&](const std::string& reason) {
    file["kind"] = "unreadable";
    file["reason"] = reason;
    out << (options.json ? file.dump()
                         : file["path"].get<std::string>() + ": cannot be read: " + reason)
        << '\n';
    return "unreadable";
  };
  if (reads == nullptr) {
    // Before anything opens it: a FIFO would keep the reader waiting.
    const platform::FileStatus status = platform::StatusOf(wide);
    if (status.kind == platform::FileKind::Other) {
      file["kind"] = "special";
      file["what"] = status.what;
      out << (options.json ? file.dump()
                           : file["path"].get<std::string>() + ": " + SpecialFileText(status, true))
          << '\n';
      return "special";
    }
  }
  platform::FileStream stream;
  std::error_code error;
  const std::uint64_t size = platform::FileSize(wide, error);
  if (error || !platform::OpenForReading(stream, wide)) {
    if (!error) error = platform::ReadError(wide);
    return unreadable(error ? platform::ErrorText(error) : "it does not open");
  }
  Bytes start(kContainerMagic.size());
  stream.read(reinterpret_cast<char*>(start.data()), static_cast<std::streamsize>(start.size()));
  start.resize(static_cast<std::size_t>(stream.gcount()));
  FileKind kind = options.as;
  if (kind == FileKind::Detect && StartsWithContainerMagic(start)) kind = FileKind::Container;
  file["kind"] = kind == FileKind::Container ? "container" : "log";
  file["size"] = size;
  if (kind != FileKind::Container) {
    stream.close();
    // The library's log reader takes only a path with a narrow form.
    if (!platform::ToNarrow(wide))
      return unreadable("the name is not valid UTF-16 (an unpaired surrogate)");
    return InspectLog(wide, std::move(file), kind == FileKind::Detect, options.json, out);
  }
  InspectContainer(stream, size, options.seal, file);
  if (options.json) {
    out << file.dump() << '\n';
  } else {
    out << file["path"].get<std::string>() << ": container, " << size << " bytes\n";
    PrintContainer(out, file);
  }
  return "container";
}

}  // namespace qve::cli
