// SPDX-License-Identifier: Apache-2.0
#include "platform/gzip_input.h"

#include <algorithm>
#include <climits>
#include <new>

namespace qve::platform {

namespace {

// gzip's own format only, not zlib's or raw deflate, with the largest window.
constexpr int kGzipWindowBits = 15 + 16;

}  // namespace

GzipInput::State::State() {
  if (inflateInit2(&stream, kGzipWindowBits) != Z_OK) throw std::bad_alloc();
}

GzipInput::State::State(const State& from, std::uint64_t input)
    : content(from.content), input(input), memberEnded(from.memberEnded) {
  // inflateCopy only reads its source, whatever its signature says.
  if (inflateCopy(&stream, const_cast<z_stream*>(&from.stream)) != Z_OK) throw std::bad_alloc();
  // The copy reads its own compressed bytes from `input` on.
  stream.next_in = nullptr;
  stream.avail_in = 0;
}

GzipInput::State::~State() { inflateEnd(&stream); }

GzipInput::GzipInput(int fd, RawRead read, std::size_t chunk)
    : fd_(fd),
      read_(read),
      saves_(true),
      saveEvery_(16 * std::max<std::uint64_t>(chunk, 1)),
      input_(std::clamp<std::size_t>(chunk, 1, UINT_MAX)) {
  StartFrom(nullptr);
}

GzipInput::GzipInput(const GzipInput& from, std::uint64_t offset)
    : fd_(from.fd_),
      read_(from.read_),
      saves_(false),
      saveEvery_(from.saveEvery_),
      input_(from.input_.size()) {
  StartFrom(from.SavedFor(offset));
}

GzipInput::~GzipInput() = default;

void GzipInput::StartFrom(const State* state) {
  live_ =
      state != nullptr ? std::make_unique<State>(*state, state->input) : std::make_unique<State>();
  inputEnd_ = live_->input;
  ended_ = false;
}

const GzipInput::State* GzipInput::SavedFor(std::uint64_t offset) const {
  for (const State* state : {latest_.get(), kept_.get()}) {
    if (state != nullptr && state->content <= offset) return state;
  }
  return nullptr;
}

void GzipInput::Save() {
  auto state = std::make_unique<State>(*live_, inputEnd_ - live_->stream.avail_in);
  if (latest_ != nullptr && latest_->content <= keepFrom_) kept_ = std::move(latest_);
  latest_ = std::move(state);
}

void GzipInput::KeepFrom(std::uint64_t offset) {
  keepFrom_ = offset;
  if (latest_ != nullptr && latest_->content <= offset) kept_ = std::move(latest_);
}

long GzipInput::ReadAt(std::uint64_t offset, char* into, std::size_t size) {
  if (fault_ != ReadFault::None) return -1;
  if (offset < live_->content) StartFrom(SavedFor(offset));
  // Content before `offset` is decompressed into `into` and dropped.
  while (live_->content < offset) {
    const std::size_t skipped =
        Inflate(into, std::min<std::uint64_t>(size, offset - live_->content));
    if (skipped == 0) return fault_ != ReadFault::None ? -1 : 0;
  }
  const State* last = latest_ != nullptr ? latest_.get() : kept_.get();
  if (saves_ && live_->content >= (last != nullptr ? last->content : 0) + saveEvery_) Save();
  const std::size_t given = Inflate(into, std::min<std::size_t>(size, LONG_MAX));
  if (given > 0) return static_cast<long>(given);
  return fault_ != ReadFault::None ? -1 : 0;
}

std::optional<std::uint64_t> GzipInput::Length() {
  std::vector<char> scratch(std::max<std::size_t>(input_.size(), 1 << 16));
  while (Inflate(scratch.data(), scratch.size()) > 0) {
  }
  if (fault_ != ReadFault::None) return std::nullopt;
  return live_->content;
}

std::size_t GzipInput::Inflate(char* into, std::size_t size) {
  z_stream& stream = live_->stream;
  stream.next_out = reinterpret_cast<Bytef*>(into);
  stream.avail_out = static_cast<uInt>(std::min<std::size_t>(size, UINT_MAX));
  const uInt wanted = stream.avail_out;
  while (stream.avail_out > 0 && !ended_ && fault_ == ReadFault::None) {
    if (stream.avail_in == 0) {
      const long got =
          read_(fd_, inputEnd_, reinterpret_cast<char*>(input_.data()), input_.size(), &error_);
      if (got < 0) {
        fault_ = ReadFault::ReadFailed;
      } else if (got == 0) {
        // The end is clean only right after a member's end.
        if (live_->memberEnded) {
          ended_ = true;
        } else {
          fault_ = ReadFault::GzipCutShort;
        }
      } else {
        stream.next_in = input_.data();
        stream.avail_in = static_cast<uInt>(got);
        inputEnd_ += static_cast<std::uint64_t>(got);
      }
      continue;
    }
    // More bytes after a member must be another member, as gzip -d reads them.
    if (live_->memberEnded) {
      if (inflateReset(&stream) != Z_OK) throw std::bad_alloc();
      live_->memberEnded = false;
    }
    switch (inflate(&stream, Z_NO_FLUSH)) {
      case Z_STREAM_END:
        live_->memberEnded = true;
        break;
      case Z_OK:
      case Z_BUF_ERROR:  // wants more input
        break;
      case Z_MEM_ERROR:
        throw std::bad_alloc();
      default:
        fault_ = ReadFault::GzipDamaged;
        break;
    }
  }
  const std::size_t given = wanted - stream.avail_out;
  live_->content += given;
  return given;
}

}  // namespace qve::platform
