#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""The host example in Python: decrypts a container with progress, checks it
again without keeping any plaintext, prints what a diagnosis finds in it and
the library's version.

    decrypt.py CONTAINER OUTPUT

Exits 0 when the container decrypts with a good seal, 1 for any other result
(OUTPUT is then left as it was), 2 for an error the library raises."""
import sys

import qvehelper


def progress(done: int, total: int, step: qvehelper.Step) -> bool:
    print(f"{step}: {done} of {total} bytes", file=sys.stderr)
    return True  # False stops the work: the result "Cancelled"


def main(container: str, output: str) -> int:
    print("QVEHelper", qvehelper.library_version(), "with", qvehelper.crypto_library_version())
    try:
        diagnosis = qvehelper.inspect(container)
        checked = qvehelper.check(container)
        decrypted = qvehelper.decrypt(container, output, progress=progress, workers=1)
    except qvehelper.DecryptionError as failed:
        print(f"decrypt: {failed.result}: {failed.message}", file=sys.stderr)
        return 1
    except qvehelper.QveError as error:
        print(f"{error.name} ({error.code}): {error.message}", file=sys.stderr)
        return 2
    print("decrypt:", decrypted, "check:", checked)
    print(f"{diagnosis.size} bytes, header {diagnosis.header.status_name}")
    for number, record in enumerate(diagnosis.records, 1):
        used = " (used)" if record.used else ""
        print(f"record {number}: key {record.key_id.hex()}{used}")
    seal = diagnosis.seal
    if seal is not None:
        print(f"seal: {seal.result}" + (f": {seal.cause}" if seal.cause else ""))
    return 0 if decrypted == checked == qvehelper.DecryptResult.SUCCESS else 1


if __name__ == "__main__":
    if len(sys.argv) != 3:
        print(f"usage: {sys.argv[0]} CONTAINER OUTPUT", file=sys.stderr)
        sys.exit(2)
    sys.exit(main(*sys.argv[1:]))
