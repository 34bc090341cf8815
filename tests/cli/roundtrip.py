#!/usr/bin/env python3
"""parvello-cli end to end, as a user runs it from a shell: names in several scripts, files
in UTF-8, windows-1252 and UTF-16, --check and --report through a pipe, the filter, and a
read-only file. The same expectations hold on every system; for a build for another system
the program runs under the emulator given (Wine for Windows).
Usage: roundtrip.py [EMULATOR...] PARVELLO_CLI"""
import json
import os
import shutil
import stat
import subprocess
import sys
import tempfile

NAME = "café “q” Ωμέγα.txt"
FILES = {  # name: (bytes before, bytes after remove-double)
    NAME: ("“Hi” \"there\"\n".encode(), b"Hi there\r\n"),
    "cp1252.txt": (b'\x93cp\x94 "x"\r\nline2', b"cp x\r\nline2\r\n"),
    "utf16.txt": ("\ufeff“w” 'k'\n".encode("utf-16-le"), "\ufeffw 'k'\r\n".encode("utf-16-le")),
    "plain.txt": (b"plain\r\n", b"plain\r\n"),
}
failures = []


def check(what, got, wanted):
    if got != wanted:
        failures.append("%s:\n  got    %r\n  wanted %r" % (what, got, wanted))


def main():
    command = [os.path.abspath(arg) if os.path.exists(arg) else arg for arg in sys.argv[1:]]
    work = tempfile.mkdtemp(prefix="parvello-roundtrip-")
    try:
        run_all(work, command)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        sys.exit("roundtrip: " + "\n".join(failures))
    print("roundtrip: %d files in place, --check, --report, the filter and a read-only file"
          % len(FILES))
    if len(command) > 1:
        print("roundtrip: not judged under an emulator: output to a real Windows console "
              "(WriteConsoleW) and the console's code page; only a real Windows can show them")


def run_all(work, command):
    names = sorted(FILES)
    for name, (before, _) in FILES.items():
        with open(os.path.join(work, name), "wb") as out:
            out.write(before)

    def run(*args, stdin=b""):
        done = subprocess.run(command + list(args), cwd=work, input=stdin, capture_output=True)
        return done.returncode, done.stdout, done.stderr.decode("utf-8", "replace")

    status, out, err = run("--rule=remove-double", "--check", *names)
    check("--check status", status, 1)
    check("--check lines", out.decode("utf-8").splitlines(),
          ["café “q” Ωμέγα.txt: 4 quote(s) would change", "cp1252.txt: 4 quote(s) would change",
           "utf16.txt: 2 quote(s) would change"])
    check("--check messages", err, "")

    status, out, err = run("--rule=remove-double", "--in-place", "--report=json", *names)
    check("--in-place status", status, 0)
    reports = [json.loads(line) for line in out.decode("utf-8").splitlines()]
    check("--report names", [report.get("path") for report in reports], names)
    check("--report outcomes", [report.get("outcome") for report in reports],
          ["written", "written", "unchanged", "written"])
    for name, (_, after) in FILES.items():
        with open(os.path.join(work, name), "rb") as result:
            check("result of " + name, result.read(), after)
    check("no file left beside them", sorted(os.listdir(work)), names)

    status, out, err = run("--rule=remove-double", "--check", *names)
    check("--check once done", (status, out, err), (0, b"", ""))

    # The filter: bytes in, bytes out, with nothing done to line ends by the system.
    status, out, err = run("--rule=remove-double", "-", stdin=b'"a"\nb\r\n\x93c\x94')
    check("filter", (status, out, err), (0, b"a\r\nb\r\nc\r\n", ""))

    locked = os.path.join(work, "locked.txt")
    with open(locked, "wb") as out_file:
        out_file.write(b'"r"\n')
    os.chmod(locked, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
    status, out, err = run("--rule=remove-double", "--in-place", "locked.txt")
    check("read-only status", status, 1)
    check("read-only message", err, "parvello-cli: locked.txt: cannot write: it is read-only\n")
    with open(locked, "rb") as kept:
        check("read-only file kept", kept.read(), b'"r"\n')


if __name__ == "__main__":
    main()
