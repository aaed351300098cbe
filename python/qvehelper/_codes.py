# SPDX-License-Identifier: Apache-2.0
"""The library's codes as enumerations whose members are the names 1.0 gave
as strings ("Success" == DecryptResult.SUCCESS) and carry the number. Each
name is the library's own (qve_result_name), taken as the package is
imported, so that the names live in one table."""
import enum
from typing import Callable, Dict, Optional, Tuple, Type, TypeVar

from . import _native

_Code = TypeVar("_Code", bound="Code")

# What each enumeration's codes are the result of, for qve_result_name, and
# how the package spells the name.
_SAME: Callable[[str], str] = str
_NAMED_BY: Dict[str, Tuple[int, Callable[[str], str]]] = {
    "DecryptResult": (_native.RESULT_OF_DECRYPTION, _SAME),
    "RunStatus": (_native.RESULT_OF_RUN, _SAME),
    "ReportResult": (_native.RESULT_OF_RUN, _SAME),
    "FileVerdict": (_native.RESULT_OF_FILE, _SAME),
    "BlockVerdict": (_native.RESULT_OF_BLOCK, _SAME),
    "WarningCode": (_native.RESULT_OF_WARNING, _SAME),
    "StrictReason": (_native.RESULT_OF_STRICT, _SAME),
    # As `verify --json` says it.
    "CheckpointStatus": (_native.RESULT_OF_CHECKPOINT, str.lower),
    "EventKind": (_native.RESULT_OF_EVENT, _SAME),
}


class Code(str, enum.Enum):
    """A named code: equal to its name (a str), with `code` its number."""

    _value_: str
    code: int

    def __new__(cls, code: int, name: Optional[str] = None) -> "Code":
        # `name` only for codes the library does not name.
        if name is None:
            of, spelled = _NAMED_BY[cls.__name__]
            name = spelled(_native.result_name(of, code))
        member = str.__new__(cls, name)
        member._value_ = name
        member.code = code
        return member

    # As 1.0's strings print, not as "DecryptResult.SUCCESS".
    def __str__(self) -> str:
        return str.__str__(self)

    def __format__(self, format_spec: str) -> str:
        return str.__format__(self, format_spec)

    @classmethod
    def of(cls: Type[_Code], code: int) -> _Code:
        """The member whose number is `code`; ValueError for none."""
        for member in cls:
            if member.code == code:
                return member
        raise ValueError(f"{code} is no {cls.__name__}")


class DecryptResult(Code):
    """What a decryption or check gives (QVE_DECRYPT_*), and CANCELLED."""
    SUCCESS = 0
    NO_SEAL = 1
    INPUT_OPEN_FAILED = 2
    OUTPUT_OPEN_FAILED = 4
    OUTPUT_WRITE_FAILED = 5
    HEADER_INVALID = 6
    SESSION_KEY_UNAVAILABLE = 7
    OUTPUT_SIZE_FAILED = 8
    OUTPUT_TRUNCATE_FAILED = 9
    OUTPUT_REOPEN_FAILED = 10
    VERIFY_INIT_FAILED = 11
    VERIFY_UPDATE_FAILED = 12
    BAD_SIGNATURE = 13
    CANCELLED = -20


class RunStatus(Code):
    """A run's status, what `qvehelper verify` exits with for the chain."""
    REPORT_OK = 0
    REPORT_UNSIGNED = 1
    REPORT_SOME_INVALID = 2
    REPORT_ALL_INVALID = 3
    CHECKPOINT_LOST = 4
    STRICT_POLICY_FAILED = 5
    INCOMPLETE = 6


class ReportResult(Code):
    """The report's own result, from the verdicts alone."""
    REPORT_OK = 0
    REPORT_UNSIGNED = 1
    REPORT_SOME_INVALID = 2
    REPORT_ALL_INVALID = 3


class FileVerdict(Code):
    FILE_OK = 0
    FILE_UNSIGNED = 1
    FILE_CHAIN_BREAK = 2
    FILE_INVALID = 3


class BlockVerdict(Code):
    """A block's verdict; from BLOCK_INVALID up it was tampered with."""
    BLOCK_OK = 0
    BLOCK_UNSIGNED = 1
    BLOCK_NO_SIGNATURE = 2
    BLOCK_INVALID = 3
    BLOCK_CHAIN_BREAK = 4
    BLOCK_UNEXPECTED = 5


class WarningCode(Code):
    """What a warning of a run is about (QVE_WARNING_*)."""
    SAME_FILE = 1
    UNREADABLE = 2
    NAME_CASE = 3
    PASSED_OVER = 4
    NO_LOG = 5
    UNSIGNED_LINES = 6
    AFTER_NUL = 7
    AFTER_END = 8
    CHANGED = 9
    BYTE_ORDER_MARK = 10
    LINKS = 11
    BREAK_FOLLOWS = 12
    KEPT_CHANGING = 13


class StrictReason(Code):
    """Why a run fails the strict policy (QVE_STRICT_*)."""
    FILE_UNSIGNED = 1
    UNSIGNED_LINES = 2
    EMPTY_SIGNATURE_LINE = 3
    BYTES_AFTER_NUL = 4
    BYTES_AFTER_END_OF_INPUT = 5
    NAME_CASE = 6
    UNVERIFIED = 7
    HISTORY_SHRUNK = 8
    UNSIGNED_TAIL = 9
    STALE = 10


class CheckpointStatus(Code):
    """What became of the record a run was held to, as `verify --json` says."""
    NEW = 1
    EXTENDED = 2
    LOST = 3


class Step(Code):
    """The step of a decryption or check that progress is told of."""
    DECRYPTING = (1, "Decrypting")
    CHECKING_SEAL = (2, "CheckingSeal")


class EventKind(Code):
    FILE_START = 1
    BLOCK = 2
    WARNING = 3
    FILE_END = 4
    RESTART = 5
    DONE = 6


# A library that does not know a code names it "Unknown": not this package's.
for _enumeration in (DecryptResult, RunStatus, ReportResult, FileVerdict, BlockVerdict,
                     WarningCode, StrictReason, CheckpointStatus, EventKind):
    if any(member.lower() == "unknown" for member in _enumeration.__members__.values()):
        raise ImportError(f"{_native.library_path}: this QVEHelper library does not name every "
                          f"{_enumeration.__name__}; the qvehelper package needs the library of "
                          "its own version")
