// SPDX-License-Identifier: Apache-2.0
// A hostile container through the C interface, as a host calls it: decrypted
// into place, checked with and without a scratch file, decrypted by the
// seed's function and diagnosed, with progress that may stop the work, and
// found in its folder. The first byte says how and which paths (its bits,
// below); the second's low half at which progress call to stop (0: never),
// its high half whether threads are lent and what the output is where the
// paths are faultless; the rest is the file. Every way agrees on the result,
// a failed decryption leaves nothing unless asked to, an output the library
// refuses or cannot replace is left as it was, progress never runs past its
// total, and the container is never touched.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "QVEHelper.h"
#include "fuzz/scratch_files.h"

namespace {

enum Bits : std::uint8_t {
  kKeepUnverified = 1,
  kWriteDirectly = 2,
  kScratchFile = 4,
  kWide = 8,
  kDiagnoseDecrypts = 16,
};

// The top three bits: what the paths name, as a host may get them wrong.
enum Paths : std::uint8_t {
  kFaultless,
  kOutputFolderMissing,
  kOutputIsInput,
  kOutputIsDevice,  // /dev/full with kKeepUnverified, else /dev/null
  kInputMissing,
  kInputFolder,
  kInputFifo,
  kScratchFolderMissing,
};

// The second byte's high half, where the paths are faultless: an output of
// a kind the library refuses, one it replaces, one that turns into a folder
// while the decryption runs, so that putting it in place fails, one in a
// folder where nothing can be made, and a file-size limit that makes the
// output and the scratch file take no more, as a full disk does.
enum Output : std::uint8_t {
  kAsThePathsSay,
  kOutputFolder,
  kOutputFifo,
  kOutputExists,
  kOutputTakenMeanwhile,
  kOutputUnmakeable,
  kOutputLimited,
};

// While it lives, a write past a few KiB fails with EFBIG.
class SizeLimit {
 public:
  explicit SizeLimit(bool on) : on_(on) {
    if (!on_) return;
    ::getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limit = previous_;
    limit.rlim_cur = 4096;
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) std::abort();
  }
  ~SizeLimit() {
    if (on_) ::setrlimit(RLIMIT_FSIZE, &previous_);
  }
  SizeLimit(const SizeLimit&) = delete;
  SizeLimit& operator=(const SizeLimit&) = delete;

 private:
  bool on_;
  rlimit previous_{};
};

struct Progress {
  unsigned calls = 0;
  unsigned stopAt = 0;  // 0: never
  bool stopped = false;
  const char* takeOnFirstCall = nullptr;  // a folder made there
};

int Told(uint64_t done, uint64_t total, int step, void* context) {
  auto& progress = *static_cast<Progress*>(context);
  if (step != QVE_STEP_DECRYPTING && step != QVE_STEP_CHECKING_SEAL) std::abort();
  if (total != 0 && done > total) std::abort();
  if (progress.stopped) std::abort();  // asked to stop, the work stops
  if (progress.calls == 0 && progress.takeOnFirstCall != nullptr)
    ::mkdir(progress.takeOnFirstCall, 0700);
  if (++progress.calls == progress.stopAt) progress.stopped = true;
  return progress.stopped ? 1 : 0;
}

bool Exists(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0;
}

int Found(const char* path, const wchar_t* pathW, const char* warning, void* context) {
  if (path == nullptr || (pathW == nullptr) != (warning != nullptr)) std::abort();
  *static_cast<int*>(context) += warning == nullptr;
  return 0;
}

// One thread lent for the whole process, as a host lends it; the calls
// given the loan take their work themselves when it is busy.
qve_loan* Lent() {
  static qve_loan* const loan = [] {
    qve_loan* made = nullptr;
    if (qve_loan_create(&made) != 0) std::abort();
    std::thread([made] { qve_loan_work(made); }).detach();
    return made;
  }();
  return loan;
}

std::wstring Wide(const std::string& path) { return {path.begin(), path.end()}; }

std::string Bytes(const std::string& path) {
  std::string bytes;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    char chunk[256];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
      bytes.append(chunk, got);
    std::fclose(file);
  }
  return bytes;
}

void Text(const char* text) {
  if (text == nullptr) std::abort();
  (void)std::strlen(text);
}

