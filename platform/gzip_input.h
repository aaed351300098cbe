// SPDX-License-Identifier: Apache-2.0
// The content of a gzip file, read through zlib as gzip -d reads it: every
// member in turn, each checked by its CRC-32 and length, and nothing after
// the last member. Memory stays flat whatever the size: going back means
// decompressing again, from a copy of the inflate state saved on the way at
// most a few buffers before the place asked for, or from the file's start.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/text_file.h"

namespace qve::platform {

class GzipInput {
 public:
  // Reads `size` bytes of the file at `offset` as platform::ReadAt does.
  using RawRead = long (*)(int fd, std::uint64_t offset, char* into, std::size_t size,
                           std::error_code* error);

  // Reads compressed bytes in pieces of `chunk` and saves its state every
  // 16 pieces' worth of content.
  GzipInput(int fd, RawRead read, std::size_t chunk);
  // Another reader of `from`'s file, for content from `offset` on: it
  // starts from the latest state `from` saved there or before.
  GzipInput(const GzipInput& from, std::uint64_t offset);
  ~GzipInput();
  GzipInput& operator=(const GzipInput&) = delete;

  // Content bytes from `offset` on, as a read of a plain file gives them:
  // fewer than asked only at the end, 0 at the end, -1 on a fault.
  long ReadAt(std::uint64_t offset, char* into, std::size_t size);
  // Reads on to the end: the length of the whole content, or nothing on a fault.
  std::optional<std::uint64_t> Length();
  // No reader made from this one will start before `offset`: states saved
  // before the latest one at or below it are not needed any more.
  void KeepFrom(std::uint64_t offset);

  ReadFault fault() const { return fault_; }
  // With ReadFault::ReadFailed, why the system could not read the file.
  std::error_code error() const { return error_; }

 private:
  // One inflate state and where it stands. It never moves: zlib's state
  // points back at its stream.
  struct State {
    State();                                        // the file's start
    State(const State& from, std::uint64_t input);  // a copy standing at `input`
    ~State();
    State& operator=(const State&) = delete;

    z_stream stream{};
    std::uint64_t content = 0;  // content bytes given before it
    std::uint64_t input = 0;    // the file offset of its next compressed byte
    bool memberEnded = false;   // a member ended and no other began yet
  };

  // Continues from `state`, or from the file's start.
  void StartFrom(const State* state);
  // The best saved state for content from `offset` on.
  const State* SavedFor(std::uint64_t offset) const;
  void Save();
  // Decompresses into `into` until it is full, the content ends or a fault.
  std::size_t Inflate(char* into, std::size_t size);

  int fd_;
  RawRead read_;
  bool saves_;
  std::uint64_t saveEvery_;
  std::vector<Bytef> input_;  // compressed bytes read, not all consumed yet
  std::uint64_t inputEnd_ = 0;
  std::unique_ptr<State> live_;
  // The latest saved state at or before the offset kept, and one saved since.
  std::unique_ptr<State> kept_, latest_;
  std::uint64_t keepFrom_ = 0;
  bool ended_ = false;
  ReadFault fault_ = ReadFault::None;
  std::error_code error_;
};

}  // namespace qve::platform
