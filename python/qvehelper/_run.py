# SPDX-License-Identifier: Apache-2.0
"""Verification runs: one chain of logs verified as `qvehelper verify` does,
through the library's qve_run_ functions."""
import ctypes
import os
from dataclasses import dataclass, field
from types import TracebackType
from typing import Any, Dict, Iterator, List, NamedTuple, Optional, Tuple, Type

from . import _native
from ._codes import (BlockVerdict, CheckpointStatus, EventKind, FileVerdict, ReportResult,
                     RunStatus, StrictReason, WarningCode)
from ._errors import error_for
from ._native import SUFFIX, Paths, PathLike, bytes_out, path_argument, shown, text
from ._work import Loan

ORDERS = {"links": 0, "name": 1}
_ORDER_NAMES = {0: "links", 1: "name", 2: "links, with seams"}
_RECORD_INIT = 1
_NO_LOG = -7
_POINTS = {"recorded": 0, "held": 1, "now": 2, "oldest": 3}
# qve_run_block_chain's QVE_LINK_*, as a row of inspect says it.
_LINK_UNSIGNED_TAIL = 0
_CHAIN_WORDS = {1: "first block", 2: "matches", 3: "differs"}
_PARSE_WORDS = {0: "parsed", 1: "empty"}


class _Options(ctypes.Structure):
    _fields_ = [("size", ctypes.c_size_t), ("order", ctypes.c_int), ("strict", ctypes.c_int),
                ("excerpt_lines", ctypes.c_uint32), ("excerpt_line_bytes", ctypes.c_size_t),
                ("once", ctypes.c_int), ("loan", ctypes.c_void_p),
                ("max_unsigned_lines", ctypes.c_uint32), ("stale_after_days", ctypes.c_uint32),
                ("accept", ctypes.c_int)]


_H = ctypes.c_void_p
_SIZE = ctypes.POINTER(ctypes.c_size_t)
_BYTES = ctypes.POINTER(ctypes.c_uint8)
_I, _U32, _U64, _SZ, _TEXT = (ctypes.c_int, ctypes.c_uint32, ctypes.c_uint64, ctypes.c_size_t,
                              ctypes.c_char_p)