// Every accessor, on a diagnosis or on none.
void ReadAll(const qve_diagnosis* d) {
  (void)qve_diagnosis_size(d);
  (void)qve_diagnosis_header_status(d);
  Text(qve_diagnosis_header_status_name(d));
  Text(qve_diagnosis_header_field(d));
  (void)qve_diagnosis_header_record(d);
  (void)qve_diagnosis_header_offset(d);
  (void)qve_diagnosis_header_value(d);
  (void)qve_diagnosis_header_limit(d);
  (void)qve_diagnosis_header_cut(d);
  (void)qve_diagnosis_header_left(d);
  Text(qve_diagnosis_header_problem(d));
  (void)qve_diagnosis_version(d);
  (void)qve_diagnosis_recipient_count(d);
  const size_t records = qve_diagnosis_record_count(d);
  for (size_t i = 0; i <= records; ++i) {
    (void)qve_diagnosis_record_offset(d, i);
    (void)qve_diagnosis_record_tag(d, i);
    size_t length = 1;
    const uint8_t* id = qve_diagnosis_record_key_id(d, i, &length);
    if (id == nullptr && length != 0) std::abort();
    (void)qve_diagnosis_record_wrapped_key_length(d, i);
    if (qve_diagnosis_record_used(d, i) && qve_diagnosis_key_record(d) != int64_t(i)) std::abort();
  }
  size_t length = 1;
  const uint8_t* iv = qve_diagnosis_iv(d, &length);
  if (iv == nullptr && length != 0) std::abort();
  (void)qve_diagnosis_payload_length(d);
  (void)qve_diagnosis_block_size(d);
  (void)qve_diagnosis_whole_blocks(d);
  (void)qve_diagnosis_cut_short(d);
  (void)qve_diagnosis_key_unwraps(d);
  (void)qve_diagnosis_key_crc_matches(d);
  (void)qve_diagnosis_key_material_length(d);
  (void)qve_diagnosis_key_ready(d);
  (void)qve_diagnosis_last_block_padding(d);
  (void)qve_diagnosis_seal_reached(d);
  (void)qve_diagnosis_seal_decrypts(d);
  (void)qve_diagnosis_seal_plaintext_length(d);
  (void)qve_diagnosis_seal_found(d);
  (void)qve_diagnosis_seal_length(d);
  length = 1;
  const uint8_t* sealKeyId = qve_diagnosis_seal_key_id(d, &length);
  if (sealKeyId == nullptr && length != 0) std::abort();
  (void)qve_diagnosis_seal_names_built_in_key(d);
  (void)qve_diagnosis_seal_signature_length(d);
  (void)qve_diagnosis_seal_result(d);
  Text(qve_diagnosis_seal_stop(d));
  (void)qve_diagnosis_seal_stop_offset(d);
  Text(qve_diagnosis_seal_problem(d));
  for (int result = -1; result <= QVE_DECRYPT_BAD_SIGNATURE + 1; ++result)
    Text(qve_diagnosis_cause(d, result));
}

void LastProblem() {
  if (qve_last_problem() < QVE_PROBLEM_NONE || qve_last_problem() > QVE_PROBLEM_CANCELLED)
    std::abort();
  Text(qve_last_problem_path());
  Text(qve_last_problem_reason());
  Text(qve_last_message());
}

