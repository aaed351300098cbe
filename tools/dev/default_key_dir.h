#pragma once

#include <string>

namespace qve::dev {

// The development key folder: the installed copy beside an installed tool
// (PREFIX/share/qvehelper/keys/dev), else the source tree's keys/dev.
std::string DefaultKeyDir();

}  // namespace qve::dev
