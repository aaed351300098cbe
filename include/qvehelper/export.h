// SPDX-License-Identifier: Apache-2.0
/* The export macro and the standard types every part of the interface
 * uses. */
#ifndef QVEHELPER_EXPORT_H_
#define QVEHELPER_EXPORT_H_

#ifdef __cplusplus
#include <cstddef>
#include <cstdint>
#include <string>
#else
/* Freestanding headers alone (wchar_t comes from stddef.h), so that a host
 * built without a C library can include this file. */
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#endif

#if defined(_WIN32) && defined(QVEHELPER_BUILDING)
#define QVE_API __declspec(dllexport)
#elif defined(_WIN32) && defined(QVEHELPER_STATIC) /* linked with the static library */
#define QVE_API
#elif defined(_WIN32)
#define QVE_API __declspec(dllimport)
#else
#define QVE_API __attribute__((visibility("default")))
#endif

#endif /* QVEHELPER_EXPORT_H_ */
