# SPDX-License-Identifier: Apache-2.0
"""The package against the built library: what the build is, and the names
of its codes."""
import pickle

import pytest

import qvehelper
from qvehelper import _native


def test_the_package_is_the_library_s_version():
    assert qvehelper.__version__ == qvehelper.library_version()
    major, minor, patch = (int(part) for part in qvehelper.__version__.split("."))
    assert qvehelper.library_version_number() == major * 10000 + minor * 100 + patch
    assert qvehelper.library_has("run-policy") and not qvehelper.library_has("no-such")
    assert qvehelper.crypto_library_version().startswith("OpenSSL ")
    # A library without a name the package calls fails the import, not a use.
    with pytest.raises(ImportError):
        _native.prototype("qve_run_work_wait_of_no_version", None, [])


# The fingerprints themselves are the C interface's tests'.
@pytest.mark.parametrize("key, number", [("decryption", 10), ("verification", 11)])
def test_the_built_in_keys(key, number):
    identifier, fingerprint = qvehelper.key_identity(key)
    assert identifier == number.to_bytes(4, "little")
    assert (type(fingerprint), len(fingerprint)) == (bytes, 32)
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
