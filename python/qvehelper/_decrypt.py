# SPDX-License-Identifier: Apache-2.0
"""Containers decrypted and checked through qve_decrypt and qve_check, and
found below a folder through qve_find_containers."""
import ctypes
import os
from dataclasses import dataclass, field
from typing import Any, Dict, List, Optional, Union

from . import _native
from ._codes import DecryptResult
from ._errors import DecryptionError, error_for, last_error
from ._native import PATH, SUFFIX, PathLike, path_argument
from ._work import PROGRESS, Loan, Progress, Watch

_LOAN = ctypes.c_void_p


class _DecryptOptions(ctypes.Structure):
    _fields_ = [("size", ctypes.c_size_t), ("progress", PROGRESS), ("context", ctypes.c_void_p),
                ("keep_unverified", ctypes.c_int), ("read_stream", ctypes.c_int),
                ("write_directly", ctypes.c_int), ("loan", _LOAN)]


class _CheckOptions(ctypes.Structure):
    _fields_ = [("size", ctypes.c_size_t), ("progress", PROGRESS), ("context", ctypes.c_void_p),
                ("scratch_folder", ctypes.c_char_p), ("scratch_folder_w", ctypes.c_wchar_p),
                ("loan", _LOAN)]


_FOUND = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_char_p, ctypes.c_void_p, ctypes.c_char_p,
                          ctypes.c_void_p)
_decrypt = _native.prototype("qve_decrypt" + SUFFIX, ctypes.c_int,
                             [PATH, PATH, ctypes.POINTER(_DecryptOptions)])
_check = _native.prototype("qve_check" + SUFFIX, ctypes.c_int,
                           [PATH, ctypes.POINTER(_CheckOptions)])
_find = _native.prototype("qve_find_containers" + SUFFIX, ctypes.c_int,
                          [PATH, _FOUND, ctypes.c_void_p])


def _result(code: int, watch: Watch) -> DecryptResult:
    """The call's result; an error (below 0, but Cancelled) raised."""
    watch.reraise()
    if code < 0 and code != DecryptResult.CANCELLED.code:
        raise last_error(code)
    return DecryptResult.of(code)


def decrypt(input: PathLike, output: PathLike, *, progress: Optional[Progress] = None,
            workers: int = 0) -> DecryptResult:
    """Decrypts the container INPUT into OUTPUT and checks its seal, with the
    safe output of `qvehelper decrypt`: the plaintext replaces OUTPUT only
    on Success; on any other outcome OUTPUT is left as it was.

    Gives DecryptResult.SUCCESS, or CANCELLED when `progress` stopped the
    work; raises DecryptionError for every other result (`result`, and the
    library's cause as `message`), which is also FileNotFoundError,
    PermissionError or IsADirectoryError (with errno) for an INPUT that does
    not open. OutputError for an OUTPUT that cannot be written or is INPUT,
    InputError for a FIFO or device as INPUT. `workers` lends that many
    Python threads: the seal's digest is taken beside the decryption."""
    watch = Watch(progress)
    with Loan(workers) as loan:
        options = _DecryptOptions(size=ctypes.sizeof(_DecryptOptions), progress=watch.callback,
                                  loan=loan.handle)
        code = _decrypt(path_argument(input), path_argument(output), ctypes.byref(options))
    result = _result(code, watch)
    if result not in (DecryptResult.SUCCESS, DecryptResult.CANCELLED):
        raise last_error(code, decryption=True)
    return result


def _check_file(path: PathLike, watch: Watch, loan: Loan) -> DecryptResult:
    options = _CheckOptions(size=ctypes.sizeof(_CheckOptions), progress=watch.callback,
                            loan=loan.handle)
    code = _check(path_argument(path), ctypes.byref(options))
    result = _result(code, watch)
    if result == DecryptResult.INPUT_OPEN_FAILED:
        raise last_error(code, decryption=True)
    return result


def check(path: PathLike, *, progress: Optional[Progress] = None,
          workers: int = 0) -> Union[DecryptResult, Dict[str, DecryptResult]]:
    """Decrypts the container PATH and checks its seal, keeping no plaintext
    anywhere (it is checked in memory as it is decrypted); gives the result
    decrypt would give, CANCELLED included, and raises what decrypt raises
    for an INPUT that does not open. A folder gives every container
    find_containers finds below it, by path, with its result (a container
    that does not open is INPUT_OPEN_FAILED there). progress as for decrypt
    (one step, each container's own); workers as for decrypt."""
    watch = Watch(progress)
    with Loan(workers) as loan:
        if not os.path.isdir(path):
            return _check_file(path, watch, loan)
        results: Dict[str, DecryptResult] = {}
        for found in find_containers(path).paths:
            try:
                results[found] = _check_file(found, watch, loan)
            except DecryptionError as error:  # it does not open
                results[found] = error.result
        return results


@dataclass(frozen=True)
class PassedOver:
    """An entry a search passed over or took with a doubt, and why."""
    path: str
    text: str


@dataclass
class Containers:
    """What find_containers found: the containers' `paths`, in order, and
    the `warnings` about what it passed over."""
    paths: List[str] = field(default_factory=list)
    warnings: List[PassedOver] = field(default_factory=list)


def find_containers(folder: PathLike) -> Containers:
    """The containers below FOLDER as `qvehelper check` takes a folder:
    every regular file named *.qves (any case) or starting with "QVES", in
    order of their paths; links are not followed; every entry passed over
    (a link, a FIFO, a folder that cannot be read, a *.qves file that is
    empty or starts otherwise) is a warning. InputError for a FOLDER that
    cannot be walked."""
    if not os.path.isdir(folder):
        raise error_for(-5 if not os.path.exists(folder) else -8,
                        f"{_native.shown(folder)} is no folder", _native.shown(folder),
                        "No such file or directory" if not os.path.exists(folder) else None)
    found = Containers()
    raised: List[BaseException] = []

    def tell(path: Optional[bytes], wide: Any, warning: Optional[bytes], context: Any) -> int:
        try:
            if warning is not None:
                found.warnings.append(PassedOver(_native.text(path), _native.text(warning)))
            else:
                found.paths.append(_native.text(path))
        except BaseException as error:  # raised again once the search is over
            raised.append(error)
            return 1
        return 0

    code = _find(path_argument(folder), _FOUND(tell), None)
    if raised:
        raise raised[0]
    if code < 0:
        raise last_error(code)
    return found
