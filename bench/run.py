#!/usr/bin/env python3
"""The benchmark harness behind scripts/bench.

It makes the inputs (deterministically: the installation set from a fixed seed, the SZDD inputs
from files of Debian packages), runs every contender beside its baseline in rounds after one
warm-up round (baseline first in even rounds, last in odd ones, so every pair is adjacent),
and prints one table: medians, min-max, and the ratios of the pairs, round by round. The same
table goes into docs/benchmarks.md between its two markers, with the date, the machine and the
tool versions; the rest of that page is left as it is.

Times are wall times measured around each program by qmrbench_run, except where a program
times itself (the floor, and the programs run under Wine, whose start-up is not counted).
"""

import argparse
import collections
import concurrent.futures
import datetime
import glob
import hashlib
import json
import os
import pathlib
import platform
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile

MiB = 1 << 20
DOC_BEGIN = "<!-- bench:begin (written by scripts/bench) -->"
DOC_END = "<!-- bench:end -->"

STUB_LIMIT = 24064  # the payload offset the design ships with
TEXT_SOURCE = "/usr/share/mingw-w64/include"
BINARY_SOURCE = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"


# ---- Running and timing ----

# One run: its wall time, and where known its time to the first window and its peak resident set.
Sample = collections.namedtuple("Sample", "seconds first_window rss_kib", defaults=(None, None))
QUIET = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}


def fail(message):
    raise SystemExit("bench: " + message)


def timed(tools, command, stdin=None, stdout=None, stderr=None, setsid=False, env=None):
    """A run of `command` under qmrbench_run, returning its Sample, that fails the bench unless it
    succeeds."""
    argv = [os.path.join(tools, "qmrbench_run")] + (["--setsid"] if setsid else [])
    for flag, value in (("--stdin", stdin), ("--stdout", stdout), ("--stderr", stderr)):
        argv += [flag, value] if value else []
    for name, value in (env or {}).items():
        argv += ["--env", f"{name}={value}"]

    def run():
        out = subprocess.run(argv + ["--"] + command, check=True, capture_output=True, text=True).stdout.split()
        if out[2] != "0":
            fail(f"{' '.join(command)} failed ({out[2]})" + (f"; see {stderr}" if stderr else ""))
        return Sample(float(out[0]), rss_kib=int(out[1]))
    return run


def inner_fields(command, env=None, count=1):
    """Runs a program that times itself and prints `count` figures, the seconds first. Its output
    goes through a file, not a pipe: programs it leaves running (Wine's services) would hold a
    pipe open."""
    with tempfile.TemporaryFile("w+") as out, tempfile.TemporaryFile("w+") as err:
        code = subprocess.run(command, stdout=out, stderr=err, env=env).returncode
        out.seek(0)
        err.seek(0)
        fields = out.read().split()
        if code != 0 or len(fields) < count:
            fail(f"{' '.join(command)} failed ({code}): {err.read().strip()[-400:]}")
        return [float(f) for f in fields[:count]]


class Contender:
    """One program in a comparison: `prepare` runs untimed before each run, `run` returns a
    Sample, `check` (untimed, after the warm-up run) raises when the output is wrong."""

    def __init__(self, name, run, prepare=None, check=None, size=None):
        self.name = name
        self.run = run
        self.prepare = prepare or (lambda: None)
        self.check = check or (lambda: None)
        self.size = size  # bytes processed, for the rate
        self.samples = []


def compare(baseline, contenders, rounds, log, group, of):
    """Runs the baseline and each contender in turn: one warm-up round, then `rounds` rounds."""
    log.write(f"{group}: {rounds} rounds of {of} ")
    for r in range(rounds + 1):
        order = [baseline] + contenders if r % 2 == 0 else contenders[::-1] + [baseline]
        for c in order:
            c.prepare()
            sample = c.run()
            if r == 0:
                c.check()
            else:
                c.samples.append(sample)
        log.write(".")
        log.flush()
    log.write("\n")


def times(c):
    return [s.seconds for s in c.samples]


def paired(a, b, value=lambda s: s.seconds):
    """Ratios a/b of the samples of two contenders, round by round."""
    return [value(x) / value(y) for x, y in zip(a.samples, b.samples)]


# ---- Formatting ----

def fmt_time(seconds):
    return f"{seconds * 1e3:.1f} ms" if seconds < 10 else f"{seconds:.2f} s"


def fmt_range(values, f=fmt_time):
    return f"{f(min(values))} – {f(max(values))}"


def fmt_ratio(values):
    return f"{statistics.median(values):.2f}× ({min(values):.2f}–{max(values):.2f})"


def fmt_rate(size, seconds):
    rate = size / seconds / 1e6
    return f"{rate / 1e3:.2f} GB/s" if rate >= 1000 else f"{rate:.1f} MB/s"


