# SPDX-License-Identifier: Apache-2.0
"""decrypt, check and inspect against the built library, on the sample
container and on copies of it damaged byte by byte: the results, the files
left behind, progress and stopping, errors and the diagnosis's facts."""
import copy
import errno
import os
import pickle
import sys

import pytest

import qvehelper
from qvehelper import DecryptResult

FACTS = ("code", "name", "message", "path", "reason", "errno", "args")

EXAMPLES = os.path.join(os.path.dirname(__file__), "../../examples")
with open(os.path.join(EXAMPLES, "sample.qves"), "rb") as sample_file:
    SAMPLE = sample_file.read()
with open(os.path.join(EXAMPLES, "sample.txt"), "rb") as plaintext_file:
    PLAINTEXT = plaintext_file.read()

# The sample's layout: one recipient record at 7 (tag, u16 identifier length,
# identifier, u16 wrapped key length, wrapped key), then the IV and the payload.
RECORD = 7
KEY_ID_LENGTH = int.from_bytes(SAMPLE[RECORD + 1:RECORD + 3], "little")
WRAPPED_KEY = RECORD + 5 + KEY_ID_LENGTH
IV = WRAPPED_KEY + int.from_bytes(SAMPLE[WRAPPED_KEY - 2:WRAPPED_KEY], "little")
PAYLOAD = IV + 16


def flipped(offset):
    return SAMPLE[:offset] + bytes([SAMPLE[offset] ^ 0x01]) + SAMPLE[offset + 1:]


DAMAGED = {
    "intact": SAMPLE,
    "magic": flipped(1),
    "wrapped key": flipped(WRAPPED_KEY + 100),
    # Early plaintext garbled, the seal trailer at the end intact.
    "payload": flipped(PAYLOAD + 64),
    "last block gone": SAMPLE[:-16],
}


@pytest.fixture
def container(request, tmp_path):
    path = tmp_path / "in.qves"
    path.write_bytes(DAMAGED[request.param])
    return path


@pytest.mark.parametrize("container, result", [("intact", "Success"), ("payload", "BadSignature")],
                         indirect=["container"])
@pytest.mark.parametrize("existing, workers", [(None, 0), (b"kept", 2)])
def test_results_and_files_left(container, result, existing, workers, tmp_path):
    output = tmp_path / "out.txt"
    if existing is not None:
        output.write_bytes(existing)
    try:
        assert qvehelper.decrypt(container, output, workers=workers) == result == "Success"
    except qvehelper.DecryptionError as error:
        assert (error.result, error.code) == (result, DecryptResult(result).code) and error.message
    assert qvehelper.check(str(container), workers=workers) == result
    assert qvehelper.check(tmp_path) == {str(container): result}
    left = PLAINTEXT if result == "Success" else existing
    assert (output.read_bytes() if output.exists() else None) == left
    # No temporary file remains beside the output.
    assert sorted(os.listdir(tmp_path)) == ["in.qves"] + (["out.txt"] if left else [])


def decrypt_to(tmp_path):
    return lambda path, progress: qvehelper.decrypt(path, tmp_path / "out.txt", progress=progress)


def check_with(tmp_path):
    return lambda path, progress: qvehelper.check(os.fsencode(path), progress=progress)


@pytest.mark.parametrize("container", ["intact"], indirect=True)
@pytest.mark.parametrize("call, steps", [(decrypt_to, 2), (check_with, 1)],
                         ids=["decrypt", "check"])
@pytest.mark.parametrize("stop_at", [0, -1])
@pytest.mark.parametrize("stop", [False, 0, "raise"], ids=["False", "0", "raise"])
def test_progress_counts_each_step_and_stops_the_work(container, call, steps, stop_at, stop,
                                                      tmp_path):
    runs = {}
    assert call(tmp_path)(container, lambda *told: runs.setdefault(told[2], []).append(told[:2]))
    assert list(runs) == list(qvehelper.Step)[:steps]
    assert runs[qvehelper.Step.DECRYPTING][0] == (0, len(SAMPLE))
    for run in runs.values():
        assert [done for done, _ in run] == sorted(done for done, _ in run)
        assert run[-1][0] == run[-1][1] > 0
    stop_call = stop_at % sum(len(run) for run in runs.values())
    calls = []

    def progress(done, total):
        calls.append(done)
        if len(calls) - 1 != stop_call:
            return True
        if stop == "raise":
            raise KeyboardInterrupt
        return stop

    (tmp_path / "out.txt").unlink(missing_ok=True)
    try:
        assert call(tmp_path)(container, progress) == "Cancelled" and stop != "raise"
    except KeyboardInterrupt:
        assert stop == "raise"
    assert len(calls) == stop_call + 1
    assert os.listdir(tmp_path) == ["in.qves"]


