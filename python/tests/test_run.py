# SPDX-License-Identifier: Apache-2.0
"""verify() and events() against the built library, on logs signed by the
writer tool qvehelper-dev (QVE_DEV_TOOL)."""
import os
import subprocess

import pytest

import qvehelper

TOOL = os.environ.get("QVE_DEV_TOOL")
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


@pytest.mark.parametrize("change, status, result, verdicts", [
    (None, 0, "ReportOk", ["FileOk", "FileOk"]),
    (tamper, 2, "ReportSomeInvalid", ["FileOk", "FileInvalid"]),
])
def test_a_chain_is_verified(chain, change, status, result, verdicts):
    if change:
        change(chain / "system.log")
    run = qvehelper.verify(chain)
    assert (run.exit_status, run.result) == (status, result)
    names = ["System_1.log", "system.log"]
    assert [(f.name, f.verdict) for f in run.files] == list(zip(names, verdicts))
    assert [(b.first_line, b.last_line) for b in run.files[0].blocks] == [(1, 3)]
    assert run.files[1].blocks[0].verdict == ("BlockOk" if not change else "BlockInvalid")


def test_the_stream_comes_in_order_and_blocks_can_be_left_out(chain):
    paths = [chain / "System_1.log", chain / "system.log"]
    kinds = [event.kind for event in qvehelper.events(paths)]
    assert kinds == ["FileStart", "Block", "FileEnd"] * 2 + ["Done"]
    assert all(not f.blocks for f in qvehelper.verify(chain, blocks=False).files)


def test_a_record_made_then_cut_away(chain):
    record = qvehelper.verify(chain, checkpoint=b"").checkpoint
    assert record and b"qvehelper checkpoint" in record
    assert qvehelper.verify(chain, checkpoint=record).exit_status == 0
    (chain / "system.log").unlink()
    cut = qvehelper.verify(chain, checkpoint=record)
    assert (cut.exit_status, cut.checkpoint) == (4, None)


@pytest.mark.parametrize("paths, checkpoint, name", [
    ("missing", None, "NotFound"),
    (".", b"{}", "RecordDamaged"),
])
def test_errors_carry_their_code(chain, paths, checkpoint, name):
    with pytest.raises(qvehelper.QveError) as raised:
        qvehelper.verify(chain / paths, checkpoint=checkpoint)
    assert raised.value.name == name and raised.value.code < 0
    assert raised.value.reason, "the run says why"


def test_inspect_log_shows_each_signature_line(chain):
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