class Table:
    HEADER = ["Measure", "Program", "Median", "Min – max", "Rate / size", "Paired ratio, median (min–max)",
              "Target", "Met"]

    def __init__(self):
        self.rows = []
        self.verdicts = []

    def row(self, measure, program, median="", spread="", rate="", ratio="", target="", met=None):
        self.rows.append([measure, program, median, spread, rate, ratio, target,
                          "" if met is None else ("yes" if met else "**no**")])
        if met is not None:
            self.verdicts.append((measure, target, met))

    def contender(self, measure, c, ratio="", target="", met=None, size_note=""):
        t = times(c)
        self.row(measure, c.name, fmt_time(statistics.median(t)), fmt_range(t),
                 fmt_rate(c.size, statistics.median(t)) + size_note if c.size else "", ratio, target, met)

    def paired(self, measure, c, label, a, b, target="", judge=None):
        """The row of `c` with the ratios a/b under `label`; `judge(median)` tells if the target is met."""
        ratios = paired(a, b)
        self.contender(measure, c, f"{label} {fmt_ratio(ratios)}", target,
                       None if judge is None else judge(statistics.median(ratios)))

    def markdown(self):
        lines = ["| " + " | ".join(self.HEADER) + " |", "|" + "---|" * len(self.HEADER)]
        previous = None
        for r in self.rows:
            # A measure is named on its first row only.
            lines.append("| " + " | ".join([r[0] if r[0] != previous else ""] + r[1:]) + " |")
            previous = r[0]
        return "\n".join(lines)


# ---- Inputs ----

def is_pe(path):
    with open(path, "rb") as f:
        return f.read(2) == b"MZ"


