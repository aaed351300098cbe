// SPDX-License-Identifier: Apache-2.0
/* QVEHelper: decryption of sealed "QVES" containers and verification of
 * signed system log files.
 *
 * C++ callers use the QVE_Helper namespace; C callers use the functions in
 * the extern "C" block, which take the report as an opaque handle.
 *
 * Exceptions: the functions before the extension interface (below) catch
 * none. What can go wrong in normal use is a result or a verdict; the
 * exceptions named next to a function leave it, the C functions included,
 * and a C host that does not catch them across its own boundary is ended by
 * them (std::terminate). Every such function may raise std::bad_alloc when
 * memory runs out; nothing else leaves a function whose comment names no
 * exception. The extension interface's qve_ functions raise nothing.
 */
#ifndef QVEHELPER_H_
#define QVEHELPER_H_
#include "qvehelper/contract.h"

#include "qvehelper/common.h"
#include "qvehelper/decrypt.h"
#include "qvehelper/diagnosis.h"
#include "qvehelper/run.h"

#endif /* QVEHELPER_H_ */
