// SPDX-License-Identifier: Apache-2.0
#include "command/command_line.h"

int main(int argc, char** argv) {
  return qve::command::RunCommandLine(
      "qvehelper-dev",
      "Writer side for tests, demos and QA: makes sealed containers and signed logs.", argc, argv);
}
