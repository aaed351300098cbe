# SPDX-License-Identifier: Apache-2.0
"""The documents' examples, run as they stand there: a console block in a fresh copy of
the samples must print the lines shown under its commands; a python block (over the built
library) and a c block (built against it) must exit 0. A "fragment" block (```c fragment)
and other kinds (sh, cmake, ini, bat) are not run.

  examples_test.py SOURCE_DIR BUILD_DIR DOCUMENT...
"""
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

source, build, documents = sys.argv[1], sys.argv[2], sys.argv[3:]
# Lines that name the machine's OpenSSL, not anything of ours.
machine = re.compile(r"^OpenSSL \d.*$", re.M)


def blocks(path):
    """(kind, words after the kind, first line number, lines) per fenced block."""
    text = open(path, encoding="utf-8").read()
    for m in re.finditer(r"^[ \t]*```(.*)\n((?:.*\n)*?)[ \t]*```[ \t]*$", text, re.M):
        words = m.group(1).split() or [""]
        yield words[0], words[1:], text.count("\n", 0, m.start()) + 1, m.group(2).split("\n")[:-1]


def commands(body):
    """(command, expected output) per '$ ' line, continuations joined."""
    steps = []
    for line in body:
        if line.startswith("$ "):
            steps.append([line[2:], []])
        elif steps and steps[-1][0].endswith("\\") and not steps[-1][1]:
            steps[-1][0] += "\n" + line
        elif steps:
            steps[-1][1].append(line)
    # Every path to the program, as typed in the documents, is the built one.
    return [(re.sub(r"\bbuild/(release|dev)/", "", c), "\n".join(o)) for c, o in steps]


def workspace(top):
    work = tempfile.mkdtemp(dir=top)
    shutil.copytree(os.path.join(source, "examples"), os.path.join(work, "examples"))
    os.mkdir(os.path.join(work, "eleven"))
    for i in range(1, 12):  # System_1.log ... System_11.log, signed in that order
        chain = ["--chain-from", f"eleven/System_{i - 1}.log"] if i > 1 else []
        subprocess.run(["qvehelper-dev", "sign-log", "-n", "1", *chain, "-",
                        f"eleven/System_{i}.log"], cwd=work, check=True, input=f"line {i}\n",
                       text=True)
    return work


def console(top, body):
    """The differences between what the block shows and what its commands print."""
    steps = commands(body)
    script = "".join("{ %s\n} 2>&1; s=$?; printf '\\036\\n'; (exit $s)\n" % c for c, _ in steps)
    printed = subprocess.run(["bash", "-c", script], cwd=workspace(top), capture_output=True,
                             text=True, errors="replace").stdout.split("\x1e\n")
    return [f"$ {c}\n--- shown\n{want}\n--- printed\n{got.rstrip()}"
            for (c, want), got in zip(steps, printed)
            if machine.sub("OpenSSL", want) != machine.sub("OpenSSL", got.rstrip("\n"))]


def program(top, kind, body):
    compile_and_run = (f"cc -std=c11 -Wall -Wextra -Werror -I {shlex.quote(source)}/include -x c - "
                       f"-L {shlex.quote(build)} -lqvehelper -Wl,-rpath,{shlex.quote(build)} -o host"
                       " && ./host")
    run = subprocess.run(["/usr/bin/python3", "-"] if kind == "python" else
                         ["bash", "-c", compile_and_run], input="\n".join(body) + "\n",
                         cwd=workspace(top), text=True, capture_output=True)
    return [] if run.returncode == 0 else [f"exit {run.returncode}\n{run.stdout}{run.stderr}"]


def check(top, kind, words, body):
    if "fragment" in words or kind not in ("console", "python", "c"):
        return None
    return console(top, body) if kind == "console" else program(top, kind, body)


with tempfile.TemporaryDirectory() as top:
    os.environ.update(PATH=build + os.pathsep + os.environ["PATH"], TMPDIR=top, HOME=top,
                      PYTHONPATH=os.path.join(source, "python"),
                      QVEHELPER_LIBRARY=os.path.join(build, "libqvehelper.so.1"))
    # A checker that passes anything proves nothing.
    if not check(top, "console", [], ["$ echo one", "two"]):
        sys.exit("FAIL a console block that prints other lines than it shows passes")
    failed, ran = 0, 0
    for document in documents:
        for kind, words, line, body in blocks(document):
            problems = check(top, kind, words, body)
            ran += problems is not None
            for problem in problems or []:
                failed += 1
                print(f"FAIL {os.path.relpath(document, source)}:{line}: {kind} block\n{problem}\n")
    print(f"{ran} examples run, {failed} failed")
    sys.exit(1 if failed or not ran else 0)