_PROTOTYPES: Dict[str, Tuple[Any, List[Any]]] = {
    "create": (_I, [ctypes.POINTER(_Options), ctypes.POINTER(_H)]),
    "free": (None, [_H]),
    "add" + SUFFIX: (_I, [_H, _native.PATH]),
    "refusal": (_TEXT, [_H]),
    "set_record": (_I, [_H, ctypes.c_char_p, _SZ, _I]),
    "next": (_I, [_H]), "work": (_I, [_H]), "work_wait": (_I, [_H]), "stop_work": (_I, [_H]),
    "event_file": (_SZ, [_H]), "event_reading": (_I, [_H]), "event_path": (_TEXT, [_H]),
    "block_verdict": (_I, [_H]), "block_first_line": (_U32, [_H]),
    "block_last_line": (_U32, [_H]), "block_offset": (_U64, [_H]), "block_id": (_U32, [_H]),
    "block_link_matched": (_I, [_H]), "block_parse": (_I, [_H]), "block_stop": (_TEXT, [_H]),
    "block_chain": (_I, [_H]),
    "block_link": (_BYTES, [_H, _SIZE]), "block_text": (_BYTES, [_H, _SIZE]),
    "block_signature_length": (_U64, [_H]), "block_covers_no_line": (_I, [_H]),
    "warning_code": (_I, [_H]), "warning_path": (_TEXT, [_H]), "warning_text": (_TEXT, [_H]),
    "warning_unverified": (_I, [_H]),
    "file_count": (_SZ, [_H]),
    "file_first_link": (_BYTES, [_H, _SZ, _SIZE]),
    "file_last_chain_value": (_BYTES, [_H, _SZ, _SIZE]),
    "status": (_I, [_H]), "result": (_I, [_H]), "total_files": (_I, [_H]),
    "bad_files": (_I, [_H]), "order": (_I, [_H]), "checkpoint": (_I, [_H]),
    "checkpoint_starts_later": (_I, [_H]), "checkpoint_not_recorded": (_TEXT, [_H]),
    "record": (_BYTES, [_H, _SIZE]),
    "strict_count": (_SZ, [_H]), "strict_reason": (_I, [_H, _SZ]),
    "strict_path": (_TEXT, [_H, _SZ]), "strict_text": (_TEXT, [_H, _SZ]),
    "point_known": (_I, [_H, _I]), "point_file": (_TEXT, [_H, _I]),
    "point_line": (_U32, [_H, _I]), "point_id": (_U32, [_H, _I]),
    "point_file_index": (_SZ, [_H, _I]), "point_chain_value": (_BYTES, [_H, _I, _SIZE]),
    "point_start": (_BYTES, [_H, _I, _SIZE]), "point_time": (_TEXT, [_H, _I]),
    "point_grew": (_TEXT, [_H, _I]), "longest_block": (_U32, [_H]),
    "checkpoint_history_left": (_I, [_H, ctypes.POINTER(_U32), ctypes.POINTER(_U32)]),
    "checkpoint_shrunk": (_I, [_H]), "checkpoint_stale": (_I, [_H]),
}
# A file's facts by index: the accessor's name after qve_run_file_ and its type.
_FILE_FACTS: Dict[str, Any] = {
    "name": _TEXT, "path": _TEXT, "verdict": _I, "blocks": _U32, "bad_blocks": _U32,
    "lines": _U32, "signature_lines": _U32, "unsigned_first": _U32, "unsigned_last": _U32,
    "nul_first_line": _U32, "nul_lines": _U32, "nul_bytes": _U64, "end_of_input_line": _U32,
    "end_of_input_offset": _U64, "end_of_input_bytes": _U64, "opened": _I,
    "changed_while_read": _I, "read_fault": _TEXT, "break_follows": _TEXT,
}
for _fact, _kind in _FILE_FACTS.items():
    _PROTOTYPES["file_" + _fact] = (_kind, [_H, _SZ])
_c: Dict[str, Any] = {name: _native.prototype("qve_run_" + name, result, arguments)
                      for name, (result, arguments) in _PROTOTYPES.items()}
_c["add"] = _c["add" + SUFFIX]


@dataclass
class Block:
    """A block of a log: its verdict, its lines (last_line is its signature
    line), the signature line's file offset, its id, and whether its link is
    the chain value before it."""
    verdict: BlockVerdict
    first_line: int
    last_line: int
    offset: int
    id: int
    link_matched: bool


@dataclass
class Warning:
    """What a verdict cannot say: its code, the path it is about, its text,
    whether it says that something which could hold evidence was not verified
    (the run is then Incomplete) and the index of the run's file it is about
    (None for an entry that is no file of the run)."""
    code: WarningCode
    path: str
    text: str
    unverified: bool
    file: Optional[int] = None


@dataclass
class File:
    """A log of the run, in the run's order, with its verdict, its `blocks`
    (left out with blocks=False), and its facts: counts of blocks, bad
    blocks, lines and signature lines; its unsigned tail (first, last line);
    the link of its first signed block and the chain value after its last;
    lines with bytes after a NUL; an end-of-input byte (0x1A) with bytes
    after it; whether it opened, changed while read, why it could not be read
    whole, and the unreadable file before it its chain break follows from."""
    name: str
    path: str
    verdict: FileVerdict = FileVerdict.FILE_OK
    blocks: List[Block] = field(default_factory=list)
    block_count: int = 0
    bad_block_count: int = 0
    lines: int = 0
    signature_lines: int = 0
    unsigned_lines: Optional[Tuple[int, int]] = None
    first_link: Optional[bytes] = None
    last_chain_value: Optional[bytes] = None
    nul_first_line: int = 0
    nul_lines: int = 0
    nul_bytes: int = 0
    end_of_input_line: int = 0
    end_of_input_offset: int = 0
    end_of_input_bytes: int = 0
    opened: bool = True
    changed_while_read: bool = False
    read_fault: Optional[str] = None
    break_follows: Optional[str] = None


