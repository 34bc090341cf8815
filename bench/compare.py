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


def big_files(cli, corpus, work, runs):
    print("Large files (median of %d runs, page cache warm):" % runs)
    results = {}
    for road in ("utf8", "utf8bom", "cp1252", "utf16le"):
        sources = files_in(os.path.join(corpus, "big", road))
        size = total_bytes(sources)
        print("%s: %d files, %.0f MiB" % (road, len(sources), size / 2**20))
        out = os.path.join(work, "parvello")
        out1 = os.path.join(work, "parvello1")
        cp_folder = os.path.join(work, "cp")
        measures = {
            # parvello-cli with its default of two threads, and with one (sed, perl and cp
            # are one process each).
            "parvello": ([cli, "--rule", "remove-double", "--out", out] + sources,
                         lambda: fresh(out), False),
            "parvello1": ([cli, "--jobs", "1", "--rule", "remove-double", "--out", out1] + sources,
                          lambda: fresh(out1), False),
            "cp": (["cp"] + sources + [cp_folder], lambda: fresh(cp_folder), False),
        }
        if road != "utf16le":
            sed_folder, perl_folder = os.path.join(work, "sed"), os.path.join(work, "perl")
            quotes_sed = SED_CP1252 if road == "cp1252" else SED_UTF8
            quotes_perl = PERL_CP1252 if road == "cp1252" else PERL_UTF8
            # A file with the UTF-8 mark splits only at CR LF: a final CR LF gives one more line.
            last_sed = [r"-e", r"$s/$/\n\r/"] if road == "utf8bom" else []
            last_perl = r'$_ .= "\r\n" if eof;' if road == "utf8bom" else ""
            sed_files = [os.path.join(sed_folder, os.path.basename(s)) for s in sources]
            perl_files = [os.path.join(perl_folder, os.path.basename(s)) for s in sources]
            measures["sed"] = (["sed", "-i"] + quotes_sed + SED_CRLF + last_sed + sed_files,
                               lambda: copies(sources, sed_folder), False)
            measures["perl"] = (["perl", "-pi", "-e", quotes_perl + PERL_CRLF + last_perl] + perl_files,
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
        show("cp", t_cp, size)
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
        print("  parvello at %.0f%% of cp (with --jobs 1 at %.0f%%); outputs agree: %s"
              % (100 * t_cp / t_pv, 100 * t_cp / t_pv1, "yes" if agree else "NO"))
        results[road] = row
    return results


def small_files(cli, corpus, work, runs, label):
    source = os.path.join(corpus, "small")
    count = len(files_in(source))
    pv, sed = os.path.join(work, "small-parvello"), os.path.join(work, "small-sed")

    def tree(folder):
        return lambda: (shutil.rmtree(folder, ignore_errors=True), shutil.copytree(source, folder))

    pv1 = os.path.join(work, "small-parvello1")
    xargs = 'find "%s" -type f -print0 | xargs -0 '
    row = timed_together({
        "parvello": (xargs % pv + '"%s" --rule remove-double --in-place' % cli, tree(pv), True),
        "parvello1": (xargs % pv1 + '"%s" --jobs 1 --rule remove-double --in-place' % cli, tree(pv1), True),
        "sed": (xargs % sed + "sed -i -e 's/\"//g' -e 's/\\xe2\\x80\\x9c//g' -e 's/\\xe2\\x80\\x9d//g'"
                " -e 's/\\r$//' -e 's/$/\\r/'", tree(sed), True),
    }, runs)
    t_pv, t_pv1, t_sed = row["parvello"], row["parvello1"], row["sed"]
    agree = same_outputs(pv, sed) and same_outputs(pv1, sed)
    print("%d small files in place, %s:" % (count, label))
    print("  %-28s %8.3f s %9.0f files/s" % ("parvello-cli (2 threads)", t_pv, count / t_pv))
    print("  %-28s %8.3f s %9.0f files/s" % ("parvello-cli --jobs 1", t_pv1, count / t_pv1))
    print("  %-28s %8.3f s %9.0f files/s" % ("sed -i", t_sed, count / t_sed))
    print("  parvello %.2fx (with --jobs 1 %.2fx) the files per second of sed -i; outputs agree: %s"
          % (t_sed / t_pv, t_sed / t_pv1, "yes" if agree else "NO"))
    shutil.rmtree(pv1, ignore_errors=True)
    shutil.rmtree(pv, ignore_errors=True)
    shutil.rmtree(sed, ignore_errors=True)


def peak_memory(cli, corpus, work):
    huge = os.path.join(corpus, "huge", "huge.txt")
    out = os.path.join(work, "huge-out")
    fresh(out)
    # A child of its own, so that its peak is the only one this measure sees.
    probe = ("import resource, subprocess, sys; subprocess.run(sys.argv[1:]); "
             "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
    kib = int(subprocess.run([sys.executable, "-c", probe, cli, "--rule", "remove-double", "--out", out, huge],
                             capture_output=True, text=True, env=ENV).stdout.strip())
    size = os.path.getsize(huge)
    limit = 3 * size + 30 * 2**20
    print("Peak memory on the %.0f MiB file: %.0f MiB (limit 3x + 30 MiB = %.0f MiB): %s"
          % (size / 2**20, kib / 1024, limit / 2**20, "met" if kib * 1024 <= limit else "NOT met"))
    shutil.rmtree(out, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--corpus", required=True)
    parser.add_argument("--work", required=True, help="scratch folder on the file system to measure")
    parser.add_argument("--disk-work", help="a scratch folder on an ordinary disk for the small files")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    print("parvello-cli: %s" % args.cli)
    peak_memory(args.cli, args.corpus, args.work)
    big_files(args.cli, args.corpus, args.work, args.runs)
    small_files(args.cli, args.corpus, args.work, args.runs, "on " + args.work)
    if args.disk_work:
        os.makedirs(args.disk_work, exist_ok=True)
        small_files(args.cli, args.corpus, args.disk_work, max(1, args.runs // 2), "on " + args.disk_work)
        shutil.rmtree(args.disk_work, ignore_errors=True)
    shutil.rmtree(args.work, ignore_errors=True)


if __name__ == "__main__":
    main()
