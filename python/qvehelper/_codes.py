# SPDX-License-Identifier: Apache-2.0
"""The library's codes as enumerations whose members are the names 1.0 gave
as strings ("Success" == DecryptResult.SUCCESS) and carry the number."""
import enum
from typing import Type, TypeVar

_Code = TypeVar("_Code", bound="Code")


class Code(str, enum.Enum):
    """A named code: equal to its name (a str), with `code` its number."""

    _value_: str
    code: int

    def __new__(cls, name: str, code: int) -> "Code":
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
    SUCCESS = ("Success", 0)
    NO_SEAL = ("NoSeal", 1)
    INPUT_OPEN_FAILED = ("InputOpenFailed", 2)
    OUTPUT_OPEN_FAILED = ("OutputOpenFailed", 4)
    OUTPUT_WRITE_FAILED = ("OutputWriteFailed", 5)
    HEADER_INVALID = ("HeaderInvalid", 6)
    SESSION_KEY_UNAVAILABLE = ("SessionKeyUnavailable", 7)
    OUTPUT_SIZE_FAILED = ("OutputSizeFailed", 8)
    OUTPUT_TRUNCATE_FAILED = ("OutputTruncateFailed", 9)
    OUTPUT_REOPEN_FAILED = ("OutputReopenFailed", 10)
    VERIFY_INIT_FAILED = ("VerifyInitFailed", 11)
    VERIFY_UPDATE_FAILED = ("VerifyUpdateFailed", 12)
    BAD_SIGNATURE = ("BadSignature", 13)
    CANCELLED = ("Cancelled", -20)


class RunStatus(Code):
    """A run's status, what `qvehelper verify` exits with for the chain."""
    REPORT_OK = ("ReportOk", 0)
    REPORT_UNSIGNED = ("ReportUnsigned", 1)
    REPORT_SOME_INVALID = ("ReportSomeInvalid", 2)
    REPORT_ALL_INVALID = ("ReportAllInvalid", 3)
    CHECKPOINT_LOST = ("CheckpointLost", 4)
    STRICT_POLICY_FAILED = ("StrictPolicyFailed", 5)
    INCOMPLETE = ("Incomplete", 6)


class ReportResult(Code):
    """The report's own result, from the verdicts alone."""
    REPORT_OK = ("ReportOk", 0)
    REPORT_UNSIGNED = ("ReportUnsigned", 1)
    REPORT_SOME_INVALID = ("ReportSomeInvalid", 2)
    REPORT_ALL_INVALID = ("ReportAllInvalid", 3)


class FileVerdict(Code):
    FILE_OK = ("FileOk", 0)
    FILE_UNSIGNED = ("FileUnsigned", 1)
    FILE_CHAIN_BREAK = ("FileChainBreak", 2)
    FILE_INVALID = ("FileInvalid", 3)


class BlockVerdict(Code):
    """A block's verdict; from BLOCK_INVALID up it was tampered with."""
    BLOCK_OK = ("BlockOk", 0)
    BLOCK_UNSIGNED = ("BlockUnsigned", 1)
    BLOCK_NO_SIGNATURE = ("BlockNoSignature", 2)
    BLOCK_INVALID = ("BlockInvalid", 3)
    BLOCK_CHAIN_BREAK = ("BlockChainBreak", 4)
    BLOCK_UNEXPECTED = ("BlockUnexpected", 5)


class WarningCode(Code):
    """What a warning of a run is about (QVE_WARNING_*)."""
    SAME_FILE = ("SameFile", 1)
    UNREADABLE = ("Unreadable", 2)
    NAME_CASE = ("NameCase", 3)
    PASSED_OVER = ("PassedOver", 4)
    NO_LOG = ("NoLog", 5)
    UNSIGNED_LINES = ("UnsignedLines", 6)
    AFTER_NUL = ("AfterNul", 7)
    AFTER_END = ("AfterEnd", 8)
    CHANGED = ("Changed", 9)
    BYTE_ORDER_MARK = ("ByteOrderMark", 10)
    LINKS = ("Links", 11)
    BREAK_FOLLOWS = ("BreakFollows", 12)
    KEPT_CHANGING = ("KeptChanging", 13)


class StrictReason(Code):
    """Why a run fails the strict policy (QVE_STRICT_*)."""
    FILE_UNSIGNED = ("FileUnsigned", 1)
    UNSIGNED_LINES = ("UnsignedLines", 2)
    EMPTY_SIGNATURE_LINE = ("EmptySignatureLine", 3)
    BYTES_AFTER_NUL = ("BytesAfterNul", 4)
    BYTES_AFTER_END_OF_INPUT = ("BytesAfterEndOfInput", 5)
    NAME_CASE = ("NameCase", 6)
    UNVERIFIED = ("Unverified", 7)
    HISTORY_SHRUNK = ("HistoryShrunk", 8)
    UNSIGNED_TAIL = ("UnsignedTail", 9)
    STALE = ("Stale", 10)


class CheckpointStatus(Code):
    """What became of the record a run was held to, as `verify --json` says."""
    NEW = ("new", 1)
    EXTENDED = ("extended", 2)
    LOST = ("lost", 3)


class Step(Code):
    """The step of a decryption or check that progress is told of."""
    DECRYPTING = ("Decrypting", 1)
    CHECKING_SEAL = ("CheckingSeal", 2)


class EventKind(Code):
    FILE_START = ("FileStart", 1)
    BLOCK = ("Block", 2)
    WARNING = ("Warning", 3)
    FILE_END = ("FileEnd", 4)
    RESTART = ("Restart", 5)
    DONE = ("Done", 6)
