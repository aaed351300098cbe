# SPDX-License-Identifier: Apache-2.0
"""verify() and events() against the built library, on logs signed by the
writer tool qvehelper-dev (QVE_DEV_TOOL)."""
import json
import os
import subprocess
from concurrent.futures import ProcessPoolExecutor
from dataclasses import replace

import pytest

import qvehelper

TOOL = os.environ.get("QVE_DEV_TOOL")
COMMAND = os.environ.get("QVE_CLI")
pytestmark = pytest.mark.skipif(not TOOL, reason="QVE_DEV_TOOL names no writer tool")


def sign(folder, name, lines, after=None):
    plain = folder / (name + ".txt")
    plain.write_text("".join(f"{line}\n" for line in lines))
    command = [TOOL, "sign-log", "-n", "2", str(plain), str(folder / name)]
    if after:
        command += ["--chain-from", str(folder / after)]
    subprocess.run(command, check=True, capture_output=True)
    plain.unlink()


@pytest.fixture
def chain(tmp_path):
    sign(tmp_path, "System_1.log", ["one", "two"])
    sign(tmp_path, "system.log", ["three", "four"], after="System_1.log")
    return tmp_path


def tamper(path):
    path.write_bytes(path.read_bytes().replace(b"three", b"THREE"))


def test_a_chain_is_verified(chain):
    run = qvehelper.verify(chain)
    assert (run.exit_status, run.result, run.status) == (0, "ReportOk", "ReportOk")
    assert [(f.name, f.verdict) for f in run.files] == [("System_1.log", "FileOk"),
                                                        ("system.log", "FileOk")]
    assert [(b.first_line, b.last_line, b.verdict) for b in run.files[0].blocks] == [
        (1, 3, "BlockOk")]


def test_the_stream_comes_in_order_and_blocks_can_be_left_out(chain):
    paths = [chain / "System_1.log", chain / "system.log"]
    kinds = [event.kind for event in qvehelper.events(paths)]
    assert kinds == ["FileStart", "Block", "FileEnd"] * 2 + ["Done"]
    assert all(not f.blocks for f in qvehelper.verify(chain, blocks=False).files)


def unlink(folder):
    (folder / "system.log").unlink()


# A rolled-back chain: its newest file removed.
@pytest.mark.parametrize("change, status, outcome", [(None, 0, "extended"), (unlink, 4, "lost")],
                         ids=["extended", "newest removed"])
def test_a_run_held_to_its_record(chain, change, status, outcome):
    first = qvehelper.verify(chain, init=True)
    assert first.checkpoint_outcome.status == "new" and b"qvehelper checkpoint" in first.checkpoint
    if change:
        change(chain)
    with qvehelper.events(chain, checkpoint=first.checkpoint, workers=2) as stream:
        seen = list(stream)
    run = seen[-1].run
    assert (seen[-1].kind, run.exit_status, run.status.code) == ("Done", status, status)
    assert run.checkpoint_outcome.status == outcome and (run.checkpoint is None) == bool(status)
    assert all(e.verdict in ("FileOk", "FileInvalid") for e in seen if e.kind == "FileEnd")
    assert untimed(run) == untimed(qvehelper.verify(chain, checkpoint=first.checkpoint, blocks=False))


def untimed(run):
    """The run without the clock's reading: two runs may fall in different seconds."""
    now = run.checkpoint_outcome.now and replace(run.checkpoint_outcome.now, time="", grew="")
    return replace(run, checkpoint=None, checkpoint_outcome=replace(run.checkpoint_outcome, now=now))


@pytest.mark.parametrize("paths, checkpoint, kind, name", [
    ("missing", None, FileNotFoundError, "NotFound"),
    ("missing", b"{}", qvehelper.RecordError, "RecordDamaged"),
    (".", b"", qvehelper.RecordError, "RecordDamaged"),
], ids=["missing", "missing with record", "empty record"])
def test_errors_carry_their_code(chain, paths, checkpoint, kind, name):
    with pytest.raises(kind) as raised:
        qvehelper.verify(chain / paths, checkpoint=checkpoint)
    assert raised.value.name == name and raised.value.code < 0
    assert raised.value.reason, "the run says why"


def verify_or_error(path):
    try:
        return qvehelper.verify(path)
    except qvehelper.QveError as error:
        return error


def test_a_pool_of_processes_loses_no_device(chain):
    with ProcessPoolExecutor(2) as pool:
        kept = list(pool.map(verify_or_error, [chain] * 3 + [chain / "gone"]))
    assert kept[:3] == [qvehelper.verify(chain)] * 3
    assert isinstance(kept[3], FileNotFoundError)
    assert (kept[3].code, kept[3].path) == (-5, str(chain / "gone"))


@pytest.mark.skipif(not COMMAND, reason="QVE_CLI names no command")
@pytest.mark.parametrize("strict, change", [(False, None), (True, tamper)],
                         ids=["plain", "strict tampered"])
def test_the_run_is_the_command_s_json(chain, strict, change, tmp_path_factory):
    (chain / "System_1.log").write_bytes((chain / "System_1.log").read_bytes() + b"tail\n")
    if change:
        change(chain / "system.log")
    record = tmp_path_factory.mktemp("record") / "record"
    command = [COMMAND, "verify", "--json", "--details", "--include-ok", "--checkpoint-init",
               "--checkpoint", str(record)] + (["--strict"] if strict else [])
    printed = json.loads(subprocess.run(command + [str(chain)], capture_output=True).stdout)
    run = qvehelper.verify(chain, init=True, strict=strict)
    assert run.to_dict() == dict(printed, checkpoint=dict(
        printed["checkpoint"], file=None, readOnly=False, now=run.to_dict()["checkpoint"]["now"]))
    assert run.files[0].unsigned_lines == (4, 4) and run.files[0].block_count == 2


def test_inspect_log_shows_each_signature_line(chain):
    with pytest.raises(IsADirectoryError):
        qvehelper.inspect_log(chain)
    text = (chain / "system.log").read_bytes()
    (chain / "system.log").write_bytes(text.replace(b"three", b"THREE") + b"tail\n")
    log = qvehelper.inspect_log(chain / "system.log")
    assert [(row.line, row.covers, row.chain, row.verdict) for row in log.rows] == [
        (3, (1, 2), "first block", "BlockInvalid")]
    assert log.rows[0].parse == "parsed" and len(log.rows[0].link) == 32
    assert (log.lines, log.signature_lines, log.unsigned_tail) == (4, 1, (4, 4))
    first = qvehelper.inspect_log(chain / "System_1.log")
    assert log.first_link == first.last_chain_value
    assert (log.changed_while_read, log.read_fault) == (False, None)
    sign(chain, "two_blocks.log", ["a", "b", "c", "d"])
    rows = qvehelper.inspect_log(chain / "two_blocks.log").rows
    assert [row.chain for row in rows] == ["first block", "matches"]
