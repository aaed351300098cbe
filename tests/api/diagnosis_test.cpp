// SPDX-License-Identifier: Apache-2.0
// A container's diagnosis through the C interface: where its header stops, the
// record the built-in key uses, and the seal decrypted in memory.
#include <gtest/gtest.h>

#include <QVEHelper.h>

#include <memory>
#include <vector>

#include "tests/support/builders.h"
#include "tests/support/harness.h"

namespace qve {
namespace {

using namespace testing;

using Diagnosis = std::unique_ptr<qve_diagnosis, decltype(&qve_diagnosis_free)>;

Diagnosis Diagnose(const Bytes& file, bool decrypt = false) {
  TempDir dir;
  WriteFile(dir / "c", file);
  const qve_diagnose_options options{sizeof options, decrypt ? 1 : 0};
  qve_diagnosis* made = nullptr;
  EXPECT_EQ(qve_diagnose_container((dir / "c").string().c_str(), &options, &made), 0);
  return {made, qve_diagnosis_free};
}

// Where reading the header stops, in file offsets. The default container's
// record runs from 7 to 272 (K at 8, key id at 10, W at 14, key at 16).
TEST(Interface, DiagnosisSaysWhereTheHeaderStops) {
  using Records = std::vector<Record>;
  struct Stop {
    int status;
    const char* field;
    std::uint32_t record;
    std::uint64_t offset, value, limit;
    bool cut = false;
    std::uint64_t left = 0;
  };
  const struct {
    const char* name;
    Bytes file;
    Stop stop;
    const char* problem;
  } rows[] = {
      // clang-format off
      {.name = "one byte", .file = BytesOf("Q"), .stop = {1, "magic", 0, 0, 0, 0, true, 1},
       .problem = "magic cut short by the end of the file"},
      {.name = "magic", .file = Container{.magic = "QVEX"}.Build(), .stop = {1, "magic", 0, 0, 0x51564558, 0x51564553},
       .problem = "magic 51564558, expected 51564553"},
      {.name = "version cut", .file = Container{.cutTo = 5}.Build(), .stop = {1, "version", 0, 4, 0, 0, true, 1},
       .problem = "version cut short by the end of the file"},
      {.name = "version 256", .file = Container{.version = 256}.Build(), .stop = {2, "version", 0, 4, 256, 1},
       .problem = "version 256, expected 1"},
      {.name = "count cut", .file = Container{.cutTo = 6}.Build(), .stop = {3, "recipient count", 0, 6, 0, 0, true},
       .problem = "recipient count cut short by the end of the file"},
      {.name = "count 33", .file = Container{.count = 33}.Build(), .stop = {4, "recipient count", 0, 6, 33, 32},
       .problem = "recipient count 33, at most 32"},
      {.name = "lower-case tag", .file = Container{.records = Records{{.tag = 'p'}}}.Build(), .stop = {5, "tag", 1, 7, 0x70, 0x50},
       .problem = "tag of record 1 70, expected 50"},
      {.name = "key id length cut", .file = Container{.cutTo = 9}.Build(), .stop = {6, "key identifier length", 1, 8, 0, 0, true, 1},
       .problem = "key identifier length of record 1 cut short by the end of the file"},
      {.name = "key id length 16385", .file = Container{.records = Records{{.keyIdLength = 16385}}, .cutTo = 10}.Build(), .stop = {6, "key identifier length", 1, 8, 16385, 16384},
       .problem = "key identifier length of record 1 16385, at most 16384"},
      {.name = "key id cut", .file = Container{.records = Records{{.keyId = kKeyId10, .keyIdLength = 90}}, .cutTo = 50}.Build(), .stop = {3, "key identifier", 1, 10, 90, 0, true, 40},
       .problem = "key identifier of record 1: 90 bytes, 40 left"},
      {.name = "wrapped key length 4097", .file = Container{.records = Records{{.keyId = kKeyId10, .wrappedKeyLength = 4097}}, .cutTo = 16}.Build(), .stop = {7, "wrapped key length", 1, 14, 4097, 4096},
       .problem = "wrapped key length of record 1 4097, at most 4096"},
      {.name = "wrapped key cut", .file = Container{.cutTo = 100}.Build(), .stop = {3, "wrapped key", 1, 16, 256, 0, true, 84},
       .problem = "wrapped key of record 1: 256 bytes, 84 left"},
      {.name = "second record missing", .file = Container{.count = 2, .cutTo = 272}.Build(), .stop = {3, "tag", 2, 272, 0, 0, true},
       .problem = "tag of record 2 cut short by the end of the file"},
      {.name = "IV cut", .file = Container{.cutTo = 280}.Build(), .stop = {1, "IV", 0, 272, 16, 0, true, 8},
       .problem = "IV: 16 bytes, 8 left"},
      {.name = "complete", .file = Container{}.Build(), .stop = {0, "", 0, 0, 0, 0}, .problem = ""},
      // clang-format on
  };
  for (const auto& row : rows) {
    const Diagnosis d = Diagnose(row.file);
    const Stop& s = row.stop;
    EXPECT_EQ(qve_diagnosis_header_status(d.get()), s.status) << row.name;
    EXPECT_STREQ(qve_diagnosis_header_field(d.get()), s.field) << row.name;
    EXPECT_EQ(qve_diagnosis_header_record(d.get()), s.record) << row.name;
    EXPECT_EQ(qve_diagnosis_header_offset(d.get()), s.offset) << row.name;
    EXPECT_EQ(qve_diagnosis_header_value(d.get()), s.value) << row.name;
    EXPECT_EQ(qve_diagnosis_header_limit(d.get()), s.limit) << row.name;
    EXPECT_EQ(qve_diagnosis_header_cut(d.get()), s.cut ? 1 : 0) << row.name;
    EXPECT_EQ(qve_diagnosis_header_left(d.get()), s.left) << row.name;
    EXPECT_STREQ(qve_diagnosis_header_problem(d.get()), row.problem) << row.name;
    EXPECT_EQ(qve_diagnosis_size(d.get()), row.file.size()) << row.name;
  }
  const Diagnosis whole = Diagnose(Container{.body = Pattern(100)}.Build());
  EXPECT_EQ(qve_diagnosis_version(whole.get()), 1);
  EXPECT_EQ(qve_diagnosis_recipient_count(whole.get()), 1);
  ASSERT_EQ(qve_diagnosis_record_count(whole.get()), 1u);
  EXPECT_EQ(qve_diagnosis_record_offset(whole.get(), 0), 7u);
  EXPECT_EQ(qve_diagnosis_record_tag(whole.get(), 0), 'P');
  std::size_t length = 0;
  const std::uint8_t* id = qve_diagnosis_record_key_id(whole.get(), 0, &length);
  EXPECT_EQ(Bytes(id, id + length), kKeyId10);
  EXPECT_EQ(qve_diagnosis_record_wrapped_key_length(whole.get(), 0), 256u);
  const std::uint8_t* iv = qve_diagnosis_iv(whole.get(), &length);
  EXPECT_EQ(Bytes(iv, iv + length), Container{}.iv);
  EXPECT_EQ(qve_diagnosis_payload_length(whole.get()), 384u);  // 100 + 276, padded to whole blocks
  EXPECT_EQ(qve_diagnosis_block_size(whole.get()), 16u);
  EXPECT_EQ(qve_diagnosis_whole_blocks(whole.get()), 1);
  EXPECT_EQ(qve_diagnosis_last_block_padding(whole.get()), 1);
  EXPECT_EQ(qve_diagnosis_whole_blocks(Diagnose(Head(Container{}.Build(), 300)).get()), 0);
}

// The record the built-in key uses, how far its key gets, decrypted in
// memory what the seal says as the decryption would judge it, and why a
// decryption gives the result it gives.
TEST(Interface, DiagnosisFollowsTheKeyAndTheSeal) {
  const Bytes key = Container{}.sessionKey;
  const Record good = WrappedFor(kKeyId10, KeyBlock(key));
  constexpr int K = QVE_DECRYPT_SESSION_KEY_UNAVAILABLE, H = QVE_DECRYPT_HEADER_INVALID;
  constexpr int S = QVE_DECRYPT_SUCCESS, N = QVE_DECRYPT_NO_SEAL, B = QVE_DECRYPT_BAD_SIGNATURE;
  const struct {
    const char* name;
    Container container;
    std::int64_t record;
    int unwraps, crcMatches, ready, found;
    int result;         // what the decryption gives; the seal is not reached for H and K
    const char* cause;  // of it
  } rows[] = {
      // clang-format off
      {.name = "second record", .container = {.records = {{WrappedFor(kKeyId11, KeyBlock(key)), good}}},
       .record = 1, .unwraps = 1, .crcMatches = 1, .ready = 1, .found = 1, .result = S, .cause = ""},
      {.name = "no record for key 10", .container = {.records = {{WrappedFor(kKeyId11, KeyBlock(key))}}},
       .record = -1, .unwraps = 0, .crcMatches = 0, .ready = 0, .found = 0, .result = K,
       .cause = "no recipient record names the built-in key 0a000000"},
      {.name = "does not unwrap", .container = {.records = {{{.keyId = kKeyId10, .wrappedKey = Pattern(256)}}}},
       .record = 0, .unwraps = 0, .crcMatches = 0, .ready = 0, .found = 0, .result = K,
       .cause = "record 1, the built-in key's, does not unwrap with it"},
      {.name = "CRC mismatch", .container = {.records = {{WrappedFor(kKeyId10, Concat(key, Bytes{1, 2, 3, 4}))}}},
       .record = 0, .unwraps = 1, .crcMatches = 0, .ready = 0, .found = 0, .result = K,
       .cause = "record 1, the built-in key's, holds a key block whose CRC does not match"},
      {.name = "no seal", .container = {.body = Pattern(100), .seal = std::nullopt},
       .record = 0, .unwraps = 1, .crcMatches = 1, .ready = 1, .found = 0, .result = N,
       .cause = "the plaintext ends in no seal trailer"},
      {.name = "bad signature", .container = {.body = Pattern(100), .seal = Seal{.signature = Pattern(256)}},
       .record = 0, .unwraps = 1, .crcMatches = 1, .ready = 1, .found = 1, .result = B,
       .cause = "the seal's signature does not match the plaintext"},
      {.name = "seal names key 10", .container = {.seal = Seal{.keyId = kKeyId10}},
       .record = 0, .unwraps = 1, .crcMatches = 1, .ready = 1, .found = 1, .result = B,
       .cause = "the seal names key 0a000000, not the built-in verification key 0b000000"},
      {.name = "longer than the window", .container = {.body = Pattern(20000)},
       .record = 0, .unwraps = 1, .crcMatches = 1, .ready = 1, .found = 1, .result = S, .cause = ""},
      {.name = "cut at a block", .container = {.body = Pattern(20000), .cutTo = 288 + 4096},
       .record = 0, .unwraps = 1, .crcMatches = 1, .ready = 1, .found = 0, .result = N,
       .cause = "the container looks cut short or damaged: the padding of its last cipher block is invalid"},
      {.name = "cut after the IV", .container = {.cutTo = 288},
       .record = 0, .unwraps = 1, .crcMatches = 1, .ready = 1, .found = 0, .result = N,
       .cause = "the container looks cut short: it ends right after its IV, with no payload"},
      {.name = "version 2", .container = {.version = 2},
       .record = -1, .unwraps = 0, .crcMatches = 0, .ready = 0, .found = 0, .result = H,
       .cause = "version 2 is not supported (this tool reads version 1)"},
      // clang-format on
  };
  for (const auto& row : rows) {
    const Diagnosis d = Diagnose(row.container.Build(), true);
    EXPECT_EQ(qve_diagnosis_key_record(d.get()), row.record) << row.name;
    EXPECT_EQ(qve_diagnosis_key_unwraps(d.get()), row.unwraps) << row.name;
    EXPECT_EQ(qve_diagnosis_key_crc_matches(d.get()), row.crcMatches) << row.name;
    EXPECT_EQ(qve_diagnosis_key_ready(d.get()), row.ready) << row.name;
    EXPECT_EQ(qve_diagnosis_key_material_length(d.get()), row.unwraps ? 32u : 0u) << row.name;
    EXPECT_EQ(qve_diagnosis_seal_result(d.get()), row.result) << row.name;
    EXPECT_EQ(qve_diagnosis_seal_reached(d.get()), row.ready) << row.name;
    EXPECT_EQ(qve_diagnosis_seal_found(d.get()), row.found) << row.name;
    EXPECT_STREQ(qve_diagnosis_cause(d.get(), row.result), row.cause) << row.name;
    if (!row.ready) continue;
    EXPECT_EQ(qve_diagnosis_seal_plaintext_length(d.get()),
              row.container.cutTo ? qve_diagnosis_seal_plaintext_length(d.get())
                                  : row.container.Plaintext().size())
        << row.name;
    if (!row.found) {
      EXPECT_STRNE(qve_diagnosis_seal_problem(d.get()), "") << row.name;
      continue;
    }
    std::size_t length = 0;
    const std::uint8_t* id = qve_diagnosis_seal_key_id(d.get(), &length);
    EXPECT_EQ(Bytes(id, id + length), row.container.seal->keyId) << row.name;
    EXPECT_EQ(qve_diagnosis_seal_names_built_in_key(d.get()), row.container.seal->keyId == kKeyId11)
        << row.name;
    EXPECT_EQ(qve_diagnosis_seal_signature_length(d.get()), 256u) << row.name;
    EXPECT_EQ(qve_diagnosis_seal_length(d.get()), 276u) << row.name;
  }
}

}  // namespace
}  // namespace qve
