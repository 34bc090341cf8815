#!/usr/bin/env python3
"""Times parvello-cli --rule remove-double against GNU sed, perl, cp, iconv and a plain
Python script doing the same job on copies of the same files, checks that the outputs
agree, and prints throughput and ratios. parvello-cli runs twice: with its default of two
threads and with --jobs 1, as the other tools are one process each. The tools take turns
within every run and each figure is the median over the runs. Run through bench/compare.sh."""
import argparse
import filecmp
import os
import resource
import shlex
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SED_UTF8 = ["-e", 's/"//g', "-e", r"s/\xe2\x80\x9c//g", "-e", r"s/\xe2\x80\x9d//g"]
SED_CP1252 = ["-e", r's/["\x93\x94]//g']
SED_CRLF = ["-e", r"s/\r$//", "-e", r"s/$/\r/"]
PERL_UTF8 = r's/"|\xe2\x80\x9c|\xe2\x80\x9d//g;'
PERL_CP1252 = r's/["\x93\x94]//g;'
PERL_CRLF = r's/\r?\n\z//; $_ .= "\r\n";'
ENV = dict(os.environ, LC_ALL="C")


def files_in(folder):
    found = []
    for root, _, names in os.walk(folder):
        found += [os.path.join(root, n) for n in sorted(names)]
    return sorted(found)


def total_bytes(paths):
    return sum(os.path.getsize(p) for p in paths)


def timed_together(measures, runs):
    """Median wall time of each measure (name: (command, prepare, shell)). The measures take
    turns within every run, so that a change in the machine's load touches them alike."""
    times = {name: [] for name in measures}
    for _ in range(runs):
        for name, (command, prepare, shell) in measures.items():
            prepare()
            os.sync()  # what the preparation wrote reaches the disk before the clock starts
            start = time.perf_counter()
            subprocess.run(command, check=False, env=ENV, shell=shell, stdout=subprocess.DEVNULL)
            times[name].append(time.perf_counter() - start)
    return {name: statistics.median(t) for name, t in times.items()}


def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)


def copies(sources, folder):
    fresh(folder)
    for s in sources:
        shutil.copy(s, folder)
    return [os.path.join(folder, os.path.basename(s)) for s in sources]


def same_outputs(folder_a, folder_b):
    a, b = files_in(folder_a), files_in(folder_b)
    if [os.path.relpath(p, folder_a) for p in a] != [os.path.relpath(p, folder_b) for p in b]:
        return False
    return all(filecmp.cmp(x, y, shallow=False) for x, y in zip(a, b))


def show(name, seconds, size, extra=""):
    print("  %-28s %8.3f s %9.1f MB/s %s" % (name, seconds, size / seconds / 1e6, extra))


def cat_script(sources, folder):
    """cat SRC > DST for each file. GNU cat 9 copies inside the kernel (copy_file_range)
    where the file systems allow it, so its bytes never pass through its own memory."""
    return " ".join('cat "%s" > "%s/%s";' % (s, folder, os.path.basename(s)) for s in sources)


def dd_script(sources, folder):
    """dd in blocks of 256 KiB for each file: a plain copy whose bytes are read into its own
    memory and written from there, as any tool that changes them must."""
    return " ".join('dd if="%s" of="%s/%s" bs=256K status=none;' % (s, folder, os.path.basename(s))
                    for s in sources)