def build_inputs(directory, log):
    """The 64 MiB text and binary inputs and their 8 MiB prefixes, with mscompress's output
    of each. Reused while the sources and their compressed forms are unchanged."""
    os.makedirs(directory, exist_ok=True)
    headers = sorted(glob.glob(os.path.join(TEXT_SOURCE, "**", "*.h"), recursive=True))
    binaries = sorted(p for p in glob.glob(os.path.join(BINARY_SOURCE, "**", "*"), recursive=True)
                      if os.path.isfile(p) and is_pe(p))
    if not headers or not binaries:
        fail(f"the inputs need {TEXT_SOURCE} (mingw-w64-common) and {BINARY_SOURCE} (wine64)")

    once = b"".join(pathlib.Path(p).read_bytes() for p in headers)
    text = once * (64 * MiB // len(once) + 1)
    binary = bytearray()
    for p in binaries:
        if len(binary) >= 64 * MiB:
            break
        binary += pathlib.Path(p).read_bytes()
    if len(binary) < 64 * MiB:
        fail(f"the PE files under {BINARY_SOURCE} add up to less than 64 MiB")
    contents = {"text": text[:64 * MiB], "binary": bytes(binary[:64 * MiB])}
    contents.update({name + "8": data[:8 * MiB] for name, data in contents.items()})

    key = hashlib.sha256(b"".join(contents[k] for k in sorted(contents))).hexdigest()
    key_path = os.path.join(directory, "inputs.sha256")
    names = sorted(contents)
    if os.path.exists(key_path) and open(key_path).read().strip() == key and \
            all(os.path.exists(os.path.join(directory, n + "_")) for n in names):
        log.write("inputs: reusing the inputs and mscompress's output of them\n")
    else:
        log.write("inputs: writing the inputs and compressing them with mscompress (about a minute)\n")
        for n in names:
            pathlib.Path(directory, n).write_bytes(contents[n])
            fresh(os.path.join(directory, n + "_"), False)
        # Two at a time: the machine has two cores to share.
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            codes = list(pool.map(lambda n: subprocess.run(["mscompress", os.path.join(directory, n)]).returncode, names))
        if any(codes):
            fail("mscompress failed on the inputs")
        pathlib.Path(key_path).write_text(key + "\n")
    return {n: os.path.join(directory, n) for n in names}, {"headers": len(headers)}


def same_file(a, b):
    if os.path.getsize(a) != os.path.getsize(b):
        return False
    return subprocess.run(["cmp", "-s", a, b]).returncode == 0


def fresh(path, create=True):
    """Removes `path`, a file or a directory; with `create`, an empty directory takes its place."""
    if os.path.isfile(path):
        os.remove(path)
    shutil.rmtree(path, ignore_errors=True)
    if create:
        os.makedirs(path)


# A set written by qmrbench_set: the directory of its plain files, their names and total size,
# the names the launcher leaves, and the launcher.
Set = collections.namedtuple("Set", "files names total expected launcher")


def write_set(a, stub, work, *options):
    """Writes the set with `stub` into `work` (qmrbench_set)."""
    subprocess.run([os.path.join(a.tools, "qmrbench_set"), "--stub", stub, "--out", work, *options], check=True,
                   stdout=subprocess.DEVNULL)
    files = os.path.join(work, "files")
    names = sorted(os.listdir(files))
    total = sum(os.path.getsize(os.path.join(files, n)) for n in names)
    expanded = sorted([n for n in names if not n.startswith("qmrsetup.")] + ["qmrsetup.exe", "qmrsetup.inf"])
    return Set(files, names, total, expanded, os.path.join(work, "set", os.path.basename(stub)))


def check_copy(s, out, expected, compare_all=True):
    """Fails unless `out` holds just `expected`, and each of the set's files but the setup files
    there is the size of its original (with `compare_all`, the same bytes)."""
    found = sorted(os.listdir(out))
    if found != expected:
        fail(f"{out} holds {found}, not {expected}")
    for n in [n for n in s.names if not n.startswith("qmrsetup.")]:
        a_path, b_path = os.path.join(s.files, n), os.path.join(out, n)
        if os.path.getsize(a_path) != os.path.getsize(b_path) or (compare_all and not same_file(a_path, b_path)):
            fail(f"{b_path} differs from {a_path}")


def copying(name, run, s, out, expected=None, compare_all=True, create=True, prepare=None):
    """A contender writing the set `s` into `out`, emptied before each run (without `create`,
    removed), and checked to leave `expected` there (by default the plain files)."""
    return Contender(name, run, prepare=prepare or (lambda: fresh(out, create)),
                     check=lambda: check_copy(s, out, expected or s.names, compare_all), size=s.total)


def output_check(command, expected, out, stdin=None, env=None):
    """A check: `command` run into `out` (its standard output when it reads standard input or is
    7-Zip's -so), compared with `expected`."""
    def check():
        to_stdout = stdin is not None or "-so" in command
        with open(stdin or os.devnull, "rb") as fin, open(out if to_stdout else os.devnull, "wb") as fout:
            subprocess.run(command, stdin=fin, stdout=fout, stderr=subprocess.DEVNULL, check=True, env=env)
        ok = same_file(out, expected)
        os.remove(out)
        if not ok:
            fail(f"{' '.join(command)} did not reproduce {expected}")
    return check


# ---- The machine ----

def first_line(command):
    try:
        out = subprocess.run(command, capture_output=True, text=True, timeout=30)
        return next((line.strip() for line in (out.stdout + out.stderr).splitlines() if line.strip()), "?")
    except (OSError, subprocess.TimeoutExpired):
        return "not available"


def package_version(name):
    out = subprocess.run(["dpkg-query", "-W", "-f=${Version}", name], capture_output=True, text=True)
    return out.stdout.strip() if out.returncode == 0 else "not installed"


def machine(work):
    def field(path, name):
        with open(path) as f:
            return next((line.split(":", 1)[1].strip() for line in f if line.startswith(name)), None)
    kib = field("/proc/meminfo", "MemTotal")
    return {"nproc": str(os.cpu_count()), "cpu": field("/proc/cpuinfo", "model name") or "?",
            "memory": f"{int(kib.split()[0]) / 1024 / 1024:.1f} GiB" if kib else "?",
            "fs": first_line(["findmnt", "-n", "-o", "FSTYPE", "-T", work]), "kernel": platform.release()}


def versions():
    seven = re.sub(r"\s*:\s*Copyright.*", "", first_line(["7zz"]))
    return [
        first_line(["g++", "--version"]),
        first_line(["x86_64-w64-mingw32-g++", "--version"]) + f" (Debian {package_version('g++-mingw-w64-x86-64')})",
        first_line(["cp", "--version"]),
        f"{seven} (Debian 7zip {package_version('7zip')})",
        f"mscompress and msexpand {package_version('mscompress')}",
        f"libmspack {package_version('libmspack-dev')}",
        f"{first_line(['wine', '--version'])}",
        f"Google Benchmark {package_version('libbenchmark-dev')}",
        f"NSIS {first_line(['makensis', '-VERSION'])} (Debian {package_version('nsis')})",
        f"inputs from mingw-w64-common {package_version('mingw-w64-common')} and libwine {package_version('libwine')}",
    ]


# ---- Wine ----

class Wine:
    """A private Wine prefix under /tmp for the run, removed afterwards, for the programs in `windows`."""

    def __init__(self, log, windows):
        self.server = self.xvfb = None
        self.windows = windows
        self.prefix = tempfile.mkdtemp(prefix="qmrbench-wine.", dir="/tmp")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", WINEARCH="win64")
        log.write("wine: preparing a private prefix\n")
        try:
            self.env.pop("DISPLAY", None)
            subprocess.run(["wineboot", "-i"], env=self.env, **QUIET)
            # No window manager: unmanaged windows, or Wine waits for one on every hide.
            for name in ("Managed", "Decorated"):
                subprocess.run(["wine", "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", name, "/d", "N",
                                "/f"], env=self.env, **QUIET)
            subprocess.run(["wineserver", "-w"], env=self.env, **QUIET)
            self.start_xvfb(log)
            # One server for all the runs: none of them pays for its start.
            self.server = subprocess.Popen(["wineserver", "-p", "-f"], env=self.env, **QUIET)
        except BaseException:
            self.close()
            raise

    def start_xvfb(self, log):
        """A headless X server for the programs that show windows; without Xvfb they are left out."""
        if shutil.which("Xvfb") is None:
            log.write("wine: no Xvfb, so no windows: the installer comparison is left out\n")
            return
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                                      "-nolisten", "tcp"], pass_fds=(write_end,), **QUIET)
        os.close(write_end)
        # The server writes its display number once it accepts clients.
        with os.fdopen(read_end) as f:
            display = f.readline().strip()
        if not display:
            fail("Xvfb did not start")
        self.env["DISPLAY"] = ":" + display

    @staticmethod
    def path(posix_path):
        return "Z:" + os.path.abspath(posix_path).replace("/", "\\")

    def command(self, program, *args):
        """The command that runs `program`, one of the Windows benchmark programs, in the prefix."""
        return ["wine", os.path.join(self.windows, program), *args]

    def run_inner(self, program, *args, count=1):
        """Runs `program`, which times itself: a Sample of its seconds (and time to the first window)."""
        return Sample(*inner_fields(self.command(program, *args), env=self.env, count=count))

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env, **QUIET)
        if self.server is not None:
            try:
                self.server.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.server.kill()
        if self.xvfb is not None:
            self.xvfb.terminate()
            self.xvfb.wait()
        shutil.rmtree(self.prefix, ignore_errors=True)