// The slips a host may make are QVE_ERROR_MISUSE, never a crash.
void Slips(const std::string& input) {
  qve_decrypt_options decrypt{};
  decrypt.size = sizeof decrypt;
  qve_check_options check{};
  check.size = sizeof check;
  qve_diagnose_options diagnose{};
  diagnose.size = sizeof diagnose;
  qve_diagnosis* d = nullptr;
  qve_decrypt_options wrongSize = decrypt;
  wrongSize.size = 1;
  if (qve_decrypt(nullptr, "out", &decrypt) != QVE_ERROR_MISUSE ||
      qve_decrypt(input.c_str(), "out", nullptr) != QVE_ERROR_MISUSE ||
      qve_decrypt(input.c_str(), "out", &wrongSize) != QVE_ERROR_MISUSE ||
      qve_check(nullptr, &check) != QVE_ERROR_MISUSE ||
      qve_diagnose_container(input.c_str(), &diagnose, nullptr) != QVE_ERROR_MISUSE ||
      qve_diagnose_container(nullptr, &diagnose, &d) != QVE_ERROR_MISUSE)
    std::abort();
  LastProblem();
  check.scratch_folder = "/tmp";
  check.scratch_folder_w = L"/tmp";
  if (qve_check(input.c_str(), &check) != QVE_ERROR_MISUSE) std::abort();
  check.scratch_folder = nullptr;
  check.scratch_folder_w = nullptr;
  if (DecryptQveFile(nullptr, L"out") != QVE_DECRYPT_INPUT_OPEN_FAILED ||
      DecryptQveFile(Wide(input).c_str(), nullptr) != QVE_DECRYPT_OUTPUT_OPEN_FAILED)
    std::abort();
  ReadAll(nullptr);
  // A wide path with no form on this system (past U+10FFFF) is refused,
  // whichever way.
  const std::wstring formless = L"/tmp/\x110000.qves";
  if (qve_decrypt_w(formless.c_str(), L"out", &decrypt) == QVE_DECRYPT_SUCCESS ||
      qve_decrypt_w(Wide(input).c_str(), formless.c_str(), &decrypt) == QVE_DECRYPT_SUCCESS ||
      qve_check_w(formless.c_str(), &check) == QVE_DECRYPT_SUCCESS ||
      qve_diagnose_container_w(formless.c_str(), &diagnose, &d) == 0)
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  static const std::string folder = [] {
    std::string name = "/tmp/qve-fuzz-c-decrypt-" + std::to_string(::getpid());
    ::mkdir(name.c_str(), 0700);
    ::mkdir((name + "/folder").c_str(), 0700);
    ::mkfifo((name + "/fifo").c_str(), 0600);
    // As a program would: the temporary files go with a signal. One that
    // sets a file-size limit takes EFBIG rather than SIGXFSZ.
    if (qve_remove_temporaries_on_signals() != 0) std::abort();
    std::signal(SIGXFSZ, SIG_IGN);
    return name;
  }();
  static const std::string container = folder + "/in.qves";
  static const std::string seedOutput = folder + "/seed.txt";
  const std::uint8_t bits = data[0];
  const auto paths = static_cast<Paths>(bits >> 5);
  const unsigned stopAt = data[1] & 15;
  const bool lend = data[1] & 16;
  const auto outputKind = paths == kFaultless ? static_cast<Output>(data[1] >> 5) : kAsThePathsSay;
  const std::uint8_t* file = data + 2;
  const std::size_t fileSize = size - 2;
  {
    std::FILE* out = std::fopen(container.c_str(), "wb");
    if (out == nullptr) std::abort();
    std::fwrite(file, 1, fileSize, out);
    std::fclose(out);
  }
  const std::string input = paths == kInputMissing  ? folder + "/missing.qves"
                            : paths == kInputFolder ? folder + "/folder"
                            : paths == kInputFifo   ? folder + "/fifo"
                                                    : container;
  const std::string output = paths == kOutputFolderMissing ? folder + "/missing/out.txt"
                             : paths == kOutputIsInput     ? input
                             : paths == kOutputIsDevice
                                 ? (bits & kKeepUnverified ? "/dev/full" : "/dev/null")
                             : outputKind == kOutputFolder     ? folder + "/folder"
                             : outputKind == kOutputFifo       ? folder + "/fifo"
                             : outputKind == kOutputUnmakeable ? "/proc/self/qve-out.txt"
                                                               : folder + "/out.txt";
  const std::string scratch = paths == kScratchFolderMissing ? folder + "/missing" : folder;
  std::remove((folder + "/out.txt").c_str());
  static const std::string kOld = "what was there";
  if (outputKind == kOutputExists)
    qve::fuzz::WriteBytes(output, reinterpret_cast<const std::uint8_t*>(kOld.data()), kOld.size());
  Slips(container);
  const bool magic = fileSize >= 4 && std::memcmp(file, "QVES", 4) == 0;
  if (qve_starts_container(file, fileSize) != int(magic)) std::abort();

  // The seed's function: the result every other way must agree with. It
  // would wait on the FIFO for a writer.
  const int seed = paths == kInputFifo
                       ? QVE_DECRYPT_INPUT_OPEN_FAILED
                       : DecryptQveFile(Wide(input).c_str(), Wide(seedOutput).c_str());
  if (seed < 0 || seed > QVE_DECRYPT_BAD_SIGNATURE) std::abort();
  // Another name of the container is not written: neither file is touched.
  if (paths == kOutputIsInput &&
      DecryptQveFile(Wide(input).c_str(), Wide(folder + "/./in.qves").c_str()) !=
          QVE_DECRYPT_OUTPUT_OPEN_FAILED)
    std::abort();
  const bool faultless =
      (paths == kFaultless || paths == kScratchFolderMissing) &&
      (outputKind == kAsThePathsSay || outputKind == kOutputExists || outputKind > kOutputLimited);
  const bool limited = outputKind == kOutputLimited;

  Progress decryptProgress{.stopAt = stopAt};
  if (outputKind == kOutputTakenMeanwhile) decryptProgress.takeOnFirstCall = output.c_str();
  qve_decrypt_options decrypt{};
  decrypt.size = sizeof decrypt;
  decrypt.progress = Told;
  decrypt.context = &decryptProgress;
  decrypt.keep_unverified = (bits & kKeepUnverified) != 0;
  decrypt.write_directly = (bits & kWriteDirectly) != 0;
  decrypt.loan = lend && !decrypt.write_directly ? Lent() : nullptr;
  const int decrypted = [&] {
    const SizeLimit limit(limited);
    return bits & kWide ? qve_decrypt_w(Wide(input).c_str(), Wide(output).c_str(), &decrypt)
                        : qve_decrypt(input.c_str(), output.c_str(), &decrypt);
  }();
  LastProblem();
  if (decryptProgress.stopped != (decrypted == QVE_ERROR_CANCELLED)) std::abort();
  if (faultless && !decryptProgress.stopped) {
    if (decrypted != seed) std::abort();
    if (decrypted == QVE_DECRYPT_SUCCESS && qve_last_problem() != QVE_PROBLEM_NONE) std::abort();
    // Unverified plaintext is left only when asked for, or written directly.
    const bool kept =
        decrypted == QVE_DECRYPT_SUCCESS || decrypt.keep_unverified || decrypt.write_directly;
    if (outputKind == kOutputExists) {
      if (!kept && Bytes(output) != kOld) std::abort();
    } else if (Exists(output) != kept) {
      std::abort();
    }
  } else if (faultless && !decrypt.write_directly &&
             Exists(output) != (outputKind == kOutputExists)) {
    std::abort();
  } else if (!faultless && decrypted == QVE_DECRYPT_SUCCESS && !limited &&
             !(outputKind == kOutputTakenMeanwhile && decrypt.write_directly)) {
    std::abort();
  }
  // What is no regular file stays what it was.
  if (outputKind == kOutputFolder || outputKind == kOutputFifo) {
    struct stat status;
    if (::stat(output.c_str(), &status) != 0 || S_ISREG(status.st_mode) ||
        decrypted == QVE_DECRYPT_SUCCESS)
      std::abort();
  }
  if (outputKind == kOutputTakenMeanwhile) {
    ::rmdir(output.c_str());
    std::remove(output.c_str());
  }

  Progress checkProgress{.stopAt = stopAt};
  qve_check_options check{};
  check.size = sizeof check;
  check.progress = Told;
  check.context = &checkProgress;
  check.loan = lend ? Lent() : nullptr;
  const std::wstring wideScratch = Wide(scratch);
  if (bits & kScratchFile || paths == kScratchFolderMissing) {
    if (bits & kWide) {
      check.scratch_folder_w = wideScratch.c_str();
    } else {
      check.scratch_folder = scratch.c_str();
    }
  }
  const int checked = [&] {
    const SizeLimit limit(limited);
    return bits & kWide ? qve_check_w(Wide(input).c_str(), &check)
                        : qve_check(input.c_str(), &check);
  }();
  LastProblem();
  if (checkProgress.stopped != (checked == QVE_ERROR_CANCELLED)) std::abort();
  if (paths == kScratchFolderMissing) {
    if (checked != QVE_ERROR_SCRATCH) std::abort();
  } else if (!checkProgress.stopped && paths != kInputFifo && !limited && checked != seed) {
    std::abort();
  }

  qve_diagnose_options diagnose{};
  diagnose.size = sizeof diagnose;
  diagnose.decrypt = (bits & kDiagnoseDecrypts) != 0;
  qve_diagnosis* d = nullptr;
  const int diagnosed = bits & kWide ? qve_diagnose_container_w(Wide(input).c_str(), &diagnose, &d)
                                     : qve_diagnose_container(input.c_str(), &diagnose, &d);
  const int expected = paths == kInputMissing                         ? QVE_ERROR_NOT_FOUND
                       : paths == kInputFolder || paths == kInputFifo ? QVE_ERROR_WRONG_KIND
                                                                      : 0;
  if (diagnosed != expected || (d != nullptr) != (expected == 0)) std::abort();
  if (d != nullptr && qve_diagnosis_size(d) != fileSize) std::abort();
  // It says what a decryption gives with an output that takes everything.
  if (d != nullptr && diagnose.decrypt && qve_diagnosis_seal_result(d) != seed) std::abort();
  ReadAll(d);
  qve_diagnosis_free(d);

  // The search of a folder finds the container by its name.
  int found = 0;
  const int told = bits & kWide ? qve_find_containers_w(Wide(folder).c_str(), Found, &found)
                                : qve_find_containers(folder.c_str(), Found, &found);
  if (told != found || told < 1) std::abort();

  // No call touches the container, whatever its output was called.
  struct stat status;
  if (::stat(container.c_str(), &status) != 0 || std::uint64_t(status.st_size) != fileSize)
    std::abort();
  std::remove(container.c_str());
  std::remove((folder + "/out.txt").c_str());
  std::remove(seedOutput.c_str());
  return 0;
}
