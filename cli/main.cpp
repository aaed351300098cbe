// SPDX-License-Identifier: Apache-2.0
#include "cli/command_line.h"

int main(int argc, char** argv) {
  return qve::cli::RunCommandLine(
      "qvehelper", "Decrypts sealed QVES containers and verifies signed system logs.", argc, argv);
}