@dataclass
class Strict:
    """Why a run fails the strict policy: the reason, its path, its text."""
    reason: StrictReason
    path: str
    text: str


@dataclass
class Point:
    """A block a record is about: its file's name, signature line and id,
    the chain value after it and the one its run started from, when it was
    recorded ("" but for the recorded one), and the index of its file in the
    run (None for the recorded one)."""
    file: str
    line: int
    id: int
    chain_value: bytes
    start: bytes
    time: str
    file_index: Optional[int]
    grew: str = ""


@dataclass
class CheckpointOutcome:
    """What became of the record a run was held to (or asked to make):
    `status` new, extended or lost; whether the run starts later than the
    recorded one; the block it recorded, where this run holds it, the newest
    block verified; why no new record was made ("" when one was); the
    oldest block the record vouches for; the (files, lines) that left the
    old end of its history since (None unless the run starts later), whether
    more left than a rotation takes, and whether the record is stale."""
    status: CheckpointStatus
    starts_later: bool
    recorded: Optional[Point]
    held: Optional[Point]
    now: Optional[Point]
    not_recorded: str
    oldest: Optional[Point] = None
    history_left: Optional[Tuple[int, int]] = None
    history_shrunk: bool = False
    stale: bool = False


@dataclass
class Run:
    """A finished run: every fact of `qvehelper verify --json --details
    --include-ok`. `exit_status` is the status's number; `result` the
    report's own result from the verdicts (as in 1.0; `status` is the
    chain's, which a lost record or the strict policy makes worse);
    `checkpoint` the new record's bytes to store, None when the run did not
    pass; `strict` None without the strict policy."""
    exit_status: int
    result: ReportResult
    files: List[File]
    warnings: List[Warning]
    checkpoint: Optional[bytes]
    status: RunStatus = RunStatus.REPORT_OK
    total_files: int = 0
    bad_files: int = 0
    order: str = "links"
    strict: Optional[List[Strict]] = None
    checkpoint_outcome: Optional[CheckpointOutcome] = None
    longest_block: int = 0  # the data lines of the chain's longest signed block
    accepted: bool = False  # accept=True made the new record whatever the run found

    def to_dict(self) -> Dict[str, Any]:
        """The object `qvehelper verify --json --details --include-ok` prints
        for the chain. A host keeps its record itself: the checkpoint's
        "file" is None, "readOnly" False, "written" whether a new record was
        made. With blocks=False "details" lists no block."""
        def unsigned(file: File) -> Optional[Dict[str, int]]:
            return None if file.unsigned_lines is None else dict(
                zip(("first", "last"), file.unsigned_lines))

        def point(at: Optional[Point], whole: bool) -> Optional[Dict[str, Any]]:
            if at is None:
                return None
            json: Dict[str, Any] = {"file": at.file, "line": at.line, "id": at.id}
            if whole:
                json.update(chainValue=at.chain_value.hex(), start=at.start.hex(), time=at.time,
                            grew=at.grew)
            return json

        def oldest(at: Optional[Point]) -> Optional[Dict[str, Any]]:
            return None if at is None else {"file": at.file, "line": at.line,
                                            "chainValue": at.chain_value.hex()}

        outcome = self.checkpoint_outcome
        return {
            "exitStatus": self.exit_status, "status": self.status.value,
            "result": self.status.value, "resultCode": self.status.code,
            "totalFiles": self.total_files, "badFiles": self.bad_files,
            "report": {"result": self.result.value, "resultCode": self.result.code,
                       "totalFiles": self.total_files, "badFiles": self.bad_files},
            "order": self.order, "longestSignedBlock": self.longest_block,
            "files": [{"name": f.name, "path": f.path, "verdict": f.verdict.value,
                       "verdictCode": f.verdict.code, "unsignedLines": unsigned(f)}
                      for f in self.files],
            "warnings": [{"path": w.path, "message": w.text, "unverified": w.unverified}
                         for w in self.warnings],
            "details": [{"path": f.path, "name": f.name, "blockCount": f.block_count,
                         "badBlockCount": f.bad_block_count, "unsignedLines": unsigned(f),
                         "breakFollows": f.break_follows,
                         "blocks": [{"verdict": b.verdict.value, "verdictCode": b.verdict.code,
                                     "firstLine": b.first_line, "lastLine": b.last_line}
                                    for b in f.blocks if b.verdict != BlockVerdict.BLOCK_OK]}
                        for f in self.files],
            "checkpoint": None if outcome is None else {
                "file": None, "status": _status_shown(outcome, self.checkpoint is not None),
                "readOnly": False,
                "written": self.checkpoint is not None, "error": None, "startsLater": outcome.starts_later,
                "recorded": point(outcome.recorded, True), "held": point(outcome.held, False),
                "now": point(outcome.now, True), "oldest": oldest(outcome.oldest),
                "historyLeft": None if outcome.history_left is None else dict(
                    zip(("files", "lines"), outcome.history_left)),
                "historyShrunk": outcome.history_shrunk, "stale": outcome.stale,
                "accepted": self.accepted and self.checkpoint is not None, "givesUp": None},
            "strict": None if self.strict is None else [
                {"path": s.path, "reason": s.reason.value, "message": s.text}
                for s in self.strict],
        }


