# SPDX-License-Identifier: Apache-2.0
"""QVEHelper for Python: decrypts QVES containers and verifies signed system
logs through the installed library (libqvehelper.so.1, or QVEHelper.dll on
Windows; QVEHELPER_LIBRARY names another file). Pure Python over the
library's C interface: no compiler is needed."""
import ctypes

from . import _native
from ._decrypt import check, decrypt
from ._inspect import Diagnosis, Header, Record, Seal, SessionKey, inspect
from ._run import LogDiagnosis, Row, events, inspect_log, verify

__version__ = "1.0.0"

__all__ = ["QveError", "__version__", "library_version", "crypto_library_version",
           "development_keys", "key_identity", "result_name", "decrypt", "check", "inspect",
           "Diagnosis", "Header", "Record", "Seal", "SessionKey", "verify", "events",
           "inspect_log", "LogDiagnosis", "Row"]


class QveError(Exception):
    """An error the library gave: `code` is its number (below 0), `name` its
    name ("RecordDamaged", "NotFound", ...)."""

    def __init__(self, code, what=""):
        self.code = code
        self.name = result_name(code)
        super().__init__(f"{self.name} ({code})" + (f": {what}" if what else ""))


def result_name(code, of=_native.RESULT_OF_RUN):
    """The name of a code: a run's status ("ReportOk" ... "Incomplete"), with
    of=RESULT_OF_DECRYPTION a decryption's result ("Success" ...), and every
    error's ("Misuse", ...)."""
    return _native.text(_native.library.qve_result_name(of, code))


def library_version():
    """The loaded library's version, "1.0.0"."""
    return _native.text(_native.library.qve_version())


def crypto_library_version():
    """The OpenSSL the library runs with."""
    return _native.text(_native.library.qve_crypto_library_version())


def development_keys():
    """True when the built-in keys are the public development set (insecure)."""
    return _native.library.qve_development_keys() != 0


def key_identity(key):
    """(key identifier bytes, SHA-256 of the public key) of the built-in key
    "decryption" or "verification"."""
    number = {"decryption": _native.KEY_DECRYPTION,
              "verification": _native.KEY_VERIFICATION}.get(key)
    if number is None:
        raise ValueError(f"no built-in key {key!r}: 'decryption' or 'verification'")
    identifier = (ctypes.c_uint8 * 4)()
    fingerprint = (ctypes.c_uint8 * 32)()
    code = _native.library.qve_key_identity(number, identifier, fingerprint)
    if code != 0:
        raise QveError(code)
    return bytes(identifier), bytes(fingerprint)
