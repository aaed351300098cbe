# SPDX-License-Identifier: Apache-2.0
"""QVEHelper for Python: decrypts QVES containers and verifies signed system
logs, as the qvehelper command does, through the installed library
(libqvehelper.so.1, or QVEHelper.dll on Windows; the environment variable
QVEHELPER_LIBRARY names another file). Pure Python over the library's C
interface (ctypes): no compiler is needed. docs/python.md is the full guide.

Containers
    decrypt(input, output, *, progress=None, workers=0) -> DecryptResult
        Decrypts with the command's safe output: OUTPUT is replaced only on
        SUCCESS. Returns SUCCESS, or CANCELLED when progress stopped it;
        raises DecryptionError for any other result (`result`, and the
        library's cause as `message`).
    check(path, *, progress=None, workers=0)
        The result decrypt would give (returned, not raised), keeping no
        plaintext anywhere; a folder gives {path: result} for every
        container below it.
    find_containers(folder) -> Containers
        The containers `qvehelper check` finds below a folder, and what the
        walk passed over.
    inspect(path, *, seal=True) -> Diagnosis
        What `qvehelper inspect --seal` finds in a container.

Logs
    verify(paths, *, order="links", strict=False, checkpoint=None,
           init=False, blocks=True, workers=0) -> Run
        Verifies files and folders as one chain. The Run holds every fact of
        `qvehelper verify --json --details --include-ok`; Run.to_dict() is
        that object. checkpoint=RECORD holds the run to a record's bytes;
        init=True asks for a first record; Run.checkpoint is the new record
        to store (None when the run did not pass).
    events(paths, ...) -> Events
        The same run as a stream of Event objects (an iterator and a context
        manager); the last, "Done", carries the finished Run as `.run`.
    inspect_log(path) -> LogDiagnosis
        What `qvehelper inspect` finds in one signed log.

Results
    DecryptResult, RunStatus, ReportResult, FileVerdict, BlockVerdict,
    WarningCode, StrictReason, CheckpointStatus, Step and EventKind are
    enumerations whose members are str, equal to the library's names
    (DecryptResult.SUCCESS == "Success") and carry the number as `.code`.
    Run.status is the chain's status (what the command exits with) and
    Run.exit_status its number; Run.result is the report's own result.

Progress
    progress(done, total, step) is called on the calling thread with the
    bytes done of `total` (0 when unknown) in each Step: DECRYPTING, then
    CHECKING_SEAL for decrypt; `done` never goes back within a step. A
    callback that takes two arguments, progress(done, total), is called so.
    Returning None or anything true goes on; False (any false value but
    None) stops the work and the call gives CANCELLED. This is the opposite
    of the C callback, where 0 goes on and anything else stops. An exception
    raised in progress stops the work too and comes out of the call once the
    library has cleaned up.

Threads
    workers=N lends N Python threads to one call (a run's block checks, a
    decryption's seal digest); ctypes lets go of the GIL in every library
    call, so they work in parallel. The results are the same for any N.
    Calls on different files may run on different threads at once.

Errors
    Every error is a QveError with `code` (the library's QVE_ERROR_*),
    `name`, `message` (the library's words), `path` and `reason` (the
    system's words), and pickles and copies with all of them (a
    ProcessPoolExecutor gives it back whole). Families: InputError (a path
    that cannot be used), OutputError, RecordError (a checkpoint record
    refused), DecryptionError, CancelledError, CryptoError, MisuseError. A
    file that is missing, forbidden or a folder is also FileNotFoundError,
    PermissionError or IsADirectoryError with `errno`.

Paths are str, bytes or path objects; paths given back are str (a Linux
name's bytes that are no UTF-8 kept as surrogates, as os.fsdecode does).
"""
import ctypes
from typing import Tuple

from . import _native
from ._codes import (BlockVerdict, CheckpointStatus, Code, DecryptResult, EventKind,
                     FileVerdict, ReportResult, RunStatus, Step, StrictReason, WarningCode)