def _status_shown(outcome: CheckpointOutcome, written: bool) -> str:
    # As the command says it: a record not written is held, or not created.
    if outcome.status == CheckpointStatus.LOST or written:
        return str(outcome.status.value)
    return "held" if outcome.recorded is not None else "not created"


@dataclass
class Event:
    """One event of a run: `kind` is "FileStart", "Block", "Warning",
    "FileEnd", "Restart" or "Done" (an EventKind); `file` the file's index
    (FileStart, Block, FileEnd, and a Warning about a file of the run); at
    FileStart its `path` and `reading` (above 1 when read again); the
    `block`, the `warning`; at FileEnd the file's `verdict`; at Done the
    finished `run`."""
    kind: EventKind
    file: Optional[int] = None
    path: Optional[str] = None
    block: Optional[Block] = None
    warning: Optional[Warning] = None
    verdict: Optional[FileVerdict] = None
    reading: Optional[int] = None
    run: Optional[Run] = None


def _raise(code: int, handle: Any, path: Optional[PathLike] = None) -> None:
    """Raises the error for a refused path or record, with the run's reason."""
    reason = text(_c["refusal"](handle)) if handle else ""
    where = shown(path) if path is not None else None
    if code == _NO_LOG and where is not None:
        reason = "holds no log (system.log or System_*.log)"
    message = f"{where}: {reason}" if where and reason else reason
    raise error_for(code, message, where, reason or None)


class Policy(NamedTuple):
    """What a run is held to beyond its signatures, as the command's
    --accept, --stale-after DAYS and --max-unsigned LINES."""
    accept: bool = False
    stale_after: int = 0
    max_unsigned: int = 0


def _open(paths: Paths, order: str, strict: bool, checkpoint: Optional[bytes], init: bool,
          loan: Loan, once: bool = False, policy: Policy = Policy()) -> Any:
    if order not in ORDERS:
        raise ValueError(f"order {order!r}: 'links' or 'name'")
    if init and checkpoint is not None:
        raise ValueError("init=True asks for a first record: no checkpoint with it")
    options = _Options(ctypes.sizeof(_Options), ORDERS[order], 1 if strict else 0,
                       once=1 if once else 0, loan=loan.handle,
                       max_unsigned_lines=policy.max_unsigned,
                       stale_after_days=policy.stale_after, accept=1 if policy.accept else 0)
    handle = _H()
    code = _c["create"](ctypes.byref(options), ctypes.byref(handle))
    if code != 0:
        _raise(code, None)
    try:
        # The record first: with one, a folder emptied of its logs is lost
        # evidence of the run, not an error.
        if checkpoint is not None or init:
            record = bytes(checkpoint or b"")
            code = _c["set_record"](handle, record, len(record), _RECORD_INIT if init else 0)
            if code != 0:
                _raise(code, handle)
        for path in _native.path_list(paths):
            code = _c["add"](handle, path_argument(path))
            if code != 0 and not (code == _NO_LOG and checkpoint is not None):
                _raise(code, handle, path)
    except BaseException:
        _c["free"](handle)
        raise
    return handle