# ---- The benchmarks ----

CLEANUP_LIST_SIZE = 8192  # format/layout.h: kCleanupListSize


def small_files_that_fit(temp_dir):
    """As many files of the small set as the launcher's clean-up list holds when it extracts
    into `temp_dir`: each path (Windows form) and its NUL, and the list's final NUL."""
    directory = len(Wine.path(temp_dir)) + 1
    setup = 2 * (directory + len("qmrsetup.in_") + 1)
    return (CLEANUP_LIST_SIZE - 1 - setup) // (directory + len("s0001.bin") + 1)


def bench_extraction(a, table, log, wine, small_files=0):
    """The big set, or with `small_files` the set of that many small files, whose outputs go
    under one short directory of /tmp so that the clean-up list holds them all."""
    tools = a.tools
    work = os.path.join(a.work, "extract-small" if small_files else "extract")
    os.makedirs(work, exist_ok=True)
    stub = os.path.join(a.build, "qmrsfx")
    set_args = ["--small-files", str(small_files)] if small_files else []
    log.write(f"extraction: writing the {f'{small_files}-file' if small_files else '256 MiB'} set\n")
    s = write_set(a, stub, work, *set_args)
    answers = os.path.join(work, "answers")
    pathlib.Path(answers).write_text("y\n")

    # The small set's outputs go under a short path, where the clean-up list holds more of them.
    outputs = a.small_out if small_files else work
    launcher_out = os.path.join(outputs, "l" if small_files else "launcher-out")
    floor_out, cp_out = os.path.join(work, "floor-out"), os.path.join(work, "cp-out")

    launcher_log = os.path.join(work, "launcher.log")
    launch = timed(tools, [s.launcher], stdin=answers, stderr=launcher_log, setsid=True, env={"TMPDIR": launcher_out})

    def run_launcher():
        sample = launch()
        if sorted(os.listdir(launcher_out)) != s.expected:
            fail(f"the launcher's run left {sorted(os.listdir(launcher_out))}; see {launcher_log}")
        return sample

    floor_command = [os.path.join(tools, "qmrbench_floor"), "--out", floor_out] + set_args
    floor = copying("floor: the same files written from memory, 16 KiB per write, times set",
                    lambda: Sample(*inner_fields(floor_command)), s, floor_out, create=False)
    ours = copying("`qmrsfx`, the Linux launcher (answers on standard input, no terminal)", run_launcher, s,
                   launcher_out, s.expected)
    cp = copying("`cp -r` of the same files into a fresh directory", timed(tools, ["cp", "-r", s.files, cp_out]), s,
                 cp_out, compare_all=False, create=False)
    compare(cp, [ours, floor], a.rounds, log, "extraction", "cp -r, the launcher and the floor")

    measure = f"1. Extraction: {s.total / MiB:.0f} MiB in {len(s.names)} files, 3 volumes"
    if small_files:
        measure = f"1b. Extraction: {len(s.names)} small files ({s.total / 1024:.0f} KiB), 3 volumes"
    table.contender(measure, cp, target="the baseline")
    table.paired(measure, ours, "launcher / cp", ours, cp, "≤ 1.50× cp -r", lambda m: m <= 1.50)
    table.paired(measure, floor, "launcher / floor", ours, floor, "(information)")

    # The memory figures are the big set's.
    if not small_files:
        rss = paired(ours, cp, lambda sample: sample.rss_kib)
        measure = "5. Memory: peak RSS while extracting"
        fmt_kib = lambda v: f"{v / 1024:.2f} MiB"
        for c, name, *judged in ((ours, "`qmrsfx`, the Linux launcher", "", "launcher / cp " + fmt_ratio(rss),
                                  "≤ 2× cp", statistics.median(rss) <= 2.0), (cp, "`cp -r`")):
            kib = [sample.rss_kib for sample in c.samples]
            table.row(measure, name, fmt_kib(statistics.median(kib)), fmt_range(kib, fmt_kib), *judged)

    removed = [launcher_out, floor_out, cp_out]
    if wine is not None:
        wine_out = os.path.join(outputs, "w" if small_files else "wine-out")
        wine_copy = os.path.join(work, "wine-copy")
        offset = str(os.path.getsize(stub))
        w_extract = copying("the launcher's extraction over the Windows layer (`qmrbench_extract.exe`)",
                            lambda: wine.run_inner("qmrbench_extract.exe", Wine.path(s.launcher), offset,
                                                   Wine.path(wine_out)), s, wine_out, s.expected)
        w_copy = copying("bare Win32 copy of the same files, one 16 KiB buffer (`qmrbench_copy.exe`)",
                         lambda: wine.run_inner("qmrbench_copy.exe", Wine.path(s.files), Wine.path(wine_copy)), s,
                         wine_copy)
        compare(w_copy, [w_extract], a.rounds, log, "wine", "the extraction and the bare copy")
        measure = "6b. Under Wine, the small files" if small_files else "6. Under Wine (timed inside each program)"
        table.contender(measure, w_copy, target="(information)")
        table.paired(measure, w_extract, "extraction / copy", w_extract, w_copy, "(information)")
        removed += [wine_out, wine_copy]
    for path in removed:
        shutil.rmtree(path, ignore_errors=True)


