# SPDX-License-Identifier: Apache-2.0
"""The documents' examples, run as they stand there.

A console block's commands run in a fresh copy of the bundled samples and
must print the lines shown under them; a python block runs over the built
library and a c block is built against it, and both must exit 0. A block
whose fence says "fragment" (```c fragment) is an excerpt and is not run;
other kinds (sh, cmake, ini, bat) are recipes for other machines.

  examples_test.py SOURCE_DIR BUILD_DIR DOCUMENT...
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

source, build, documents = sys.argv[1], sys.argv[2], sys.argv[3:]
# Lines that name the machine's OpenSSL, not anything of ours.
machine = re.compile(r"^OpenSSL \d.*$", re.M)


def blocks(path):
    """(kind, words after the kind, first line number, lines) per fenced block."""
    lines, found, fence = open(path, encoding="utf-8").read().split("\n"), [], None
    for number, line in enumerate(lines, 1):
        stripped = line.strip()
        if fence is None and stripped.startswith("```"):
            words = stripped[3:].split()
            fence, start, body = (words or [""]), number, []
        elif fence is not None and stripped == "```":
            found.append((fence[0], fence[1:], start, body))
            fence = None
        elif fence is not None:
            body.append(line)
    return found


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
    work, text = workspace(top), "\n".join(body) + "\n"
    if kind == "python":
        run = subprocess.run(["/usr/bin/python3", "-"], input=text, cwd=work, text=True,
                             capture_output=True)
    else:
        with open(os.path.join(work, "host.c"), "w") as c:
            c.write(text)
        run = subprocess.run(
            ["cc", "-std=c11", "-Wall", "-Wextra", "-Werror", "-I", os.path.join(source, "include"),
             "host.c", "-L", build, "-lqvehelper", f"-Wl,-rpath,{build}", "-o", "host"],
            cwd=work, capture_output=True, text=True)
        if run.returncode == 0:
            run = subprocess.run(["./host"], cwd=work, capture_output=True, text=True)
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
