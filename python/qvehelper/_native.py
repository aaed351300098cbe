# SPDX-License-Identifier: Apache-2.0
"""The library's C interface through ctypes: where the library is found, and
the prototype of each function the package calls."""
import ctypes
import os
import sys

# What a code is the result of, as qve_result_name takes it.
RESULT_OF_RUN = 1
RESULT_OF_DECRYPTION = 2

KEY_DECRYPTION = 10
KEY_VERIFICATION = 11

# Windows paths are UTF-16 and go through the _w functions; elsewhere a
# path is the name's bytes, whatever they are.
WIDE = sys.platform == "win32"
PATH = ctypes.c_wchar_p if WIDE else ctypes.c_char_p


def _library_path():
    """QVEHELPER_LIBRARY names another library file; else the system's."""
    named = os.environ.get("QVEHELPER_LIBRARY")
    if named:
        return named
    return "QVEHelper.dll" if sys.platform == "win32" else "libqvehelper.so.1"


def _load():
    library = ctypes.CDLL(_library_path())
    prototypes = {
        "qve_result_name": (ctypes.c_char_p, [ctypes.c_int, ctypes.c_int]),
        "qve_version": (ctypes.c_char_p, []),
        "qve_crypto_library_version": (ctypes.c_char_p, []),
        "qve_key_identity": (
            ctypes.c_int,
            [ctypes.c_int, ctypes.POINTER(ctypes.c_uint8), ctypes.POINTER(ctypes.c_uint8)],
        ),
        "qve_development_keys": (ctypes.c_int, []),
    }
    for name, (result, arguments) in prototypes.items():
        _typed(getattr(library, name), result, arguments)
    return library


def _typed(function, result, arguments):
    function.restype = result
    function.argtypes = arguments
    return function


library = _load()


def prototype(name, result, arguments):
    """The library's function `name`, typed."""
    return _typed(getattr(library, name), result, arguments)


def path_argument(path):
    """A str, bytes or os.PathLike path as the library takes it."""
    native = os.fsdecode(path) if WIDE else os.fsencode(path)
    if ("\0" if WIDE else b"\0") in native:
        raise ValueError(f"a path with a NUL character: {path!r}")
    return native


def text(raw):
    """UTF-8 from the library, as Python text; bytes that are not UTF-8 (a
    Linux file name) kept as surrogates, as os.fsdecode keeps them."""
    return raw.decode("utf-8", "surrogateescape") if raw is not None else None