# ---- Against an installer: NSIS under Wine ----

NSIS_TARGET = "amd64-unicode"


def nsis_quote(path):
    """A path as an NSIS script quotes it. makensis takes `$`, `"` and `%` specially even in the
    paths it reads at build time, so the harness passes paths relative to the script (names of
    its own) and refuses anything else."""
    if any(c in path for c in '$"%`\n'):
        fail(f"an NSIS script cannot name {path!r} as it is")
    return '"' + path + '"'


def nsis_script(out_exe, files=(), compress=True, crc=True, silent_init_box=False):
    """An NSIS script: a Unicode amd64 installer that puts `files` into $TEMP with its progress
    window (or, with `silent_init_box`, shows a message box from .onInit and quits). Paths are
    relative to the script's directory, where makensis reads them from."""
    lines = ["Unicode true", f"Target {NSIS_TARGET}", 'Name "Quillmoor"', f"OutFile {nsis_quote(out_exe)}",
             "RequestExecutionLevel user"]
    if not compress:
        lines.append("SetCompress off")
    if not crc:
        lines.append("CRCCheck off")
    if silent_init_box:
        lines += ["Function .onInit", '  MessageBox MB_OK "Quillmoor"', "  Quit", "FunctionEnd"]
    lines += ["Page instfiles", "Section"]
    if files:
        lines.append("  SetOutPath $TEMP")
        lines += [f"  File {nsis_quote(f)}" for f in files]
    lines += ["SectionEnd", ""]
    return "\n".join(lines)


def makensis(script_text, path):
    pathlib.Path(path).write_text(script_text, encoding="utf-8")
    result = subprocess.run(["makensis", "-V2", "-INPUTCHARSET", "UTF8", os.path.basename(path)],
                            cwd=os.path.dirname(os.path.abspath(path)), capture_output=True, text=True)
    if result.returncode != 0:
        fail(f"makensis {path} failed: {(result.stdout + result.stderr).strip()[-400:]}")


IDOK, IDYES, IDNO = 1, 6, 7