def big_files(cli, corpus, work, runs, before=None):
    print("Large files (median of %d runs, page cache warm):" % runs)
    results = {}
    for road in ("utf8", "utf8bom", "cp1252", "utf16le"):
        sources = files_in(os.path.join(corpus, "big", road))
        size = total_bytes(sources)
        print("%s: %d files, %.0f MiB" % (road, len(sources), size / 2**20))
        out = os.path.join(work, "parvello")
        out1 = os.path.join(work, "parvello1")
        cp_folder = os.path.join(work, "cp")
        cat_folder = os.path.join(work, "cat")
        dd_folder = os.path.join(work, "dd")
        measures = {
            # parvello-cli with its default of two threads, and with one (sed, perl and cp
            # are one process each).
            "parvello": ([cli, "--rule", "remove-double", "--out", out] + sources,
                         lambda: fresh(out), False),
            "parvello1": ([cli, "--jobs", "1", "--rule", "remove-double", "--out", out1] + sources,
                          lambda: fresh(out1), False),
            # --check makes the same results and compares them with the files, writing none.
            "check": ([cli, "--rule", "remove-double", "--check"] + sources, lambda: None, False),
            "cp": (["cp"] + sources + [cp_folder], lambda: fresh(cp_folder), False),
            "cat": (cat_script(sources, cat_folder), lambda: fresh(cat_folder), True),
            "dd": (dd_script(sources, dd_folder), lambda: fresh(dd_folder), True),
        }
        if before:
            outb, outb1 = os.path.join(work, "before"), os.path.join(work, "before1")
            measures["before"] = ([before, "--rule", "remove-double", "--out", outb] + sources,
                                  lambda: fresh(outb), False)
            measures["before1"] = ([before, "--jobs", "1", "--rule", "remove-double", "--out", outb1]
                                   + sources, lambda: fresh(outb1), False)
        if road != "utf16le":
            sed_folder, perl_folder = os.path.join(work, "sed"), os.path.join(work, "perl")
            quotes_sed = SED_CP1252 if road == "cp1252" else SED_UTF8
            quotes_perl = PERL_CP1252 if road == "cp1252" else PERL_UTF8
            # The corpus's files with the UTF-8 mark have CR LF lines only, so the same
            # commands give what parvello gives them (CR LF kept, no line added at the end).
            sed_files = [os.path.join(sed_folder, os.path.basename(s)) for s in sources]
            perl_files = [os.path.join(perl_folder, os.path.basename(s)) for s in sources]
            measures["sed"] = (["sed", "-i"] + quotes_sed + SED_CRLF + sed_files,
                               lambda: copies(sources, sed_folder), False)
            measures["perl"] = (["perl", "-pi", "-e", quotes_perl + PERL_CRLF] + perl_files,
                                lambda: copies(sources, perl_folder), False)
        else:
            py_folder = os.path.join(work, "python")
            iconv_folder = os.path.join(work, "iconv")
            script = " ".join('iconv -f UTF-16LE -t UTF-8 "%s" > "%s/%s";' % (s, iconv_folder, os.path.basename(s))
                              for s in sources)
            measures["python"] = ([sys.executable, os.path.join(HERE, "python_remove.py"), py_folder] + sources,
                                  lambda: fresh(py_folder), False)
            measures["iconv"] = (script, lambda: fresh(iconv_folder), True)
        row = timed_together(measures, runs)
        t_pv, t_pv1, t_cp = row["parvello"], row["parvello1"], row["cp"]
        show("parvello-cli --out (2 thr.)", t_pv, size)
        show("parvello-cli --jobs 1 --out", t_pv1, size)
        show("parvello-cli --check", row["check"], size, "(at %.2fx the time of --out)"
             % (row["check"] / t_pv))
        show("cp", t_cp, size)
        show("cat SRC > DST", row["cat"], size)
        show("dd bs=256K", row["dd"], size)
        if before:
            show("before: parvello-cli (2 thr.)", row["before"], size)
            show("before: --jobs 1", row["before1"], size)
            print("  before: at %.0f%% of cat (with --jobs 1 at %.0f%%)"
                  % (100 * row["cat"] / row["before"], 100 * row["cat"] / row["before1"]))
        if road != "utf16le":
            show("sed -i", row["sed"], size, "(parvello %.2fx, with --jobs 1 %.2fx)"
                 % (row["sed"] / t_pv, row["sed"] / t_pv1))
            show("perl -pi", row["perl"], size, "(parvello %.2fx, with --jobs 1 %.2fx)"
                 % (row["perl"] / t_pv, row["perl"] / t_pv1))
            agree = (same_outputs(out, sed_folder) and same_outputs(out, perl_folder)
                     and same_outputs(out1, sed_folder))
        else:
            show("python script", row["python"], size, "(parvello %.2fx, with --jobs 1 %.2fx)"
                 % (row["python"] / t_pv, row["python"] / t_pv1))
            show("iconv UTF-16LE to UTF-8", row["iconv"], size,
                 "(parvello at %.0f%%, with --jobs 1 at %.0f%%)"
                 % (100 * row["iconv"] / t_pv, 100 * row["iconv"] / t_pv1))
            agree = same_outputs(out, py_folder) and same_outputs(out1, py_folder)
        if before:
            agree = agree and same_outputs(out, os.path.join(work, "before"))
        print("  parvello at %.0f%% of cp (with --jobs 1 at %.0f%%); outputs agree: %s"
              % (100 * t_cp / t_pv, 100 * t_cp / t_pv1, "yes" if agree else "NO"))
        print("  parvello at %.0f%% of cat (with --jobs 1 at %.0f%%)"
              % (100 * row["cat"] / t_pv, 100 * row["cat"] / t_pv1))
        print("  parvello at %.0f%% of dd bs=256K (with --jobs 1 at %.0f%%)"
              % (100 * row["dd"] / t_pv, 100 * row["dd"] / t_pv1))
        results[road] = row
    return results


