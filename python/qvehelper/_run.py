# SPDX-License-Identifier: Apache-2.0
"""Verification runs: one chain of logs verified as `qvehelper verify` does,
through the library's qve_run_ functions."""
import ctypes
import os
from dataclasses import dataclass, field

from . import _native

ORDERS = {"links": 0, "name": 1}
RECORD_INIT = 1
(EVENT_FILE_START, EVENT_BLOCK, EVENT_WARNING, EVENT_FILE_END, EVENT_RESTART,
 EVENT_DONE) = range(1, 7)
RESULT_OF_WARNING = 4
FILE_VERDICTS = ["FileOk", "FileUnsigned", "FileChainBreak", "FileInvalid"]
BLOCK_VERDICTS = ["BlockOk", "BlockUnsigned", "BlockNoSignature", "BlockInvalid",
                  "BlockChainBreak", "BlockUnexpected"]
REPORT_RESULTS = ["ReportOk", "ReportUnsigned", "ReportSomeInvalid", "ReportAllInvalid"]


class _Options(ctypes.Structure):
    _fields_ = [("size", ctypes.c_size_t), ("order", ctypes.c_int), ("strict", ctypes.c_int),
                ("excerpt_lines", ctypes.c_uint32), ("excerpt_line_bytes", ctypes.c_size_t),
                ("once", ctypes.c_int), ("loan", ctypes.c_void_p),
                ("max_unsigned_lines", ctypes.c_uint32), ("stale_after_days", ctypes.c_uint32),
                ("accept", ctypes.c_int)]


_run = ctypes.c_void_p
_size = ctypes.POINTER(ctypes.c_size_t)
_PROTOTYPES = {
    "qve_run_create": (ctypes.c_int, [ctypes.POINTER(_Options), ctypes.POINTER(_run)]),
    "qve_run_free": (None, [_run]),
    "qve_run_add" + ("_w" if _native.WIDE else ""): (ctypes.c_int, [_run, _native.PATH]),
    "qve_run_refusal": (ctypes.c_char_p, [_run]),
    "qve_run_set_record": (ctypes.c_int, [_run, ctypes.c_char_p, ctypes.c_size_t, ctypes.c_int]),
    "qve_run_next": (ctypes.c_int, [_run]),
    "qve_run_event_file": (ctypes.c_size_t, [_run]),
    "qve_run_event_reading": (ctypes.c_int, [_run]),
    "qve_run_event_path": (ctypes.c_char_p, [_run]),
    "qve_run_block_verdict": (ctypes.c_int, [_run]),
    "qve_run_block_first_line": (ctypes.c_uint32, [_run]),
    "qve_run_block_last_line": (ctypes.c_uint32, [_run]),
    "qve_run_block_offset": (ctypes.c_uint64, [_run]),
    "qve_run_block_id": (ctypes.c_uint32, [_run]),
    "qve_run_block_link_matched": (ctypes.c_int, [_run]),
    "qve_run_warning_code": (ctypes.c_int, [_run]),
    "qve_run_warning_path": (ctypes.c_char_p, [_run]),
    "qve_run_warning_text": (ctypes.c_char_p, [_run]),
    "qve_run_warning_unverified": (ctypes.c_int, [_run]),
    "qve_run_file_count": (ctypes.c_size_t, [_run]),
    "qve_run_file_name": (ctypes.c_char_p, [_run, ctypes.c_size_t]),
    "qve_run_file_path": (ctypes.c_char_p, [_run, ctypes.c_size_t]),
    "qve_run_file_verdict": (ctypes.c_int, [_run, ctypes.c_size_t]),
    "qve_run_status": (ctypes.c_int, [_run]),
    "qve_run_result": (ctypes.c_int, [_run]),
    "qve_run_record": (ctypes.POINTER(ctypes.c_uint8), [_run, _size]),
    "qve_run_longest_block": (ctypes.c_uint32, [_run]),
    "qve_run_checkpoint_history_left": (ctypes.c_int, [_run, ctypes.POINTER(ctypes.c_uint32),
                                                       ctypes.POINTER(ctypes.c_uint32)]),
    "qve_run_checkpoint_shrunk": (ctypes.c_int, [_run]),
    "qve_run_checkpoint_stale": (ctypes.c_int, [_run]),
    "qve_run_block_parse": (ctypes.c_int, [_run]),
    "qve_run_block_stop": (ctypes.c_char_p, [_run]),
    "qve_run_block_link": (ctypes.POINTER(ctypes.c_uint8), [_run, _size]),
    "qve_run_block_text": (ctypes.POINTER(ctypes.c_char), [_run, _size]),
    "qve_run_block_signature_length": (ctypes.c_uint64, [_run]),
    "qve_run_block_covers_no_line": (ctypes.c_int, [_run]),
    "qve_run_file_lines": (ctypes.c_uint32, [_run, ctypes.c_size_t]),
    "qve_run_file_signature_lines": (ctypes.c_uint32, [_run, ctypes.c_size_t]),
    "qve_run_file_first_link": (ctypes.POINTER(ctypes.c_uint8), [_run, ctypes.c_size_t, _size]),
    "qve_run_file_last_chain_value": (ctypes.POINTER(ctypes.c_uint8),
                                      [_run, ctypes.c_size_t, _size]),
    "qve_run_file_unsigned_first": (ctypes.c_uint32, [_run, ctypes.c_size_t]),
    "qve_run_file_unsigned_last": (ctypes.c_uint32, [_run, ctypes.c_size_t]),
    "qve_run_file_changed_while_read": (ctypes.c_int, [_run, ctypes.c_size_t]),
    "qve_run_file_read_fault": (ctypes.c_char_p, [_run, ctypes.c_size_t]),
}
for _name, (_result, _arguments) in _PROTOTYPES.items():
    _native.prototype(_name, _result, _arguments)
