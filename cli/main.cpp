// SPDX-License-Identifier: Apache-2.0
#include "cli/frame.h"

int main(int argc, char** argv) {
  // No argument of this program can hold a quote: on Windows "my logs\" is
  // the folder, as tab completion writes it.
  return qve::cli::RunCommandLine(
      "qvehelper", "Decrypts sealed QVES containers and verifies signed system logs.", argc, argv,
      qve::platform::BackslashQuote::EndsPath);
}