def bench_installer(a, table, log, wine):
    """The launcher against NSIS under Wine: extraction of the set into the temporary directory,
    the stub's size and the start-up to the first window."""
    if shutil.which("makensis") is None or "DISPLAY" not in wine.env:
        log.write("installer: makensis or Xvfb missing, left out\n")
        return
    work = os.path.join(a.work, "installer")
    nsis = os.path.join(work, "nsis")
    os.makedirs(nsis, exist_ok=True)
    log.write("installer: writing the set with a Windows setup program\n")
    s = write_set(a, a.windows_launcher, work, "--setup", os.path.join(a.windows, "qmrbench_stamp.exe"))
    paths = [os.path.join(s.files, n) for n in s.names]

    # One megabyte of incompressible bytes, the payload of the installer whose overhead is weighed.
    one = os.path.join(nsis, "payload.bin")
    with open(max(paths, key=os.path.getsize), "rb") as f, open(one, "wb") as g:
        g.write(f.read(1 << 20))
    log.write("installer: building the NSIS installers (makensis)\n")
    built = {}
    relative = [os.path.relpath(p, nsis) for p in paths]
    for key, files, options in (("stored", relative, {"compress": False}),
                                ("stored-nocrc", relative, {"compress": False, "crc": False}),
                                ("zlib", relative, {}),
                                ("one", [os.path.basename(one)], {"compress": False}),
                                ("empty", (), {}),
                                ("oninit", (), {"silent_init_box": True})):
        makensis(nsis_script(key + ".exe", files, **options), os.path.join(nsis, key + ".nsi"))
        built[key] = os.path.join(nsis, key + ".exe")

    # Stub size: ours against what NSIS adds to the same job's stored payload.
    ours_size = os.path.getsize(a.windows_launcher)
    overhead = os.path.getsize(built["one"]) - os.path.getsize(one)
    stored_overhead = os.path.getsize(built["stored"]) - s.total
    measure = "7. Against NSIS 3 (amd64-unicode) under Wine: stub size"
    table.row(measure, "`qmrsfx.exe`", f"{ours_size:,} bytes", ratio=f"ours / NSIS overhead {ours_size / overhead:.2f}",
              target="≤ 0.50× NSIS's overhead", met=ours_size / overhead <= 0.5)
    table.row(measure, "NSIS, stored (`SetCompress off`), files into `$TEMP` with its progress window: "
                       "installer minus its 1 MiB payload", f"{overhead:,} bytes")
    table.row(measure, "the same holding the set's 42 files: installer minus the 256 MiB", f"{stored_overhead:,} bytes",
              target="(information)")
    table.row(measure, "NSIS, an empty script (default compression)", f"{os.path.getsize(built['empty']):,} bytes",
              target="(information)")

    out, stamp = os.path.join(work, "out"), os.path.join(work, "stamp.bin")

    def prepare():
        fresh(out)
        fresh(stamp, False)

    def started(name, program, *args, until, answer=None, expected=None):
        """A contender: `program` started inside Wine by qmrbench_start.exe with `out` for its
        TEMP, timed from its process creation to `until`, and to its first window; the
        launcher's run also to its setup program's start, which that records in `stamp`."""
        options = ["--temp", Wine.path(out)] + (["--answer", str(answer)] if answer else [])
        options += ["--stamp", Wine.path(stamp)] if until == "setup" else []
        run = lambda: wine.run_inner("qmrbench_start.exe", *options, "--until", until, "--", Wine.path(program),
                                     *args, count=2)
        if until == "window":
            return Contender(name, run, prepare=prepare)
        return copying(name, run, s, out, expected, prepare=prepare)

    ours = started("`qmrsfx.exe` run whole: confirmation answered at once, progress dialog, to the setup "
                   "program's start", s.launcher, answer=IDYES, until="setup", expected=s.expected)
    stored = started("NSIS, stored (`SetCompress off`), `/S`, to its exit", built["stored"], "/S", until="exit")
    nocrc = started("NSIS, stored, `CRCCheck off`, `/S`, to its exit", built["stored-nocrc"], "/S", until="exit")
    zlib = started("NSIS, default compression (zlib), `/S`, to its exit", built["zlib"], "/S", until="exit")
    compare(ours, [stored, nocrc, zlib], a.rounds, log, "installer", "the launcher and three NSIS installers")
    measure = (f"8. Against NSIS under Wine: {s.total / MiB:.0f} MiB in {len(s.names)} files into the temporary "
               "directory")
    to_box = [sample.first_window for sample in ours.samples]
    table.contender(measure, ours, ratio=f"of which to the confirmation {fmt_time(statistics.median(to_box))}",
                    target="≤ 1.00× NSIS stored")
    table.paired(measure, stored, "ours / NSIS", ours, stored, "≤ 1.00×", lambda m: m <= 1.0)
    for c in (nocrc, zlib):
        table.paired(measure, c, "ours / NSIS", ours, c, "(information)")

    ours_box = started("`qmrsfx.exe` (the set's launcher): its confirmation box", s.launcher, answer=IDNO,
                       until="window")
    nsis_box = started("NSIS: a message box from `.onInit`", built["oninit"], answer=IDOK, until="window")
    # Twice the rounds: each takes a fraction of a second, and the figure is small beside the noise.
    compare(ours_box, [nsis_box], 2 * a.rounds, log, "installer", "the start-up to the first window")
    measure = "9. Against NSIS under Wine: start-up, process creation to the first window"
    table.contender(measure, ours_box, target="≤ 1.00× NSIS")
    table.paired(measure, nsis_box, "ours / NSIS", ours_box, nsis_box, "≤ 1.00×", lambda m: m <= 1.0)
    shutil.rmtree(out, ignore_errors=True)


def bench_expansion(a, inputs, table, log, wine):
    tools = a.tools
    szdd = os.path.join(tools, "qmrbench_szdd")
    mspack = os.path.join(tools, "qmrbench_mspack")
    scratch = os.path.join(a.work, "expand")
    os.makedirs(scratch, exist_ok=True)
    out = os.path.join(scratch, "out")

    def expander(name, command, source, stdin=None):
        """A contender expanding into /dev/null by `command(output)`, checked by a run into `out`."""
        return Contender(name, timed(tools, command(os.devnull), stdin=stdin),
                         check=output_check(command(out), source, out, stdin), size=os.path.getsize(source))

    for kind in ("text", "binary"):
        packed, source = inputs[kind] + "_", inputs[kind]
        size = os.path.getsize(source)
        ours = expander("ours (`qmrbench_szdd expand`, read(2)/write(2) to /dev/null)",
                        lambda o: [szdd, "expand", packed, o], source)
        peers = [expander("7-Zip: `7zz e -so`, to /dev/null", lambda o: ["7zz", "e", "-so", packed], source),
                 expander("libmspack: `msszdd_decompressor` through `qmrbench_mspack`, to /dev/null",
                          lambda o: [mspack, packed, o], source)]
        if wine is not None:
            check = output_check(wine.command("qmrbench_lz32.exe", Wine.path(packed), Wine.path(out)), source, out,
                                 env=wine.env)
            peers.append(Contender("Wine's LZ32 `LZCopy`, timed inside `qmrbench_lz32.exe`, to NUL",
                                   lambda: wine.run_inner("qmrbench_lz32.exe", Wine.path(packed), "NUL"),
                                   check=check, size=size))
        compare(ours, peers, a.rounds, log, f"expansion, {kind}", f"ours and {len(peers)} peers")

        measure = f"2. SZDD expansion, {kind}: {size / MiB:.0f} MiB out"
        table.contender(measure, ours, target="≥ 1.20× the fastest peer")
        fastest = min(peers, key=lambda p: statistics.median(times(p)))
        for p in peers:
            target = ("≥ 1.20× (the fastest peer)", lambda m: m >= 1.20) if p is fastest else ()
            table.paired(measure, p, "ours faster by", p, ours, *target)

        # msexpand makes one system call per byte: it expands the 8 MiB prefix, beside ours.
        packed8, source8 = inputs[kind + "8"] + "_", inputs[kind + "8"]
        ours8 = expander("ours, on the 8 MiB prefix", lambda o: [szdd, "expand", packed8, o], source8)
        msexpand = expander("`msexpand` < file > /dev/null, on the 8 MiB prefix", lambda o: ["msexpand"], source8,
                            stdin=packed8)
        compare(ours8, [msexpand], a.slow_rounds, log, f"expansion, {kind}, 8 MiB", "ours and msexpand")
        table.contender(measure, ours8)
        table.paired(measure, msexpand, "ours faster by", msexpand, ours8)