@pytest.mark.parametrize("container", ["intact"], indirect=True)
@pytest.mark.parametrize("make, code, path, kind", [
    (lambda t, g: qvehelper.decrypt(g, t / "none" / "out"), -21, "none", qvehelper.OutputError),
    # A Linux name's bytes that are no UTF-8 come back as they were given.
    pytest.param(lambda t, g: qvehelper.decrypt(g, t / "n\udcfe" / "out"), -21, "n\udcfe",
                 qvehelper.OutputError, marks=pytest.mark.skipif(sys.platform == "win32",
                                                                  reason="bytes")),
    (lambda t, g: qvehelper.decrypt(g, g), -22, "in.qves", qvehelper.OutputError),
    (lambda t, g: qvehelper.check(_fifo(t)), -8, None, qvehelper.InputError),
    (lambda t, g: qvehelper.inspect(t / "missing.qves"), -5, "missing.qves", FileNotFoundError),
    (lambda t, g: qvehelper.inspect(t), -8, "", IsADirectoryError),
    (lambda t, g: qvehelper.decrypt(t / "missing.qves", t / "o"), 2, "missing.qves",
     FileNotFoundError),
    (lambda t, g: qvehelper.find_containers(t / "missing"), -5, "missing", FileNotFoundError),
], ids=["no folder", "no folder, bytes", "same file", "fifo", "missing", "folder",
        "decrypt missing", "find in missing"])
def test_errors_carry_their_code(container, make, code, path, kind, tmp_path):
    with pytest.raises(kind) as raised:
        make(tmp_path, container)
    error = raised.value
    assert isinstance(error, qvehelper.QveError) and error.code == code
    if path is not None:
        assert error.path == str(tmp_path / path).rstrip("/")
    if isinstance(error, OSError) and kind is not OSError:
        assert error.errno == {FileNotFoundError: errno.ENOENT,
                               IsADirectoryError: errno.EISDIR}.get(kind, error.errno)
    # A pool that gives the error back to another process loses nothing.
    for again in (pickle.loads(pickle.dumps(error)), copy.copy(error)):
        assert type(again) is type(error) and str(again) == str(error)
        assert [getattr(again, n, None) for n in FACTS] == [getattr(error, n, None) for n in FACTS]
    assert container.read_bytes() == SAMPLE
    assert sorted(os.listdir(tmp_path)) in (["in.qves"], ["fifo", "in.qves"])


def _fifo(tmp_path):
    os.mkfifo(tmp_path / "fifo")
    return tmp_path / "fifo"


@pytest.mark.parametrize("container, facts", [
    ("intact", {"header.complete": True, "version": 1, "recipient_count": 1,
                "records.0.offset": RECORD, "records.0.used": True,
                "records.0.key_id": b"\x0a\0\0\0", "iv": SAMPLE[IV:PAYLOAD],
                "payload_length": len(SAMPLE) - PAYLOAD, "block_size": 16, "whole_blocks": True,
                "cut_short": False, "key.record": 0, "key.ready": True,
                "last_block_padding": True, "seal.found": True, "seal.key_id": b"\x0b\0\0\0",
                "seal.names_built_in_key": True, "seal.result": "Success", "seal.cause": ""}),
    ("magic", {"header.complete": False, "header.field": "magic", "header.offset": 0,
               "records": (), "seal.reached": False, "seal.result": "HeaderInvalid"}),
    ("wrapped key", {"header.complete": True, "key.record": 0, "key.ready": False,
                     "last_block_padding": None, "seal.reached": False,
                     "seal.result": "SessionKeyUnavailable"}),
    ("last block gone", {"whole_blocks": True, "cut_short": False, "last_block_padding": False,
                         "seal.found": False, "seal.result": "NoSeal"}),
], indirect=["container"], ids=["intact", "magic", "wrapped key", "last block gone"])
def test_the_diagnosis(container, facts):
    diagnosis, unsealed = qvehelper.inspect(container), qvehelper.inspect(container, seal=False)
    assert diagnosis.path == str(container) and diagnosis.size == len(container.read_bytes())
    assert unsealed.seal is None
    assert (unsealed.key, unsealed.header) == (diagnosis.key, diagnosis.header)
    if diagnosis.seal.found:
        assert diagnosis.seal.plaintext_length == len(PLAINTEXT) + diagnosis.seal.length
    for name, value in facts.items():
        fact = diagnosis
        for part in name.split("."):
            fact = fact[int(part)] if part.isdigit() else getattr(fact, part)
        assert fact == value, name