def first_pass(cli, prepass, corpus, work, runs):
    """A mark-less file is taken for UTF-8 and written as it is read; the first byte that is
    not UTF-8 starts it over in the code page. The other way would be a read-only pass over
    every mark-less file first. Both are timed here on the UTF-8 files: as they are, and with
    one byte that is not UTF-8 at their very end (the worst case of starting over)."""
    sources = files_in(os.path.join(corpus, "big", "utf8"))
    size = total_bytes(sources)
    late_folder = os.path.join(work, "late")
    fresh(late_folder)
    late = []
    for s in sources:
        late.append(os.path.join(late_folder, os.path.basename(s)))
        shutil.copy(s, late[-1])
        with open(late[-1], "ab") as f:
            f.write(b"\x93")
    out = os.path.join(work, "parvello1")
    row = timed_together({
        "one": ([cli, "--jobs", "1", "--rule", "remove-double", "--out", out] + sources,
                lambda: fresh(out), False),
        "late": ([cli, "--jobs", "1", "--rule", "remove-double", "--out", out] + late,
                 lambda: fresh(out), False),
    }, runs)
    check = float(subprocess.run([prepass, str(runs)] + sources, capture_output=True, text=True,
                                 env=ENV).stdout.strip())
    print("Mark-less files, %.0f MiB of UTF-8 (median of %d runs, --jobs 1):" % (size / 2**20, runs))
    show("one pass (as built)", row["one"], size)
    show("a read-only first pass alone", check, size,
         "(would make every mark-less file %.0f%% slower)" % (100 * check / row["one"]))
    show("one pass, last byte not UTF-8", row["late"], size,
         "(started over at the end: %.0f%% slower than one pass)"
         % (100 * (row["late"] - row["one"]) / row["one"]))
    shutil.rmtree(late_folder, ignore_errors=True)
    shutil.rmtree(out, ignore_errors=True)