def bench_compression(a, inputs, table, log):
    tools = a.tools
    szdd = os.path.join(tools, "qmrbench_szdd")
    scratch = os.path.join(a.work, "compress")
    os.makedirs(scratch, exist_ok=True)
    back = os.path.join(scratch, "back")
    for kind in ("text8", "binary8"):
        source = inputs[kind]
        size = os.path.getsize(source)
        ours_out = os.path.join(scratch, kind + ".ours")
        theirs_in = os.path.join(scratch, kind)
        shutil.copyfile(source, theirs_in)
        theirs_out = theirs_in + "_"

        def check_ours():
            # Our output must expand back through both our expander and msexpand.
            output_check([szdd, "expand", ours_out, back], source, back)()
            output_check(["msexpand"], source, back, stdin=ours_out)()

        ours = Contender("ours (`qmrbench_szdd compress`)", timed(tools, [szdd, "compress", source, ours_out]),
                         check=check_ours, size=size)
        theirs = Contender("`mscompress`", timed(tools, ["mscompress", theirs_in]),
                           prepare=lambda: fresh(theirs_out, False), size=size)
        compare(ours, [theirs], a.slow_rounds, log, f"compression, {kind}", "ours and mscompress")
        ours_size, theirs_size = os.path.getsize(ours_out), os.path.getsize(theirs_out)
        speedup = paired(theirs, ours)
        measure = f"3. SZDD compression, {kind[:-1]}: 8 MiB prefix"
        table.contender(measure, ours, "ours faster by " + fmt_ratio(speedup), "≥ 20× speed",
                        statistics.median(speedup) >= 20, f"; {ours_size:,} B ({ours_size / size:.3f})")
        table.contender(measure, theirs,
                        f"ours / mscompress size {ours_size / theirs_size:.4f} ({(ours_size / theirs_size - 1) * 100:+.2f} %)",
                        "≤ 0.98 size", ours_size / theirs_size <= 0.98, f"; {theirs_size:,} B ({theirs_size / size:.3f})")


def bench_stub(a, table):
    if not os.path.exists(a.windows_launcher):
        table.row("4. Stub size", "`qmrsfx.exe`", "not built", target=f"≤ {STUB_LIMIT:,} bytes", met=False)
        return
    size = os.path.getsize(a.windows_launcher)
    table.row("4. Stub size", "`qmrsfx.exe` (MinSizeRel, stripped, every resource)", f"{size:,} bytes",
              target=f"≤ {STUB_LIMIT:,} bytes", met=size <= STUB_LIMIT)


def allocation_test(a, table):
    test = os.path.join(a.build, "tests", "unit", "extraction_loop_test")
    if not os.path.exists(test):
        table.row("5. Memory: heap allocations in the extraction loop", "`extraction_loop_test`", "not built",
                  target="none", met=False)
        return
    result = subprocess.run([test, "--gtest_filter=*Allocat*"], capture_output=True, text=True)
    counts = re.findall(r"heap allocations during the extraction loop: (\d+)", result.stdout)
    passed = result.returncode == 0 and counts != [] and all(c == "0" for c in counts)
    table.row("5. Memory: heap allocations in the extraction loop",
              "`extraction_loop_test` (3 volumes over the POSIX layer)",
              ", ".join(counts) if counts else "no count", target="none", met=passed)


def micro(a, inputs, log):
    exe = os.path.join(a.tools, "qmrbench_micro")
    if not os.path.exists(exe):
        return None
    log.write("micro-benchmarks: Google Benchmark on the 8 MiB prefixes\n")
    env = dict(os.environ, QMR_BENCH_TEXT=inputs["text8"], QMR_BENCH_BINARY=inputs["binary8"])
    out = subprocess.run([exe, "--benchmark_format=json", f"--benchmark_min_time={a.micro_time}"], env=env,
                         capture_output=True, text=True, check=True).stdout
    rows = ["| Benchmark | Time per run | Rate | Ratio |", "|---|---|---|---|"]
    for b in json.loads(out)["benchmarks"]:
        ratio = f"{b['ratio']:.3f}" if "ratio" in b else ""
        rows.append(f"| {b['name']} | {b['real_time']:.2f} ms | {b['bytes_per_second'] / 1e6:.1f} MB/s | {ratio} |")
    return "\n".join(rows)


