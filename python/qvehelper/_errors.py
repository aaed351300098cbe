# SPDX-License-Identifier: Apache-2.0
"""The exceptions: one QveError family per kind of failure, and an OSError
subclass with errno for a file that is missing, forbidden or a folder."""
import errno as _errno
import os
from typing import Any, Dict, Optional, Tuple, Type

from . import _native
from ._codes import DecryptResult

# The system's words, as the library gives them as a reason, back to errno.
_ERRNOS: Dict[str, int] = {os.strerror(number).lower(): number for number in _errno.errorcode}
_ERRNOS.update({"is a directory": _errno.EISDIR, "a folder": _errno.EISDIR})


class QveError(Exception):
    """An error of the library: `code` is its number, `name` its name
    ("NotFound", "RecordDamaged", ...), `message` the library's words, as
    the command prints them; `path` and `reason` (the system's words) are
    None where there is none. Pickles and copies with all of them."""

    code: int
    name: str
    message: str
    path: Optional[str]
    reason: Optional[str]

    def __init__(self, code: int, message: str = "", path: Optional[str] = None,
                 reason: Optional[str] = None) -> None:
        number = _errno_of(reason) if isinstance(self, OSError) else None
        if number is not None:
            super().__init__(number, reason, path)
        else:
            super().__init__(message)
        self.code = code
        self.name = self._name()
        self.message = message
        self.path = path
        self.reason = reason

    def _name(self) -> str:
        return _native.result_name(_native.RESULT_OF_RUN, self.code)

    def _arguments(self) -> Tuple[Any, ...]:
        return (self.code, self.message, self.path, self.reason)

    def __reduce__(self) -> Tuple[Any, ...]:
        return (type(self), self._arguments())

    def __str__(self) -> str:
        return f"{self.name} ({self.code})" + (f": {self.message}" if self.message else "")

    def __repr__(self) -> str:
        return f"{type(self).__name__}{self._arguments()!r}"


class MisuseError(QveError):
    """The library was called wrongly (Misuse): a fault of the package."""


class CryptoError(QveError):
    """The cryptographic library failed (CryptoFailed), or memory ran out."""


class InputError(QveError, OSError):
    """An input that cannot be used: InvalidPath, NotFound, Unreadable,
    NoLog (a folder with no log), WrongKind (a FIFO, device or folder)."""


class RecordError(QveError):
    """A checkpoint record refused: RecordDamaged (also an empty one),
    RecordVersion, RecordOtherChain."""


class CancelledError(QveError):
    """The caller stopped the work (Cancelled)."""


class OutputError(QveError, OSError):
    """An output that cannot be made or put in place (OutputFailed),
    the output being an input (SameFile), a scratch file that fails."""


class DecryptionError(QveError):
    """A decryption that did not succeed: `result` (a DecryptResult, also
    `code`) and the library's cause in `message` ("the plaintext ends in no
    seal trailer")."""

    result: DecryptResult

    def _name(self) -> str:
        self.result = DecryptResult.of(self.code)
        return str(self.result)


class _InputNotFound(InputError, FileNotFoundError):
    pass


class _InputForbidden(InputError, PermissionError):
    pass


class _InputFolder(InputError, IsADirectoryError):
    pass


class _OutputNotFound(OutputError, FileNotFoundError):
    pass


class _OutputForbidden(OutputError, PermissionError):
    pass


class _OutputFolder(OutputError, IsADirectoryError):
    pass


class _DecryptionNotFound(DecryptionError, FileNotFoundError):
    pass


class _DecryptionForbidden(DecryptionError, PermissionError):
    pass


class _DecryptionFolder(DecryptionError, IsADirectoryError):
    pass


_FAMILIES: Dict[int, Type[QveError]] = {
    -1: MisuseError, -2: CryptoError, -3: CryptoError, -4: InputError, -5: InputError,
    -6: InputError, -7: InputError, -8: InputError, -10: RecordError, -11: RecordError,
    -12: RecordError, -20: CancelledError, -21: OutputError, -22: OutputError, -23: OutputError,
}
_FOLDER, _FORBIDDEN, _MISSING = _errno.EISDIR, (_errno.EACCES, _errno.EPERM), _errno.ENOENT
_LEAVES: Dict[Tuple[Type[QveError], int], Type[QveError]] = {
    (InputError, _MISSING): _InputNotFound, (InputError, _FOLDER): _InputFolder,
    (OutputError, _MISSING): _OutputNotFound, (OutputError, _FOLDER): _OutputFolder,
    (DecryptionError, _MISSING): _DecryptionNotFound,
    (DecryptionError, _FOLDER): _DecryptionFolder,
}
for _number in _FORBIDDEN:
    _LEAVES.update({(InputError, _number): _InputForbidden,
                    (OutputError, _number): _OutputForbidden,
                    (DecryptionError, _number): _DecryptionForbidden})


def _errno_of(reason: Optional[str]) -> Optional[int]:
    return _ERRNOS.get(reason.lower()) if reason else None


def error_for(code: int, message: str = "", path: Optional[str] = None,
              reason: Optional[str] = None, decryption: bool = False) -> QveError:
    """The exception for a code (a decryption's result with `decryption`):
    its family's class, or the OSError subclass the reason names."""
    family = _FAMILIES.get(code, QveError)
    if decryption and code >= 0:
        family = DecryptionError
    number = _errno_of(reason)
    if code == -5:
        number = _errno.ENOENT
    kind = _LEAVES.get((family, number), family) if number is not None else family
    return kind(code, message, path or None, reason or None)


def last_error(code: int, decryption: bool = False) -> QveError:
    """The exception for the code the calling thread's last call gave, with
    the library's message, path and reason."""
    return error_for(code, _native.text(_native.last_message()),
                     _native.text(_native.last_problem_path()),
                     _native.text(_native.last_problem_reason()), decryption)