_c = _native.library
_add = _c.qve_run_add_w if _native.WIDE else _c.qve_run_add


@dataclass
class Block:
    verdict: str
    first_line: int
    last_line: int
    offset: int
    id: int
    link_matched: bool


@dataclass
class Warning:
    code: str
    path: str
    text: str
    unverified: bool


@dataclass
class File:
    name: str
    path: str
    verdict: str = None
    blocks: list = field(default_factory=list)


@dataclass
class Event:
    """One event of a run: `kind` is "FileStart", "Block", "Warning",
    "FileEnd", "Restart" or "Done"; `file` the file's index, `block` or
    `warning` where they apply."""
    kind: str
    file: int = None
    path: str = None
    block: Block = None
    warning: Warning = None


@dataclass
class Run:
    exit_status: int
    result: str
    files: list
    warnings: list
    checkpoint: bytes
    # The data lines of the longest signed block; with a record, the files
    # and lines that left the old end of its history (None unless the run
    # starts later than a version 2 record), whether more left than a
    # rotation takes, and whether it is stale.
    longest_block: int = 0
    history_left: tuple = None
    history_shrunk: bool = False
    stale: bool = False


def _error(code, handle=None):
    """The QveError for a code, with the run's reason for a refused path or
    record."""
    from . import QveError
    reason = _native.text(_c.qve_run_refusal(handle)) if handle else ""
    error = QveError(code, reason or None)
    error.path = None
    error.reason = reason
    return error


def _open(paths, order, strict, checkpoint, once=False, policy=None):
    if order not in ORDERS:
        raise ValueError(f"order {order!r}: 'links' or 'name'")
    options = _Options(ctypes.sizeof(_Options), ORDERS[order], 1 if strict else 0, once=1 if once else 0,
                       **(policy or {}))
    handle = _run()
    code = _c.qve_run_create(ctypes.byref(options), ctypes.byref(handle))
    if code != 0:
        raise _error(code)
    try:
        for path in [paths] if isinstance(paths, (str, bytes, os.PathLike)) else paths:
            code = _add(handle, _native.path_argument(path))
            if code != 0:
                error = _error(code, handle)
                error.path = os.fsdecode(path)
                raise error
        if checkpoint is not None:
            record = bytes(checkpoint)
            flags = 0 if record else RECORD_INIT
            code = _c.qve_run_set_record(handle, record or None, len(record), flags)
            if code != 0:
                raise _error(code, handle)
    except BaseException:
        _c.qve_run_free(handle)
        raise
    return handle


def _stream(handle):
    """The events until Done, then the handle's end facts stay to be read."""
    while True:
        kind = _c.qve_run_next(handle)
        if kind < 0:
            raise _error(kind)
        if kind == EVENT_BLOCK:
            verdict = _c.qve_run_block_verdict(handle)
            yield Event("Block", _c.qve_run_event_file(handle), block=Block(
                BLOCK_VERDICTS[verdict], _c.qve_run_block_first_line(handle),
                _c.qve_run_block_last_line(handle), _c.qve_run_block_offset(handle),
                _c.qve_run_block_id(handle), _c.qve_run_block_link_matched(handle) == 1))
        elif kind == EVENT_WARNING:
            code = _c.qve_run_warning_code(handle)
            yield Event("Warning", warning=Warning(
                _native.text(_c.qve_result_name(RESULT_OF_WARNING, code)),
                _native.text(_c.qve_run_warning_path(handle)),
                _native.text(_c.qve_run_warning_text(handle)),
                _c.qve_run_warning_unverified(handle) == 1))
        elif kind == EVENT_FILE_START:
            yield Event("FileStart", _c.qve_run_event_file(handle),
                        path=_native.text(_c.qve_run_event_path(handle)))
        elif kind == EVENT_FILE_END:
            yield Event("FileEnd", _c.qve_run_event_file(handle))
        elif kind == EVENT_RESTART:
            yield Event("Restart")
        else:
            yield Event("Done")
            return


def events(paths, *, order="links", strict=False, checkpoint=None):
    """The run's stream of events, one by one, as the library gives them;
    memory stays flat however long the logs. `checkpoint` is a record's
    bytes, or b"" for none yet."""
    handle = _open(paths, order, strict, checkpoint)
    try:
        yield from _stream(handle)
    finally:
        _c.qve_run_free(handle)


