#!/usr/bin/env python3
"""parvello-cli in place over 200 small files under strace, on a disk file system: every
result must be flushed to the disk before it takes its file's name (a rename, or a link for
a new name), and the flushes must be far fewer than the files (they are shared by groups).
Usage: flush_order.py PARVELLO_CLI WORK_FOLDER"""
import os
import re
import resource
import shutil
import subprocess
import sys

FILES = 200
FLUSHES = ("fdatasync", "fsync", "syncfs", "sync_file_range")
CALL = re.compile(r"^(\d+)\s+(?:<\.\.\. (\w+) resumed>(.*)|(\w+)\((.*))$")


def main():
    cli, work = sys.argv[1], sys.argv[2]
    shutil.rmtree(work, ignore_errors=True)
    folder = os.path.join(work, "files")
    os.makedirs(folder)
    kind = subprocess.run(["stat", "-f", "-c", "%T", folder], capture_output=True, text=True).stdout.strip()
    if kind in ("tmpfs", "ramfs"):
        sys.exit("flush_order: %s is on %s, where nothing is flushed; run it on a disk" % (folder, kind))
    targets = []
    for i in range(FILES):
        path = os.path.join(folder, "f%03d.txt" % i)
        with open(path, "wb") as out:
            out.write(b'"line %d"\nsecond\n' % i)
        targets.append(os.path.realpath(path))
    log = os.path.join(work, "strace.log")
    # The leak checker of a sanitizer build cannot run under strace.
    env = dict(os.environ)
    env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"), "detect_leaks=0"]))
    traced = "openat,close,linkat,rename,renameat,renameat2,fcntl,clone,clone3," + ",".join(FLUSHES)
    # With few open files allowed, each worker's results go in several small groups, each
    # flushed and put in place while the next one fills.
    run = subprocess.run(["strace", "-f", "-qq", "-s", "4096", "-e", "trace=" + traced, "-o", log,
                          cli, "--rule", "remove-double", "--in-place", "--jobs", "2"] + targets,
                         env=env, preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (512, 512)))
    if run.returncode != 0:
        sys.exit("flush_order: parvello-cli ended with %d" % run.returncode)
    for i, path in enumerate(targets):
        with open(path, "rb") as result:
            if result.read() != b"line %d\r\nsecond\r\n" % i:
                sys.exit("flush_order: %s does not hold its result" % path)

    with open(log, encoding="utf-8", errors="replace") as text:
        lines = text.read()
    # Each call with the line it began on and the line it ended on. The calls are walked in
    # the order they ended, since a descriptor is known only once its open has returned (and
    # another thread may close and reuse it meanwhile); a flush counts for a temporary file
    # when it began after that file's open had ended, and ended before its rename began.
    calls = []
    begun = {}
    for position, line in enumerate(lines.splitlines()):
        match = CALL.match(line)
        if not match:
            continue
        pid, resumed, rest, name, args = match.groups()
        if resumed:
            call = begun.pop((pid, resumed), None)
            if call is not None:
                call.update(args=call["args"] + rest, end=position)
                calls.append(call)
            continue
        call = {"name": name, "args": args, "begin": position, "end": position}
        if args.endswith("<unfinished ...>"):
            call["args"] = args[: -len("<unfinished ...>")]
            begun[(pid, name)] = call
        else:
            calls.append(call)

    opened = {}      # fd -> line on which the open of a temporary file on it ended
    named = {}       # temporary name -> (its open's end, the flushes of that very file)
    own_flushes = {}  # fd -> (begin, end) of each flush of that very file
    shared = []      # (begin, end) of each syncfs
    folders = {}     # fd -> the folder an open with O_DIRECTORY gave it
    folder_flushes = {}  # folder -> begin of each fsync of it
    last_name = {}   # folder -> end of the last rename or link that gave a name there
    flush_calls = 0
    checked = 0
    target_set = set(targets)
    for call in calls:
        name, args = call["name"], call["args"]
        fd_match = re.match(r"(-?\d+)", args)
        if name == "openat" and ("O_TMPFILE" in args or "O_EXCL" in args):
            result = re.search(r"= (\d+)$", args)
            if result:
                opened[int(result.group(1))] = call["end"]
                own_flushes[int(result.group(1))] = []
        elif name == "openat" and "O_DIRECTORY" in args:
            result = re.search(r'"([^"]+)".*= (\d+)$', args)
            if result:
                folders[int(result.group(2))] = os.path.realpath(result.group(1))
        elif name in FLUSHES:
            flush_calls += 1
            if name == "syncfs":
                shared.append((call["begin"], call["end"]))
            elif name == "fsync" and fd_match and int(fd_match.group(1)) in folders:
                folder_flushes.setdefault(folders[int(fd_match.group(1))], []).append(call["begin"])
            elif fd_match:
                own_flushes.setdefault(int(fd_match.group(1)), []).append((call["begin"], call["end"]))
        elif name == "linkat":
            # linkat(fd, "", dir, name, AT_EMPTY_PATH) or linkat(dir, "/proc/self/fd/N", dir, name)
            empty = re.match(r'(\d+), "", (\w+), "([^"]+)"', args)
            proc = empty or re.search(r'"/proc/self/fd/(\d+)", (\w+), "([^"]+)"', args)
            if proc:
                fd, destination = int(proc.group(1)), place(folders, proc.group(2), proc.group(3))
                if fd not in opened:
                    sys.exit("flush_order: the result for %s was opened outside the trace" % destination)
                # What the name stands for is taken now: the descriptor may be reused.
                named[destination] = (opened[fd], list(own_flushes.get(fd, [])))
                last_name[os.path.dirname(destination)] = call["end"]
                if destination in target_set:  # a new file took its name at once
                    checked += covered(named[destination], call["begin"], shared, destination)
        elif name.startswith("rename"):
            # rename(from, to), or renameat(dir, from, dir, to) with names in open folders
            parts = re.findall(r'(AT_FDCWD|\d+|"[^"]*")', args)
            if name == "rename":
                parts = ["AT_FDCWD", parts[0], "AT_FDCWD", parts[1]] if len(parts) >= 2 else []
            paths = [place(folders, parts[i], parts[i + 1].strip('"')) for i in (0, 2)] if len(parts) >= 4 else []
            if len(paths) == 2 and paths[1] in target_set:
                source = paths[0]
                if source not in named:
                    sys.exit("flush_order: the temporary file %s came from no traced open" % source)
                checked += covered(named[source], call["begin"], shared, paths[1])
                last_name[os.path.dirname(os.path.realpath(paths[1]))] = call["end"]
    if checked != FILES:
        sys.exit("flush_order: %d of %d results were seen taking their names" % (checked, FILES))
    # Every name given is durable before the run ends: a flush of its folder, or of its whole
    # file system, began after the last name was given there.
    for folder, end in last_name.items():
        if not any(begin > end for begin in folder_flushes.get(folder, []) + [b for b, _ in shared]):
            sys.exit("flush_order: the names last given in %s were never flushed" % folder)
    if flush_calls * 4 > FILES:
        sys.exit("flush_order: %d flushes for %d files; they are not shared" % (flush_calls, FILES))
    # Growing the table of open files once threads run stalls them all: it is grown before
    # the first thread starts, large enough for every descriptor the run uses.
    starts = [call["begin"] for call in calls if call["name"] in ("clone", "clone3")]
    grown = [int(m.group(1)) for call in calls if call["name"] == "fcntl" and starts
             and call["begin"] < min(starts)
             for m in [re.search(r"F_DUPFD(?:_CLOEXEC)?, \d+\)\s*= (\d+)", call["args"])] if m]
    used = [int(m.group(1)) for call in calls if call["name"] == "openat"
            for m in [re.search(r"= (\d+)$", call["args"])] if m]
    if not grown or max(grown) < max(used):
        sys.exit("flush_order: descriptors up to %d were used, but the table was grown to %s before "
                 "the threads started" % (max(used), max(grown) if grown else "nothing"))
    print("flush_order: %d results each flushed before its replace, with %d flush calls"
          % (FILES, flush_calls))
    # Run again, every file already holds its result: no temporary file, no rename, no flush.
    subprocess.run(["strace", "-f", "-qq", "-e", "trace=" + traced, "-o", log, cli, "--rule",
                    "remove-double", "--in-place", "--jobs", "2"] + targets, check=True, env=env)
    with open(log, encoding="utf-8", errors="replace") as text:
        again = [line for line in text if re.search(r"O_TMPFILE|O_EXCL|rename|linkat|sync", line)]
    if again:
        sys.exit("flush_order: files that hold their result still cost: %s" % again[0].strip())


def place(folders, folder, name):
    """The real path of a name given to an *at call relative to `folder` (AT_FDCWD, or an
    open folder's descriptor)."""
    if folder != "AT_FDCWD" and not name.startswith("/"):
        name = os.path.join(folders.get(int(folder), "?"), name)
    return os.path.realpath(name)


def covered(temporary, begin, shared, target):
    """1 when a flush that began after the temporary file was opened and ended before this
    call began covers it: one of that file (before it was named) or one of its whole file
    system."""
    opened, own = temporary
    if not any(opened < start and end < begin for start, end in own + shared):
        sys.exit("flush_order: %s took its name before a flush covered its data" % target)
    return 1


if __name__ == "__main__":
    main()