def _point(handle: Any, name: str) -> Optional[Point]:
    at = _POINTS[name]
    if not _c["point_known"](handle, at):
        return None
    return Point(text(_c["point_file"](handle, at)), _c["point_line"](handle, at),
                 _c["point_id"](handle, at),
                 bytes_out(_c["point_chain_value"], handle, at) or b"",
                 bytes_out(_c["point_start"], handle, at) or b"",
                 text(_c["point_time"](handle, at)),
                 None if name in ("recorded", "oldest") else _c["point_file_index"](handle, at),
                 text(_c["point_grew"](handle, at)))


def _history_left(handle: Any) -> Optional[Tuple[int, int]]:
    files, lines = _U32(), _U32()
    if not _c["checkpoint_history_left"](handle, ctypes.byref(files), ctypes.byref(lines)):
        return None
    return (files.value, lines.value)


def _file(handle: Any, index: int, blocks: List[Block]) -> File:
    fact = {name: _c["file_" + name](handle, index) for name in _FILE_FACTS}
    return File(
        text(fact["name"]), text(fact["path"]), FileVerdict.of(fact["verdict"]), blocks,
        fact["blocks"], fact["bad_blocks"], fact["lines"], fact["signature_lines"],
        (fact["unsigned_first"], fact["unsigned_last"]) if fact["unsigned_first"] else None,
        bytes_out(_c["file_first_link"], handle, index),
        bytes_out(_c["file_last_chain_value"], handle, index),
        fact["nul_first_line"], fact["nul_lines"], fact["nul_bytes"], fact["end_of_input_line"],
        fact["end_of_input_offset"], fact["end_of_input_bytes"], fact["opened"] == 1,
        fact["changed_while_read"] == 1, text(fact["read_fault"]) or None,
        text(fact["break_follows"]) or None)


