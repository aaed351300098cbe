# SPDX-License-Identifier: Apache-2.0
"""The library's C interface through ctypes: where the library is found, the
prototype of each function the package calls, and how paths, text and bytes
cross the interface (one place for all of it)."""
import ctypes
import os
import sys
from typing import Any, Callable, Iterable, List, Optional, Sequence, Union

# What a code is the result of, as qve_result_name takes it.
RESULT_OF_RUN = 1
RESULT_OF_DECRYPTION = 2
RESULT_OF_EVENT = 3
RESULT_OF_WARNING = 4
RESULT_OF_STRICT = 5
RESULT_OF_CHECKPOINT = 6
RESULT_OF_FILE = 7
RESULT_OF_BLOCK = 8

KEY_DECRYPTION = 10
KEY_VERIFICATION = 11

# Windows paths are UTF-16 and go through the _w functions; elsewhere a
# path is the name's bytes, whatever they are.
WIDE = sys.platform == "win32"
SUFFIX = "_w" if WIDE else ""
PATH: Any = ctypes.c_wchar_p if WIDE else ctypes.c_char_p

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Paths = Union[PathLike, Iterable[PathLike]]


def _library_path() -> str:
    """QVEHELPER_LIBRARY names another library file; else the system's."""
    named = os.environ.get("QVEHELPER_LIBRARY")
    if named:
        return named
    return "QVEHelper.dll" if sys.platform == "win32" else "libqvehelper.so.1"


library_path = _library_path()
library = ctypes.CDLL(library_path)

# The names 1.1 added that the package calls. Each is bound as its module is
# imported, never at a first use, so that an older library fails the import
# and says why instead of failing a run half done.
ADDED_IN_1_1 = ("qve_version_number", "qve_has", "qve_run_work_wait", "qve_run_stop_work",
                "qve_run_block_chain")


def prototype(name: str, result: Any, arguments: Sequence[Any]) -> Callable[..., Any]:
    """The library's function `name`, typed; ImportError when the library
    has no such function (one older than this package)."""
    try:
        function = getattr(library, name)
    except AttributeError:
        since = " (added in 1.1)" if name in ADDED_IN_1_1 else ""
        raise ImportError(f"{library_path}: this QVEHelper library has no {name}{since}; the "
                          "qvehelper package needs the library of its own version, 1.1 or "
                          "later") from None
    function.restype = result
    function.argtypes = list(arguments)
    return function  # type: ignore[no-any-return]


result_name_of = prototype("qve_result_name", ctypes.c_char_p, [ctypes.c_int, ctypes.c_int])
last_message = prototype("qve_last_message", ctypes.c_char_p, [])
last_problem_path = prototype("qve_last_problem_path", ctypes.c_char_p, [])
last_problem_reason = prototype("qve_last_problem_reason", ctypes.c_char_p, [])


def path_argument(path: PathLike) -> Union[str, bytes]:
    """A str, bytes or os.PathLike path as the library takes it."""
    native: Union[str, bytes] = os.fsdecode(path) if WIDE else os.fsencode(path)
    if ("\0" if WIDE else b"\0") in native:  # type: ignore[operator]
        raise ValueError(f"a path with a NUL character: {path!r}")
    return native


def shown(path: PathLike) -> str:
    """A path given by the caller as the package gives paths back: str, a
    Linux name's bytes that are no UTF-8 kept as surrogates."""
    return os.fsdecode(path)


def path_list(paths: Paths) -> List[PathLike]:
    """One path or an iterable of them, as a list."""
    if isinstance(paths, (str, bytes, os.PathLike)):
        return [paths]
    return list(paths)


def text(raw: Optional[bytes]) -> str:
    """UTF-8 from the library, as Python text; bytes that are not UTF-8 (a
    Linux file name) kept as surrogates, as os.fsdecode keeps them."""
    return raw.decode("utf-8", "surrogateescape") if raw is not None else ""


def result_name(of: int, code: int) -> str:
    return text(result_name_of(of, code))


def bytes_out(function: Callable[..., Any], *arguments: Any) -> Optional[bytes]:
    """What an accessor that gives bytes and their length gives; None for NULL."""
    length = ctypes.c_size_t()
    data = function(*arguments, ctypes.byref(length))
    return ctypes.string_at(data, length.value) if data else None
