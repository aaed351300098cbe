# SPDX-License-Identifier: Apache-2.0
"""What a long call shares: the caller's progress callback as the library's,
and Python threads lent to the library's work (a loan)."""
import ctypes
import inspect
import threading
from types import TracebackType
from typing import Any, Callable, Dict, List, Optional, Type, Union

from . import _native
from ._codes import Step

PROGRESS = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_uint64, ctypes.c_uint64, ctypes.c_int,
                            ctypes.c_void_p)

# progress(done, total, step) or, as 1.0 took it, progress(done, total).
Progress = Union[Callable[[int, int, Step], Optional[bool]], Callable[[int, int], Optional[bool]]]

_LOAN = ctypes.c_void_p
_loan_create = _native.prototype("qve_loan_create", ctypes.c_int, [ctypes.POINTER(_LOAN)])
_loan_free = _native.prototype("qve_loan_free", None, [_LOAN])
_loan_work = _native.prototype("qve_loan_work", ctypes.c_int, [_LOAN])
_loan_end = _native.prototype("qve_loan_end", ctypes.c_int, [_LOAN])


def _takes_step(progress: Callable[..., Any]) -> bool:
    try:
        inspect.signature(progress).bind(0, 0, Step.DECRYPTING)
    except TypeError:
        return False
    except ValueError:  # no signature to read (a builtin): as 1.0 called it
        return False
    return True


class Watch:
    """The caller's progress as the library's callback. The library counts
    each step from 0; `done` never goes back within a step here. A false
    return other than None stops the work, and so does an exception, which
    the call raises again once the library has cleaned up."""

    def __init__(self, progress: Optional[Progress]) -> None:
        self.progress = progress
        self.raised: Optional[BaseException] = None
        self.with_step = progress is not None and _takes_step(progress)
        self.done: Dict[int, int] = {}
        self.callback: Any = PROGRESS(self._call) if progress is not None else PROGRESS(0)

    def _call(self, done: int, total: int, step: int, context: Any) -> int:
        done = max(done, self.done.get(step, 0))
        self.done[step] = done
        try:
            call: Callable[..., Optional[bool]] = self.progress  # type: ignore[assignment]
            go_on = call(done, total, Step.of(step)) if self.with_step else call(done, total)
        except BaseException as error:  # raised again once the call is over
            self.raised = error
            return 1
        return 1 if go_on is not None and not go_on else 0

    def reraise(self) -> None:
        if self.raised is not None:
            raised, self.raised = self.raised, None
            raise raised


class Loan:
    """`workers` Python threads lent to the library's work for as long as
    the loan is open; `handle` is None for none (the library works on the
    calling thread alone). ctypes lets go of the GIL in every call, so the
    lent threads work in parallel with the caller."""

    def __init__(self, workers: int) -> None:
        if workers < 0:
            raise ValueError(f"workers={workers}: 0 or more")
        self.handle: Optional[int] = None
        self.threads: List[threading.Thread] = []
        if workers == 0:
            return
        handle = _LOAN()
        code = _loan_create(ctypes.byref(handle))
        if code != 0:
            from ._errors import error_for
            raise error_for(code)
        self.handle = handle.value
        for number in range(workers):
            thread = threading.Thread(target=_loan_work, args=(self.handle,), daemon=True,
                                      name=f"qvehelper worker {number + 1}")
            thread.start()
            self.threads.append(thread)

    def close(self) -> None:
        """Lets the threads go and frees the loan once they have returned."""
        if self.handle is None:
            return
        _loan_end(self.handle)
        for thread in self.threads:
            thread.join()
        _loan_free(self.handle)
        self.handle = None

    def __enter__(self) -> "Loan":
        return self

    def __exit__(self, kind: Optional[Type[BaseException]], value: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        self.close()