from ._decrypt import Containers, PassedOver, check, decrypt, find_containers
from ._errors import (CancelledError, CryptoError, DecryptionError, InputError, MisuseError,
                      OutputError, QveError, RecordError, error_for)
from ._inspect import Diagnosis, Header, Record, Seal, SessionKey, inspect
from ._run import (Block, CheckpointOutcome, Event, Events, File, LogDiagnosis, Point, Policy,
                   Row, Run, Strict, Warning, events, inspect_log, verify)

__version__ = "1.1.0"

__all__ = [
    "__version__", "library_version", "library_version_number", "library_has",
    "crypto_library_version", "development_keys",
    "key_identity", "result_name",
    "decrypt", "check", "find_containers", "inspect", "verify", "events", "inspect_log",
    "QveError", "InputError", "OutputError", "RecordError", "DecryptionError", "CancelledError",
    "CryptoError", "MisuseError",
    "Code", "DecryptResult", "RunStatus", "ReportResult", "FileVerdict", "BlockVerdict",
    "WarningCode", "StrictReason", "CheckpointStatus", "Step", "EventKind",
    "Containers", "PassedOver", "Diagnosis", "Header", "Record", "Seal", "SessionKey",
    "Run", "File", "Block", "Warning", "Strict", "Point", "CheckpointOutcome", "Policy", "Event",
    "Events", "LogDiagnosis", "Row",
]

RESULT_OF_RUN = _native.RESULT_OF_RUN
RESULT_OF_DECRYPTION = _native.RESULT_OF_DECRYPTION

_version = _native.prototype("qve_version", ctypes.c_char_p, [])
_crypto_version = _native.prototype("qve_crypto_library_version", ctypes.c_char_p, [])
_version_number = _native.prototype("qve_version_number", ctypes.c_int, [])
_has = _native.prototype("qve_has", ctypes.c_int, [ctypes.c_char_p])
_development_keys = _native.prototype("qve_development_keys", ctypes.c_int, [])
_key_identity = _native.prototype(
    "qve_key_identity", ctypes.c_int,
    [ctypes.c_int, ctypes.POINTER(ctypes.c_uint8), ctypes.POINTER(ctypes.c_uint8)])


def result_name(code: int, of: int = _native.RESULT_OF_RUN) -> str:
    """The name of a code: a run's status ("ReportOk" ... "Incomplete"), with
    of=RESULT_OF_DECRYPTION a decryption's result ("Success" ...), and every
    error's ("Misuse", ...)."""
    return _native.result_name(of, code)


def library_version() -> str:
    """The loaded library's version, "1.1.0"."""
    return _native.text(_version())


def library_version_number() -> int:
    """The loaded library's version as a number, MAJOR * 10000 + MINOR * 100 +
    PATCH: 10100 for "1.1.0"."""
    return int(_version_number())


def library_has(feature: str) -> bool:
    """Whether the loaded library has a feature named as qvehelper(3) names
    them ("run-work-wait", "last-error", "run-policy")."""
    return bool(_has(feature.encode()))


def crypto_library_version() -> str:
    """The OpenSSL the library runs with."""
    return _native.text(_crypto_version())


def development_keys() -> bool:
    """True when the built-in keys are the public development set (insecure)."""
    return bool(_development_keys() != 0)


def key_identity(key: str) -> Tuple[bytes, bytes]:
    """(key identifier bytes, SHA-256 of the public key) of the built-in key
    "decryption" or "verification"."""
    number = {"decryption": _native.KEY_DECRYPTION,
              "verification": _native.KEY_VERIFICATION}.get(key)
    if number is None:
        raise ValueError(f"no built-in key {key!r}: 'decryption' or 'verification'")
    identifier = (ctypes.c_uint8 * 4)()
    fingerprint = (ctypes.c_uint8 * 32)()
    code = _key_identity(number, identifier, fingerprint)
    if code != 0:
        raise error_for(code)
    return bytes(identifier), bytes(fingerprint)