def small_files(cli, corpus, work, runs, label, before=None):
    source = os.path.join(corpus, "small")
    count = len(files_in(source))
    pv, sed = os.path.join(work, "small-parvello"), os.path.join(work, "small-sed")
    perl = os.path.join(work, "small-perl")

    def tree(folder):
        return lambda: (shutil.rmtree(folder, ignore_errors=True), shutil.copytree(source, folder))

    pv1 = os.path.join(work, "small-parvello1")
    xargs = 'find "%s" -type f -print0 | xargs -0 '
    measures = {
        "parvello": (xargs % pv + '"%s" --rule remove-double --in-place' % cli, tree(pv), True),
        "parvello1": (xargs % pv1 + '"%s" --jobs 1 --rule remove-double --in-place' % cli, tree(pv1), True),
        "sed": (xargs % sed + "sed -i -e 's/\"//g' -e 's/\\xe2\\x80\\x9c//g' -e 's/\\xe2\\x80\\x9d//g'"
                " -e 's/\\r$//' -e 's/$/\\r/'", tree(sed), True),
        "perl": (xargs % perl + "perl -pi -e " + shlex.quote(PERL_UTF8 + PERL_CRLF), tree(perl), True),
    }
    pvb = os.path.join(work, "small-before1")
    if before:
        measures["before1"] = (xargs % pvb + '"%s" --jobs 1 --rule remove-double --in-place' % before,
                               tree(pvb), True)
    row = timed_together(measures, runs)
    t_pv, t_pv1, t_sed = row["parvello"], row["parvello1"], row["sed"]
    agree = same_outputs(pv, sed) and same_outputs(pv1, sed) and same_outputs(perl, sed)
    print("%d small files in place, %s:" % (count, label))
    print("  %-28s %8.3f s %9.0f files/s" % ("parvello-cli (2 threads)", t_pv, count / t_pv))
    print("  %-28s %8.3f s %9.0f files/s" % ("parvello-cli --jobs 1", t_pv1, count / t_pv1))
    print("  %-28s %8.3f s %9.0f files/s" % ("sed -i", t_sed, count / t_sed))
    print("  %-28s %8.3f s %9.0f files/s" % ("perl -pi", row["perl"], count / row["perl"]))
    if before:
        print("  %-28s %8.3f s %9.0f files/s (%.2fx sed -i)" % ("before: --jobs 1", row["before1"],
              count / row["before1"], t_sed / row["before1"]))
        shutil.rmtree(pvb, ignore_errors=True)
    print("  parvello %.2fx (with --jobs 1 %.2fx) the files per second of sed -i; outputs agree: %s"
          % (t_sed / t_pv, t_sed / t_pv1, "yes" if agree else "NO"))
    shutil.rmtree(pv1, ignore_errors=True)
    shutil.rmtree(pv, ignore_errors=True)
    shutil.rmtree(sed, ignore_errors=True)
    shutil.rmtree(perl, ignore_errors=True)


def ext4_image(folder):
    """A fresh 1 GiB ext4 file system in an image under folder, loop-mounted (root only):
    the small files measured on a real disk file system that no other work shares.
    Returns the mount point and a function that removes it all, or None."""
    if os.geteuid() != 0 or not shutil.which("mkfs.ext4"):
        print("ext4 image: not made (needs root and mkfs.ext4)")
        return None
    image, mount = os.path.join(folder, "ext4.img"), os.path.join(folder, "ext4")
    os.makedirs(mount, exist_ok=True)
    with open(image, "wb") as out:
        out.truncate(2**30)

    def remove():
        subprocess.run(["umount", mount], stderr=subprocess.DEVNULL)
        shutil.rmtree(folder, ignore_errors=True)
    # Every table made now: otherwise the kernel goes on writing the rest of them for
    # minutes after the mount, and the disk measured is one that other work shares.
    made = subprocess.run(["mkfs.ext4", "-q", "-F", "-E", "lazy_itable_init=0,lazy_journal_init=0",
                           image], stdout=subprocess.DEVNULL).returncode == 0
    if not made or subprocess.run(["mount", "-o", "loop", image, mount]).returncode != 0:
        print("ext4 image: could not be made or mounted here")
        remove()
        return None
    return mount, remove