def verify(paths, *, order="links", strict=False, checkpoint=None, blocks=True, accept=False,
           stale_after=0, max_unsigned=0):
    """Verifies PATHS (files and folders) as one chain. `checkpoint` is a
    record's bytes (b"" for none yet); the result's `checkpoint` is the new
    record's bytes, or None when the run did not pass (with accept=True,
    whenever it verified a block). blocks=False keeps no block, for huge
    runs. stale_after (days) and max_unsigned (lines) are the policy's, as
    the command's --stale-after and --max-unsigned."""
    handle = _open(paths, order, strict, checkpoint, policy={
        "accept": 1 if accept else 0, "stale_after_days": stale_after,
        "max_unsigned_lines": max_unsigned})
    try:
        files, warnings = [], []
        for event in _stream(handle):
            if event.kind == "Restart":
                files, warnings = [], []
            elif event.kind == "FileStart":
                if event.file == len(files):
                    files.append(File(os.path.basename(event.path), event.path))
                files[event.file].blocks = []
            elif event.kind == "Block" and blocks:
                files[event.file].blocks.append(event.block)
            elif event.kind == "Warning":
                warnings.append(event.warning)
        for index, file in enumerate(files):
            file.name = _native.text(_c.qve_run_file_name(handle, index))
            file.path = _native.text(_c.qve_run_file_path(handle, index))
            file.verdict = FILE_VERDICTS[_c.qve_run_file_verdict(handle, index)]
        length = ctypes.c_size_t()
        record = _c.qve_run_record(handle, ctypes.byref(length))
        files_left, lines_left = ctypes.c_uint32(), ctypes.c_uint32()
        left = _c.qve_run_checkpoint_history_left(handle, ctypes.byref(files_left),
                                                  ctypes.byref(lines_left))
        return Run(_c.qve_run_status(handle), REPORT_RESULTS[_c.qve_run_result(handle)], files,
                   warnings, ctypes.string_at(record, length.value) if record else None,
                   _c.qve_run_longest_block(handle),
                   (files_left.value, lines_left.value) if left else None,
                   _c.qve_run_checkpoint_shrunk(handle) == 1, _c.qve_run_checkpoint_stale(handle) == 1)
    finally:
        _c.qve_run_free(handle)


@dataclass
class Row:
    """A signature line of a log, as qvehelper inspect shows it: its line and
    the lines it covers (None for none), how its block parses ("parsed",
    "empty" or "malformed", with where it stops), its fields, whether its
    link continues the chain ("first block", "matches", "differs") and its
    verdict."""
    line: int
    covers: tuple
    parse: str
    stop: str
    id: int
    text: bytes
    link: bytes
    chain: str
    signature_length: int
    verdict: str


@dataclass
class LogDiagnosis:
    path: str
    rows: list
    lines: int
    signature_lines: int
    first_link: bytes
    last_chain_value: bytes
    unsigned_tail: tuple
    changed_while_read: bool
    read_fault: str


def _bytes(function, *arguments):
    length = ctypes.c_size_t()
    data = function(*arguments, ctypes.byref(length))
    return ctypes.string_at(data, length.value) if data else None


def inspect_log(path):
    """What a signed log holds, as qvehelper inspect shows it: a row per
    signature line, then the file's facts. The file is read once, as it is."""
    handle = _open([path], "name", False, None, once=True)
    try:
        rows = []
        for event in _stream(handle):
            if event.kind != "Block" or event.block.verdict == "BlockUnsigned":
                continue
            parse = _c.qve_run_block_parse(handle)
            covers = (None if _c.qve_run_block_covers_no_line(handle)
                      else (event.block.first_line, event.block.last_line - 1))
            chain = ("first block" if not rows else
                     "matches" if event.block.link_matched else "differs")
            rows.append(Row(event.block.last_line, covers,
                            "parsed" if parse == 0 else "empty" if parse == 1 else "malformed",
                            _native.text(_c.qve_run_block_stop(handle)), event.block.id,
                            _bytes(_c.qve_run_block_text, handle) or b"",
                            _bytes(_c.qve_run_block_link, handle) or b"", chain,
                            _c.qve_run_block_signature_length(handle), event.block.verdict))
        tail = _c.qve_run_file_unsigned_first(handle, 0)
        return LogDiagnosis(
            os.fsdecode(path), rows, _c.qve_run_file_lines(handle, 0),
            _c.qve_run_file_signature_lines(handle, 0),
            _bytes(_c.qve_run_file_first_link, handle, 0),
            _bytes(_c.qve_run_file_last_chain_value, handle, 0),
            (tail, _c.qve_run_file_unsigned_last(handle, 0)) if tail else None,
            _c.qve_run_file_changed_while_read(handle, 0) == 1,
            _native.text(_c.qve_run_file_read_fault(handle, 0)) or None)
    finally:
        _c.qve_run_free(handle)