class _Collector:
    """What a run's events leave, kept until the run is done."""

    def __init__(self, blocks: bool, strict: bool, record: bool, accept: bool = False) -> None:
        self.keep_blocks, self.strict, self.record, self.accept = blocks, strict, record, accept
        self.blocks: Dict[int, List[Block]] = {}
        self.paths: Dict[str, int] = {}
        self.warnings: List[Warning] = []

    def event(self, handle: Any, kind: int) -> Event:
        if kind == EventKind.BLOCK.code:
            index = _c["event_file"](handle)
            block = Block(BlockVerdict.of(_c["block_verdict"](handle)),
                          _c["block_first_line"](handle), _c["block_last_line"](handle),
                          _c["block_offset"](handle), _c["block_id"](handle),
                          _c["block_link_matched"](handle) == 1)
            if self.keep_blocks:
                self.blocks.setdefault(index, []).append(block)
            return Event(EventKind.BLOCK, index, block=block)
        if kind == EventKind.WARNING.code:
            path = text(_c["warning_path"](handle))
            warning = Warning(WarningCode.of(_c["warning_code"](handle)), path,
                              text(_c["warning_text"](handle)),
                              _c["warning_unverified"](handle) == 1, self.paths.get(path))
            self.warnings.append(warning)
            return Event(EventKind.WARNING, warning.file, warning=warning)
        if kind == EventKind.FILE_START.code:
            index, path = _c["event_file"](handle), text(_c["event_path"](handle))
            self.paths[path] = index
            self.blocks[index] = []
            return Event(EventKind.FILE_START, index, path=path,
                         reading=_c["event_reading"](handle))
        if kind == EventKind.FILE_END.code:
            index = _c["event_file"](handle)
            return Event(EventKind.FILE_END, index,
                         verdict=FileVerdict.of(_c["file_verdict"](handle, index)))
        if kind == EventKind.RESTART.code:
            self.blocks, self.paths, self.warnings = {}, {}, []
            return Event(EventKind.RESTART)
        return Event(EventKind.DONE, run=self.run(handle))

    def run(self, handle: Any) -> Run:
        files = [_file(handle, index, self.blocks.get(index, []))
                 for index in range(_c["file_count"](handle))]
        status = RunStatus.of(_c["status"](handle))
        outcome = None
        if self.record:
            code = _c["checkpoint"](handle)
            outcome = CheckpointOutcome(
                CheckpointStatus.of(code) if code > 1 else CheckpointStatus.NEW,
                _c["checkpoint_starts_later"](handle) == 1, _point(handle, "recorded"),
                _point(handle, "held"), _point(handle, "now"),
                text(_c["checkpoint_not_recorded"](handle)), _point(handle, "oldest"),
                _history_left(handle), _c["checkpoint_shrunk"](handle) == 1,
                _c["checkpoint_stale"](handle) == 1)
        strict = [Strict(StrictReason.of(_c["strict_reason"](handle, i)),
                         text(_c["strict_path"](handle, i)), text(_c["strict_text"](handle, i)))
                  for i in range(_c["strict_count"](handle))] if self.strict else None
        return Run(status.code, ReportResult.of(_c["result"](handle)), files, self.warnings,
                   bytes_out(_c["record"], handle), status, _c["total_files"](handle),
                   _c["bad_files"](handle), _ORDER_NAMES.get(_c["order"](handle), "links"),
                   strict, outcome, _c["longest_block"](handle), self.accept)


