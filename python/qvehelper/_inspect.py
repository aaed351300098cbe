# SPDX-License-Identifier: Apache-2.0
"""A container's diagnosis (qve_diagnose_container and its accessors) as
plain objects that outlive the library's handle."""
import ctypes
from dataclasses import dataclass
from typing import Any, Callable, Dict, List, Optional, Tuple

from . import _native
from ._codes import DecryptResult
from ._errors import last_error
from ._native import PATH, SUFFIX, PathLike, bytes_out, path_argument


class DiagnoseOptions(ctypes.Structure):
    _fields_ = [("size", ctypes.c_size_t), ("decrypt", ctypes.c_int)]


_HANDLE = ctypes.c_void_p
_SIZE = ctypes.POINTER(ctypes.c_size_t)
_BYTES = ctypes.POINTER(ctypes.c_uint8)
_U64, _I64, _INT, _SZ, _U32, _TEXT = (ctypes.c_uint64, ctypes.c_int64, ctypes.c_int,
                                      ctypes.c_size_t, ctypes.c_uint32, ctypes.c_char_p)
# Each accessor's result type; the record ones also take an index, the byte
# ones a length out.
_FACTS: Dict[str, Any] = {
    "size": _U64, "header_status": _INT, "header_status_name": _TEXT, "header_field": _TEXT,
    "header_record": _U32, "header_offset": _U64, "header_value": _U64, "header_limit": _U64,
    "header_cut": _INT, "header_left": _U64, "header_problem": _TEXT, "version": _I64,
    "recipient_count": _I64, "record_count": _SZ, "payload_length": _U64, "block_size": _SZ,
    "whole_blocks": _INT, "cut_short": _INT, "key_record": _I64, "key_unwraps": _INT,
    "key_crc_matches": _INT, "key_material_length": _SZ, "key_ready": _INT,
    "last_block_padding": _INT, "seal_reached": _INT, "seal_decrypts": _INT,
    "seal_plaintext_length": _U64, "seal_found": _INT, "seal_length": _U32,
    "seal_names_built_in_key": _INT, "seal_signature_length": _SZ, "seal_result": _INT,
    "seal_stop": _TEXT, "seal_stop_offset": _U64, "seal_problem": _TEXT,
}
_RECORD_FACTS: Dict[str, Any] = {"record_offset": _U64, "record_tag": _INT, "record_wrapped_key_length": _SZ,
                 "record_used": _INT}


def _bind() -> Dict[str, Callable[..., Any]]:
    functions: Dict[str, Callable[..., Any]] = {}
    for name, result in _FACTS.items():
        functions[name] = _prototype(name, result, [_HANDLE])
    for name, result in _RECORD_FACTS.items():
        functions[name] = _prototype(name, result, [_HANDLE, ctypes.c_size_t])
    functions["record_key_id"] = _prototype("record_key_id", _BYTES,
                                            [_HANDLE, ctypes.c_size_t, _SIZE])
    functions["iv"] = _prototype("iv", _BYTES, [_HANDLE, _SIZE])
    functions["seal_key_id"] = _prototype("seal_key_id", _BYTES, [_HANDLE, _SIZE])
    functions["cause"] = _prototype("cause", _TEXT, [_HANDLE, ctypes.c_int])
    functions["free"] = _prototype("free", None, [_HANDLE])
    functions["diagnose"] = _native.prototype(
        "qve_diagnose_container" + SUFFIX, ctypes.c_int,
        [PATH, ctypes.POINTER(DiagnoseOptions), ctypes.POINTER(_HANDLE)])
    return functions


def _prototype(fact: str, result: Any, arguments: List[Any]) -> Callable[..., Any]:
    return _native.prototype("qve_diagnosis_" + fact, result, arguments)


_call = _bind()


@dataclass(frozen=True)
class Header:
    """Where reading the header stopped: `status` 0 (complete) or the header
    reader's code 1..7 and its `status_name`; the `field` ("magic", "wrapped
    key"; "" once complete), its `record` (from 1, 0 for none), file
    `offset`, the `value` read, the `limit` or expected value, whether the
    file ends inside it (`cut`) and how many of its bytes are `left`; all of
    it in words (`problem`)."""
    status: int
    status_name: str
    field: str
    record: int
    offset: int
    value: int
    limit: int
    cut: bool
    left: int
    problem: str

    @property
    def complete(self) -> bool:
        return self.status == 0


@dataclass(frozen=True)
class Record:
    """A recipient record, whole or not: `used` is the built-in key's."""
    offset: int
    tag: int
    key_id: bytes
    wrapped_key_length: int
    used: bool


@dataclass(frozen=True)
class SessionKey:
    """The record the built-in key uses (from 0; None when none names it),
    whether its wrapped key unwraps, whether the key block's CRC matches, the
    key material's length and whether the cipher is ready with it."""
    record: Optional[int]
    unwraps: bool
    crc_matches: bool
    material_length: int
    ready: bool


