# SPDX-License-Identifier: Apache-2.0
"""The package against the built library: what the build is, and the names
of its codes."""
import hashlib
import os
import pickle
import subprocess

import pytest

import qvehelper
from qvehelper import _native


KEYS = os.environ.get("QVE_DEV_KEY_DIR", os.path.join(os.path.dirname(__file__), "../../keys/dev"))


def public_der(pem, private):
    """The DER SubjectPublicKeyInfo of a PEM key, as openssl gives it."""
    command = ["openssl", "pkey", "-in", pem, "-outform", "DER"]
    command += ["-pubout"] if private else ["-pubin"]
    return subprocess.run(command, check=True, capture_output=True).stdout


def test_the_package_is_the_library_s_version():
    assert qvehelper.__version__ == qvehelper.library_version()
    major, minor, patch = (int(part) for part in qvehelper.__version__.split("."))
    assert qvehelper.library_version_number() == major * 10000 + minor * 100 + patch
    assert qvehelper.library_has("run-policy") and not qvehelper.library_has("no-such")
    assert qvehelper.crypto_library_version().startswith("OpenSSL ")
    # A library without a name the package calls fails the import, not a use.
    with pytest.raises(ImportError):
        _native.prototype("qve_run_work_wait_of_no_version", None, [])


@pytest.mark.parametrize("key, number, pem, private", [
    ("decryption", 10, "decryption-private.pem", True),
    ("verification", 11, "verification-public.pem", False),
], ids=["decryption", "verification"])
def test_the_built_in_keys(key, number, pem, private):
    identifier, fingerprint = qvehelper.key_identity(key)
    assert identifier == number.to_bytes(4, "little")
    assert fingerprint == hashlib.sha256(public_der(os.path.join(KEYS, pem), private)).digest()
    assert qvehelper.development_keys()
    with pytest.raises(ValueError):
        qvehelper.key_identity("signing")


@pytest.mark.parametrize("member, name, code, of", [
    (qvehelper.DecryptResult.SUCCESS, "Success", 0, _native.RESULT_OF_DECRYPTION),
    (qvehelper.RunStatus.CHECKPOINT_LOST, "CheckpointLost", 4, _native.RESULT_OF_RUN),
    (qvehelper.ReportResult.REPORT_SOME_INVALID, "ReportSomeInvalid", 2, _native.RESULT_OF_RUN),
    (qvehelper.WarningCode.KEPT_CHANGING, "KeptChanging", 13, _native.RESULT_OF_WARNING),
    (qvehelper.StrictReason.UNVERIFIED, "Unverified", 7, _native.RESULT_OF_STRICT),
], ids=["decrypt", "run", "report", "warning", "strict"])
def test_results_are_the_library_s_names(member, name, code, of):
    # As 1.0's strings compare and print, with the number beside.
    assert (member, f"{member}", str(member), member.code) == (name, name, name, code)
    assert qvehelper.result_name(code, of) == name and type(member).of(code) is member
    assert pickle.loads(pickle.dumps(member)) is member
    assert qvehelper.result_name(99, of) == "Unknown"
