#pragma once

#include "QVEHelper.h"

namespace qve::cli {

// The enumerator's own name, e.g. "SessionKeyUnavailable".
const char* DecryptResultName(QVE_Helper::DecryptResult result);

}  // namespace qve::cli