# ---- The page ----

def report(a, table, micro_table, info, tool_versions, inputs_info, started, loads):
    missed = [f"{m.split(':')[0]} ({t})" for m, t, ok in table.verdicts if not ok]
    lines = [
        f"Run of {started:%Y-%m-%d %H:%M} UTC by `scripts/bench`.",
        "",
        f"- Machine: {info['nproc']} CPUs ({info['cpu']}), {info['memory']} of memory, Linux {info['kernel']}; "
        f"work files on {info['fs']}, in the page cache. Load average {loads[0]:.2f} at the start, "
        f"{loads[1]:.2f} at the end (the machine is shared).",
        "- Tools: " + "; ".join(tool_versions) + ".",
        f"- Inputs: text = the {inputs_info['headers']} headers under `{TEXT_SOURCE}`, sorted by path, "
        f"concatenated and repeated to 64 MiB; binary = the PE files under `{BINARY_SOURCE}`, sorted by "
        f"path, concatenated and cut at 64 MiB; both compressed with `mscompress`. The set: "
        f"`qmrbench_set` from its fixed seed.",
        f"- Rounds: one warm-up, then {a.rounds} ({a.slow_rounds} for `mscompress` and `msexpand`, "
        f"{2 * a.rounds} for the start-up under Wine), baseline and "
        f"contenders in turn; ratios are taken within each round.",
        "",
        table.markdown(),
        "",
        ("Every target above is met." if not missed else "Targets not met in this run: " + "; ".join(missed) + "."),
    ]
    if micro_table:
        lines += ["", "Micro-benchmarks (`qmrbench_micro`, in memory, on the 8 MiB prefixes):", "", micro_table]
    return "\n".join(lines)


def write_doc(path, section):
    begin_end = f"{DOC_BEGIN}\n{section}\n{DOC_END}"
    text = open(path, encoding="utf-8").read() if os.path.exists(path) else "# Benchmarks\n"
    if DOC_BEGIN in text and DOC_END in text:
        head, rest = text.split(DOC_BEGIN, 1)
        text = head + begin_end + rest.split(DOC_END, 1)[1]
    else:
        text = text.rstrip("\n") + "\n\n" + begin_end + "\n"
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True, help="the release build directory")
    parser.add_argument("--windows", help="the directory of the Windows benchmark programs")
    parser.add_argument("--windows-launcher", required=True, help="qmrsfx.exe")
    parser.add_argument("--work", required=True, help="where the inputs and outputs go")
    parser.add_argument("--doc", help="the page the table is written into")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--slow-rounds", type=int, default=5)
    parser.add_argument("--micro-time", default="0.5")
    parser.add_argument("--only", choices=["extraction", "small-files", "installer", "expansion", "compression"],
                        help="run one group of measures (the page is not written)")
    parser.add_argument("--smoke", action="store_true",
                        help="one round of the extraction of a few small files, every output checked and no "
                             "time judged: that the programs build and work (scripts/test)")
    a = parser.parse_args()
    if a.smoke:
        a.only, a.rounds, a.doc = "small-files", 1, None
    elif a.rounds < 5 or a.slow_rounds < 5:
        fail("at least 5 rounds after the warm-up")
    a.tools = os.path.join(a.build, "bench")
    log = sys.stderr
    started = datetime.datetime.now(datetime.timezone.utc)
    load_start = os.getloadavg()[0]
    os.makedirs(a.work, exist_ok=True)

    # Stopped from outside, the run still removes its Wine prefix.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    inputs, inputs_info = None, {"headers": 0}
    if a.only in (None, "expansion", "compression"):
        inputs, inputs_info = build_inputs(os.path.join(a.work, "inputs"), log)
    table = Table()
    wine = None
    a.small_out = tempfile.mkdtemp(prefix="q", dir="/tmp")
    try:
        if a.windows and shutil.which("wine"):
            wine = Wine(log, a.windows)
        if a.only in (None, "extraction"):
            bench_extraction(a, table, log, wine)
        if a.only == "small-files":
            fitting = small_files_that_fit(os.path.join(a.small_out, "l"))
            bench_extraction(a, table, log, wine, small_files=24 if a.smoke else fitting)
        if a.only in (None, "installer") and wine is not None:
            bench_installer(a, table, log, wine)
        if a.only in (None, "expansion"):
            bench_expansion(a, inputs, table, log, wine)
        if a.only in (None, "compression"):
            bench_compression(a, inputs, table, log)
    finally:
        if wine is not None:
            wine.close()
        shutil.rmtree(a.small_out, ignore_errors=True)
    micro_table = None
    if a.only is None:
        bench_stub(a, table)
        allocation_test(a, table)
        micro_table = micro(a, inputs, log)
    section = report(a, table, micro_table, machine(a.work), versions(), inputs_info, started,
                     (load_start, os.getloadavg()[0]))
    print(section)
    if a.doc and a.only is None:
        write_doc(a.doc, section)
        log.write(f"bench: the table is in {a.doc}\n")


if __name__ == "__main__":
    main()