def peak_kib(command):
    """The maximum resident set of one command, run as a child of its own."""
    probe = ("import resource, subprocess, sys; subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL); "
             "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
    return int(subprocess.run([sys.executable, "-c", probe] + command,
                              capture_output=True, text=True, env=ENV).stdout.strip())


def peak_memory(clis, corpus, work):
    """Peak memory of parvello-cli (writing, and checking) on the 256 MiB file, on a 2 GiB file and on a file that
    is one line of 200 MB (both made here and removed afterwards), beside sed -i."""
    huge = os.path.join(corpus, "huge", "huge.txt")
    fresh(work)
    files = [("the %.0f MiB file" % (os.path.getsize(huge) / 2**20), huge)]
    big, line = os.path.join(work, "two-gib.txt"), os.path.join(work, "one-line.txt")
    if shutil.disk_usage(work).free > 5 * 2**30 + 2 * 2**28:
        with open(big, "wb") as out:
            with open(huge, "rb") as part:
                data = part.read()
            while out.tell() < 2 * 2**30:
                out.write(data)
        with open(line, "wb") as out:
            out.write(data[:200 * 10**6].replace(b"\n", b" "))
        del data
        files += [("a 2 GiB file", big), ("one 200 MB line", line)]
    else:
        print("Peak memory: not enough free space in %s for the 2 GiB file; skipped" % work)
    for label, path in files:
        figures = []
        for name, cli in clis:
            out = os.path.join(work, "out-" + name)
            fresh(out)
            figures.append("%s %.0f MiB" % (name, peak_kib([cli, "--rule", "remove-double", "--out", out, path]) / 1024))
            shutil.rmtree(out, ignore_errors=True)
        # The modes that compare and count read the file in blocks too.
        figures.append("--check --report json %.0f MiB" % (peak_kib(
            [clis[0][1], "--rule", "remove-double", "--check", "--report", "json", path]) / 1024))
        copy = os.path.join(work, "sed-copy.txt")
        shutil.copy(path, copy)
        figures.append("sed -i %.0f MiB" % (peak_kib(["sed", "-i", "-e", "s/\"//g", copy]) / 1024))
        os.remove(copy)
        print("Peak memory on %s: %s" % (label, ", ".join(figures)))
    shutil.rmtree(work, ignore_errors=True)


def start_times(clis, runs):
    """Median time to start, print the version and end, of each parvello-cli beside GNU sed's
    (200 starts a run, taking turns): what a script pays each time it calls the tool."""
    starts = 200
    commands = {name: [cli, "--version"] for name, cli in clis}
    commands["sed"] = ["sed", "--version"]
    times = {name: [] for name in commands}
    for _ in range(runs):
        for name, command in commands.items():
            start = time.perf_counter()
            for _ in range(starts):
                subprocess.run(command, check=False, env=ENV, stdout=subprocess.DEVNULL)
            times[name].append((time.perf_counter() - start) / starts)
    sed = statistics.median(times["sed"])
    for name, _ in clis:
        t = statistics.median(times[name])
        print("Start time of %s --version: %.2f ms, %.2fx sed --version (%.2f ms)"
              % ("parvello-cli" if name == "parvello" else name, t * 1000, t / sed, sed * 1000))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--corpus", required=True)
    parser.add_argument("--work", required=True, help="scratch folder on the file system to measure")
    parser.add_argument("--disk-work", help="a scratch folder on an ordinary disk for the small files")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--before", help="another parvello-cli to measure alongside (an earlier build)")
    parser.add_argument("--prepass", help="bench/prepass_bench, to time a read-only first pass")
    parser.add_argument("--small-only", action="store_true", help="only the small files")
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    print("parvello-cli: %s" % args.cli)
    clis = [("parvello", args.cli)] + ([("before", args.before)] if args.before else [])
    start_times(clis, args.runs)
    if not args.small_only:
        peak_memory(clis, args.corpus, os.path.join(args.work, "memory"))
        os.makedirs(args.work, exist_ok=True)
        big_files(args.cli, args.corpus, args.work, args.runs, args.before)
        if args.prepass:
            first_pass(args.cli, args.prepass, args.corpus, args.work, args.runs)
    small_files(args.cli, args.corpus, args.work, args.runs, "on " + args.work, args.before)
    if args.disk_work:
        os.makedirs(args.disk_work, exist_ok=True)
        small_files(args.cli, args.corpus, args.disk_work, args.runs, "on " + args.disk_work, args.before)
        shutil.rmtree(args.disk_work, ignore_errors=True)
        image = ext4_image(os.path.join(args.disk_work + "-image"))
        if image:
            mount, remove = image
            try:
                small_files(args.cli, args.corpus, mount, args.runs, "on a fresh ext4 image", args.before)
            finally:
                remove()
    shutil.rmtree(args.work, ignore_errors=True)


if __name__ == "__main__":
    main()
