// SPDX-License-Identifier: Apache-2.0
#include "verify/chain_steps.h"

#include <utility>

#include "platform/paths.h"

namespace qve {

ChainSteps::ChainSteps(std::vector<std::wstring> paths, VerifyObserver& observer,
                       const RunOptions& options)
    : paths_(std::move(paths)),
      observer_(observer),
      options_(options),
      checker_(observer, options) {}

void ChainSteps::OpenCurrentFile() {
  const std::wstring& path = paths_[next_];
  const Compression compression = options_.gunzip ? CompressionByName(path) : Compression::None;
  // A path with no narrow form is refused before a run (RequireNarrowForms).
  reader_ = std::make_unique<TextLineReader>(platform::ToNarrow(path).value_or(""),
                                             options_.limits.readBuffer, compression);
  if (++reading_ == 1) {
    checker_.BeginFile(path, reader_.get());
  } else {
    checker_.BeginFileAgain(reader_.get());
  }
}

bool ChainSteps::Step() {
  if (!reader_) {
    if (next_ == paths_.size()) return false;
    reading_ = 0;
    OpenCurrentFile();
    return true;
  }
  std::string_view piece;
  bool lineEnds = false;
  if (reader_->NextPiece(&piece, &lineEnds)) {
    checker_.OnPiece(piece, lineEnds);
    return true;
  }
  checker_.EndFile();
  // Lines before damaged gzip data prove nothing about the rest: the file
  // is judged as one that cannot be read, never better.
  if (checker_.file().fault != platform::ReadFault::None && options_.readings > 1) {
    checker_.GiveUpFile();
  } else if (checker_.file().changedWhileRead && reading_ < options_.readings) {
    // A file cut or rewritten between the reading of a large block and its
    // second reading is read once more from the start, as a run begun later
    // would read it, so the change is never taken for tampering.
    OpenCurrentFile();
    return true;
  }
  observer_.OnFileEnd(checker_.file());
  reader_.reset();
  ++next_;
  return true;
}

}  // namespace qve