@dataclass(frozen=True)
class Seal:
    """The seal, after one decryption in memory: whether it was `reached`,
    whether the payload `decrypts` to its end, the `plaintext_length`, and
    whether a trailer was `found`; found: its `length`, `key_id`, whether it
    `names_built_in_key`, its `signature_length`; not found: where
    recognising it stopped (`stop`, "NoClosingTag", ..., `stop_offset`, in
    words `problem`). `result` is the name a decryption would give
    ("Success", "BadSignature", ...) and `cause` why, as qvehelper decrypt
    prints it ("" for Success)."""
    reached: bool
    decrypts: bool
    plaintext_length: int
    found: bool
    length: int
    key_id: bytes
    names_built_in_key: bool
    signature_length: int
    result: DecryptResult
    cause: str
    stop: str
    stop_offset: int
    problem: str


@dataclass(frozen=True)
class Diagnosis:
    """What a decryption makes of a container, step by step. `version` and
    `recipient_count` are None where the file ends before them; the payload
    facts and `key` hold once `header.complete`; `last_block_padding` is None
    where not looked at; `seal` is None unless asked for."""
    path: str
    size: int
    header: Header
    version: Optional[int]
    recipient_count: Optional[int]
    records: Tuple[Record, ...]
    iv: bytes
    payload_length: int
    block_size: int
    whole_blocks: bool
    cut_short: bool
    key: SessionKey
    last_block_padding: Optional[bool]
    seal: Optional[Seal]


def _facts(handle: Any, path: str, seal: bool) -> Diagnosis:
    fact = {name: _call[name](handle) for name in _FACTS}
    for name, value in fact.items():
        if _FACTS[name] is _TEXT:
            fact[name] = _native.text(value)
    records = []
    for index in range(fact["record_count"]):
        key_id = bytes_out(_call["record_key_id"], handle, index) or b""
        records.append(Record(offset=_call["record_offset"](handle, index),
                              tag=_call["record_tag"](handle, index), key_id=key_id,
                              wrapped_key_length=_call["record_wrapped_key_length"](handle, index),
                              used=_call["record_used"](handle, index) == 1))
    iv = bytes_out(_call["iv"], handle) or b""
    header = Header(**{name: fact["header_" + name] for name in (
        "status", "status_name", "field", "record", "offset", "value", "limit", "left",
        "problem")}, cut=fact["header_cut"] == 1)
    key = SessionKey(record=fact["key_record"] if fact["key_record"] >= 0 else None,
                     unwraps=fact["key_unwraps"] == 1, crc_matches=fact["key_crc_matches"] == 1,
                     material_length=fact["key_material_length"], ready=fact["key_ready"] == 1)
    padding = fact["last_block_padding"]
    return Diagnosis(
        path=path, size=fact["size"], header=header,
        version=fact["version"] if fact["version"] >= 0 else None,
        recipient_count=fact["recipient_count"] if fact["recipient_count"] >= 0 else None,
        records=tuple(records), iv=iv, payload_length=fact["payload_length"],
        block_size=fact["block_size"], whole_blocks=fact["whole_blocks"] == 1,
        cut_short=fact["cut_short"] == 1, key=key,
        last_block_padding=padding == 1 if padding >= 0 else None,
        seal=_seal(handle, fact) if seal else None)


def _seal(handle: Any, fact: Dict[str, Any]) -> Seal:
    key_id = bytes_out(_call["seal_key_id"], handle) or b""
    result = fact["seal_result"]
    return Seal(reached=fact["seal_reached"] == 1, decrypts=fact["seal_decrypts"] == 1,
                plaintext_length=fact["seal_plaintext_length"], found=fact["seal_found"] == 1,
                length=fact["seal_length"], key_id=key_id,
                names_built_in_key=fact["seal_names_built_in_key"] == 1,
                signature_length=fact["seal_signature_length"],
                result=DecryptResult.of(result),
                cause=_native.text(_call["cause"](handle, result)), stop=fact["seal_stop"],
                stop_offset=fact["seal_stop_offset"], problem=fact["seal_problem"])


def inspect(path: PathLike, *, seal: bool = True) -> Diagnosis:
    """The diagnosis of the file PATH as a container (any file: one that is
    no container stops at its magic), as qvehelper inspect shows it; with
    seal (the default) the payload is also decrypted once in memory and the
    seal checked. Nothing is written anywhere. A file that does not exist or
    cannot be read, a FIFO, device or folder raise InputError (also
    FileNotFoundError, PermissionError, IsADirectoryError with errno)."""
    options = DiagnoseOptions(size=ctypes.sizeof(DiagnoseOptions), decrypt=1 if seal else 0)
    handle = _HANDLE()
    code = _call["diagnose"](path_argument(path), ctypes.byref(options), ctypes.byref(handle))
    try:
        if code < 0:
            raise last_error(code)
        return _facts(handle, _native.shown(path), seal)
    finally:
        _call["free"](handle)