class Events(Iterator[Event]):
    """A run's stream of events, one by one, in order, as the library gives
    them; the last (Done) carries the finished Run as `.run`, whose files
    keep no blocks. An iterator and a context manager: leaving the `with`
    block, or close(), ends the run and lets its lent threads go."""

    def __init__(self, paths: Paths, order: str, strict: bool, checkpoint: Optional[bytes],
                 init: bool, workers: int, blocks: bool = False,
                 policy: Policy = Policy()) -> None:
        self._loan = Loan(workers)
        try:
            self._handle: Any = _open(paths, order, strict, checkpoint, init, self._loan,
                                      policy=policy)
        except BaseException:
            self._loan.close()
            raise
        self._collector = _Collector(blocks, strict, checkpoint is not None or init,
                                     policy.accept)
        self._done = False

    def __iter__(self) -> "Events":
        return self

    def __next__(self) -> Event:
        if self._done or self._handle is None:
            self.close()
            raise StopIteration
        kind = _c["next"](self._handle)
        if kind < 0:
            self.close()
            raise error_for(kind)
        event = self._collector.event(self._handle, kind)
        if event.kind == EventKind.DONE:
            self._done = True
        return event

    def _finish(self) -> Run:
        # verify()'s loop: blocks not kept stay in the library, never made
        # into Python objects.
        next_event = _c["next"]
        skip = None if self._collector.keep_blocks else EventKind.BLOCK.code
        while not self._done and self._handle is not None:
            kind = next_event(self._handle)
            if kind == skip:
                continue
            if kind < 0:
                self.close()
                raise error_for(kind)
            event = self._collector.event(self._handle, kind)
            if event.run is not None:
                self._done = True
                return event.run
        raise ValueError("the run's events were taken to their end already")

    def close(self) -> None:
        if self._handle is not None:
            _c["free"](self._handle)
            self._handle = None
        self._loan.close()

    def __enter__(self) -> "Events":
        return self

    def __exit__(self, kind: Optional[Type[BaseException]], value: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        self.close()

    def __del__(self) -> None:
        if getattr(self, "_handle", None) is not None:
            self.close()


def events(paths: Paths, *, order: str = "links", strict: bool = False,
           checkpoint: Optional[bytes] = None, init: bool = False, workers: int = 0,
           policy: Policy = Policy()) -> Events:
    """The run of verify(), as its stream of events; memory stays flat
    however long the logs. The arguments are verify()'s; errors in PATHS or
    the record are raised here, before any event."""
    return Events(paths, order, strict, checkpoint, init, workers, policy=policy)


def verify(paths: Paths, *, order: str = "links", strict: bool = False,
           checkpoint: Optional[bytes] = None, init: bool = False, blocks: bool = True,
           workers: int = 0, policy: Policy = Policy()) -> Run:
    """Verifies PATHS (files, and folders for every log below them) as one
    chain, as `qvehelper verify` does. `order` "links" or "name"; `strict`
    applies the strict policy. `checkpoint` holds the run to a record's bytes
    (a damaged or empty one raises RecordError); `init=True` asks for a first
    record. The Run's `checkpoint` is the new record's bytes to store. With a
    record, a folder emptied of its logs is lost evidence (CheckpointLost),
    not an error. blocks=False keeps no block, for huge runs. `workers` lends
    that many Python threads to the block checks. `policy` holds the run to
    the command's --accept, --stale-after and --max-unsigned."""
    with Events(paths, order, strict, checkpoint, init, workers, blocks, policy) as stream:
        return stream._finish()


@dataclass
class Row:
    """A signature line of a log, as qvehelper inspect shows it: its line and
    the lines it covers (None for none), how its block parses ("parsed",
    "empty" or "malformed", with where it stops), its fields, whether its
    link continues the chain ("first block", "matches", "differs"; "" for a
    line that does not parse) and its verdict."""
    line: int
    covers: Optional[Tuple[int, int]]
    parse: str
    stop: str
    id: int
    text: bytes
    link: bytes
    chain: str
    signature_length: int
    verdict: BlockVerdict


@dataclass
class LogDiagnosis:
    """What a signed log holds: its rows, then the file's facts."""
    path: str
    rows: List[Row]
    lines: int
    signature_lines: int
    first_link: Optional[bytes]
    last_chain_value: Optional[bytes]
    unsigned_tail: Optional[Tuple[int, int]]
    changed_while_read: bool
    read_fault: Optional[str]


def inspect_log(path: PathLike) -> LogDiagnosis:
    """What the signed log PATH holds, as qvehelper inspect shows it: a row
    per signature line, then the file's facts. The file is read once, as it
    is. A folder raises InputError (IsADirectoryError), as a missing file
    raises InputError (FileNotFoundError)."""
    if os.path.isdir(path):
        raise error_for(-8, f"{shown(path)} is a folder: inspect one log", shown(path),
                        "Is a directory")
    handle = _open([path], "name", False, None, False, Loan(0), once=True)
    try:
        rows: List[Row] = []
        collector = _Collector(False, False, False)
        while True:
            kind = _c["next"](handle)
            if kind < 0:
                raise error_for(kind)
            event = collector.event(handle, kind)
            if event.kind == EventKind.DONE:
                break
            block = event.block
            if block is None:
                continue
            chain = _c["block_chain"](handle)
            if chain == _LINK_UNSIGNED_TAIL:
                continue
            parse = _c["block_parse"](handle)
            rows.append(Row(
                block.last_line,
                None if _c["block_covers_no_line"](handle) else (block.first_line,
                                                                   block.last_line - 1),
                _PARSE_WORDS.get(parse, "malformed"),
                text(_c["block_stop"](handle)), block.id,
                bytes_out(_c["block_text"], handle) or b"",
                bytes_out(_c["block_link"], handle) or b"",
                _CHAIN_WORDS.get(chain, ""),
                _c["block_signature_length"](handle), block.verdict))
        file = _file(handle, 0, [])
        return LogDiagnosis(shown(path), rows, file.lines, file.signature_lines,
                            file.first_link, file.last_chain_value, file.unsigned_lines,
                            file.changed_while_read, file.read_fault)
    finally:
        _c["free"](handle)
