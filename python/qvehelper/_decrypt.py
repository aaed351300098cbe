# SPDX-License-Identifier: Apache-2.0
"""Containers decrypted and checked through qve_decrypt and qve_check: the
result by its name, progress that can stop the work, errors as QveError."""
import ctypes

from . import _native
from ._native import PATH, WIDE, path_argument, prototype as _prototype

ERROR_CANCELLED = -20

PROGRESS = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_uint64, ctypes.c_uint64, ctypes.c_int,
                            ctypes.c_void_p)


class DecryptOptions(ctypes.Structure):
    _fields_ = [("size", ctypes.c_size_t), ("progress", PROGRESS), ("context", ctypes.c_void_p),
                ("keep_unverified", ctypes.c_int), ("read_stream", ctypes.c_int),
                ("write_directly", ctypes.c_int)]


class CheckOptions(ctypes.Structure):
    _fields_ = [("size", ctypes.c_size_t), ("progress", PROGRESS), ("context", ctypes.c_void_p),
                ("scratch_folder", ctypes.c_char_p), ("scratch_folder_w", ctypes.c_wchar_p)]


_suffix = "_w" if WIDE else ""
_decrypt = _prototype("qve_decrypt" + _suffix, ctypes.c_int,
                      [PATH, PATH, ctypes.POINTER(DecryptOptions)])
_check = _prototype("qve_check" + _suffix, ctypes.c_int, [PATH, ctypes.POINTER(CheckOptions)])
_last_message = _prototype("qve_last_message", ctypes.c_char_p, [])
_last_problem_path = _prototype("qve_last_problem_path", ctypes.c_char_p, [])
_last_problem_reason = _prototype("qve_last_problem_reason", ctypes.c_char_p, [])


def last_error(code):
    """The QveError for an error code, with why the last call gave it: the
    message as the command prints it, and the `path` and `reason` it names."""
    from . import QveError  # the package defines it after importing this module

    error = QveError(code, _native.text(_last_message()))
    error.path = _native.text(_last_problem_path())
    error.reason = _native.text(_last_problem_reason())
    return error


class _Progress:
    """The caller's progress(done, total) as the library's callback: a false
    return (not None) stops the work, and so does an exception, which the
    call raises again once the library has cleaned up."""

    def __init__(self, progress):
        self.progress = progress
        self.raised = None
        self.callback = PROGRESS(self._call) if progress is not None else PROGRESS()

    def _call(self, done, total, step, context):
        try:
            go_on = self.progress(done, total)
        except BaseException as error:  # raised again once the call is over
            self.raised = error
            return 1
        return 1 if go_on is not None and not go_on else 0

    def result(self, code):
        if self.raised is not None:
            raise self.raised
        if code < 0 and code != ERROR_CANCELLED:
            raise last_error(code)
        return _native.text(_native.library.qve_result_name(_native.RESULT_OF_DECRYPTION, code))


def decrypt(input, output, *, progress=None):
    """Decrypts the container INPUT into OUTPUT and checks its seal; gives the
    result's name: "Success", "NoSeal", "BadSignature", "InputOpenFailed", ...
    The plaintext replaces OUTPUT only on "Success"; on any other result OUTPUT
    is left as it was. progress(done, total) is called with the bytes done of
    each step (decrypting, then reading back for the seal check: each counts
    from 0 to its total, 0 when unknown); returning False stops the work, the
    result "Cancelled". An output that cannot be written, an INPUT that is a
    FIFO or device, OUTPUT being INPUT raise QveError."""
    watch = _Progress(progress)
    options = DecryptOptions(size=ctypes.sizeof(DecryptOptions), progress=watch.callback)
    return watch.result(_decrypt(path_argument(input), path_argument(output),
                                 ctypes.byref(options)))


def check(path, *, progress=None):
    """Decrypts the container PATH and checks its seal, keeping no plaintext
    anywhere (it is checked in memory as it is decrypted); gives the result's
    name, the one decrypt would give. progress as for decrypt (one step)."""
    watch = _Progress(progress)
    options = CheckOptions(size=ctypes.sizeof(CheckOptions), progress=watch.callback)
    return watch.result(_check(path_argument(path), ctypes.byref(options)))
