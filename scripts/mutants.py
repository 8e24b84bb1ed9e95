"""Single-value mutation check: does the test suite notice a changed number, comparison or
logical operator?

For each of N randomly chosen sites in the given code it changes one thing (an integer literal
+ 1, a comparison flipped, && and || swapped), rebuilds incrementally, runs the test programs
and records whether some test failed. A change whose object file comes out byte for byte the
same cannot change behaviour (an unused constant, say) and is listed apart, as is one that does
not compile. A change is booked as caught only when the failing test passes again on the
unchanged code; one that fails there too is booked as flaky, and one that runs out of time as a
time-out: neither counts in the share. Lines of data tables (rows of numbers only: EDID images,
init tables, filter coefficients) are left out of the draw unless --tables asks for them, and
then get a row of their own, so a folder's share says how well its logic is tested. Every file is
restored afterwards, also on Ctrl-C, SIGTERM or an error; a run that was killed outright leaves a
backup that the next run puts back first.

Run through scripts/mutants (see the README); --help lists the options.
"""
import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CODE_FOLDERS = ("core", "fpga", "scaler", "sources", "protocol", "gui", "upgrade", "cloud", "board")
SUFFIXES = (".cpp", ".h")
# The board backend is built only for the board: no test on a host runs it, so a change there
# would always survive.
NOT_TESTED_HERE = ("board/linux/",)
# A row of a data table holds literals, commas, braces and the closing semicolon only.
TABLE_PUNCTUATION_RE = re.compile(r"^[\s{},;]*$")

# Test program run first for code of each folder: the one that holds that folder's tests.
OWN_TESTS = {
    "core": ["test_core"], "fpga": ["test_fpga"], "scaler": ["test_scaler"],
    "sources": ["test_sources"], "protocol": ["test_protocol"], "board": ["test_board"],
    "gui": ["test_gui", "test_gui_input", "test_gui_led", "test_gui_settings"],
    "upgrade": ["test_upgrade"], "cloud": ["test_cloud"],
}

INT_RE = re.compile(r"(?<![\w.])(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)(?![\w.])")
# Binary operators written with spaces around them; templates and shifts are left alone.
OP_SWAPS = [(" <= ", " > "), (" >= ", " < "), (" == ", " != "), (" != ", " == "),
            (" < ", " >= "), (" > ", " <= "), (" && ", " || "), (" || ", " && ")]


class Site:
    def __init__(self, path, line_no, start, end, new_text, kind, table):
        self.path, self.line_no, self.start, self.end = path, line_no, start, end
        self.new_text, self.kind, self.table = new_text, kind, table

    def folder(self):
        top = self.path.split("/", 1)[0]
        return top + " tables" if self.table else top


def code_part(line):
    """The line without a trailing // comment."""
    cut = line.find("//")
    return line if cut < 0 else line[:cut]


def sites_in(path):
    sites = []
    in_block = False
    with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as f:
        lines = f.read().split("\n")
    for no, line in enumerate(lines, 1):
        text = line
        if in_block:
            end = text.find("*/")
            if end < 0:
                continue
            text = " " * (end + 2) + text[end + 2:]
            in_block = False
        start = text.find("/*")
        if start >= 0:
            end = text.find("*/", start + 2)
            if end < 0:
                in_block = True
                text = text[:start]
            else:
                text = text[:start] + " " * (end + 2 - start) + text[end + 2:]
        text = code_part(text)
        stripped = text.strip()
        # String and character literals, preprocessor lines and compile-time checks are not
        # behaviour a test can see.
        if not stripped or '"' in text or "'" in text or stripped.startswith("#") \
                or "static_assert" in text:
            continue
        table = bool(INT_RE.search(text)) and bool(TABLE_PUNCTUATION_RE.match(INT_RE.sub("", text)))
        for m in INT_RE.finditer(text):
            digits = m.group(1)
            if digits.lower().startswith("0x"):
                width = len(digits) - 2
                new = "0x%0*X" % (width, int(digits, 16) + 1)
            else:
                new = str(int(digits) + 1)
            sites.append(Site(path, no, m.start(1), m.end(1), new, "literal", table))
        for old, new in OP_SWAPS:
            pos = text.find(old)
            while pos >= 0:
                sites.append(Site(path, no, pos, pos + len(old), new, "operator", table))
                pos = text.find(old, pos + 1)
    return sites


def git_lines(*args):
    out = subprocess.run(["git", *args], cwd=ROOT, capture_output=True, text=True)
    return [l for l in out.stdout.split("\n") if l] if out.returncode == 0 else []


def changed_files():
    files = set(git_lines("diff", "--name-only", "HEAD"))
    base = git_lines("merge-base", "HEAD", "origin/main")
    if base and base[0] != git_lines("rev-parse", "HEAD")[0]:
        files |= set(git_lines("diff", "--name-only", base[0], "HEAD"))
    if not files:
        files = set(git_lines("diff", "--name-only", "HEAD~1", "HEAD"))
    return sorted(files)


def code_files(args):
    picked = set()
    for arg in args:
        rel = os.path.relpath(os.path.abspath(arg), ROOT)
        full = os.path.join(ROOT, rel)
        if os.path.isdir(full):
            for dirpath, _, names in os.walk(full):
                for n in names:
                    picked.add(os.path.relpath(os.path.join(dirpath, n), ROOT))
        elif os.path.isfile(full):
            picked.add(rel)
        else:
            sys.exit("mutants: no such file or folder: %s" % arg)
    return sorted(p for p in picked
                  if p.endswith(SUFFIXES) and p.split("/", 1)[0] in CODE_FOLDERS
                  and not p.startswith(NOT_TESTED_HERE))


class Restorer:
    """Keeps the original of the file being changed, in memory and in a backup file."""

    def __init__(self, build):
        self.backup = os.path.join(build, "mutant-backup")
        self.path = None
        self.original = None

    def recover(self):
        if os.path.exists(self.backup):
            with open(self.backup, "rb") as f:
                data = f.read()
            name, _, body = data.partition(b"\n")
            with open(os.path.join(ROOT, name.decode()), "wb") as f:
                f.write(body)
            os.remove(self.backup)
            print("mutants: restored %s from an interrupted run" % name.decode())

    def change(self, path, new_content):
        full = os.path.join(ROOT, path)
        with open(full, "rb") as f:
            self.original = f.read()
        self.path = path
        with open(self.backup, "wb") as f:
            f.write(path.encode() + b"\n" + self.original)
            f.flush()
            os.fsync(f.fileno())
        with open(full, "wb") as f:
            f.write(new_content)

    def restore(self):
        if self.path is None:
            return
        with open(os.path.join(ROOT, self.path), "wb") as f:
            f.write(self.original)
        self.path = None
        if os.path.exists(self.backup):
            os.remove(self.backup)


RUNNING = []  # the child process group running now, killed whole on a time-out or a signal


def kill_running():
    for p in RUNNING:
        try:
            os.killpg(p.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def run(cmd, cwd, timeout=None):
    # A session of its own, so that a time-out ends the test programs ctest started too and no
    # orphan keeps a port or the build folder busy for the next change.
    p = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                         text=True, start_new_session=True)
    RUNNING.append(p)
    try:
        out, _ = p.communicate(timeout=timeout)
        return p.returncode, out
    except subprocess.TimeoutExpired:
        kill_running()
        p.communicate()
        return None, "timed out"
    finally:
        RUNNING.remove(p)


def build_with_progress(cmd, cwd):
    """Runs a ninja build, showing its progress: ninja's [done/total] count, on one line that is
    rewritten on a terminal, else a line at every tenth. The exit status and the output's end."""
    p = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                         text=True, start_new_session=True)
    RUNNING.append(p)
    tail, shown, tty = [], -1, sys.stdout.isatty()
    try:
        for line in p.stdout:
            tail = (tail + [line])[-60:]
            m = re.match(r"\[(\d+)/(\d+)\]", line)
            if not m:
                continue
            done, total = int(m.group(1)), int(m.group(2))
            tenth = done * 10 // total
            if tty:
                print("\rmutants: building %d/%d" % (done, total), end="", flush=True)
            elif tenth != shown:
                print("mutants: building %d/%d" % (done, total), flush=True)
            shown = tenth
        p.wait()
    finally:
        RUNNING.remove(p)
    if tty and shown >= 0:
        print()
    return p.returncode, "".join(tail)


def report(state):
    """The changes that left the object code as it was, those no test noticed, and the table per
    folder of what ran so far."""
    if state["equivalents"]:
        print("\nChanges that leave the object code as it was (not counted):")
        for where, old, new in state["equivalents"]:
            print("  %s\n    - %s\n    + %s" % (where, old, new))
    if state["survivors"]:
        print("\nChanges no test noticed:")
        for where, old, new in state["survivors"]:
            print("  %s\n    - %s\n    + %s" % (where, old, new))
    print("\n%-16s %7s %9s %11s %10s %9s %6s %7s" % (
        "folder", "caught", "survived", "same code", "no build", "time-out", "flaky", "share"))
    for folder in sorted(state["results"]):
        t = state["results"][folder]
        counted = t["caught"] + t["survived"]
        share = "%d %%" % round(100.0 * t["caught"] / counted) if counted else "-"
        print("%-16s %7d %9d %11d %10d %9d %6d %7s" % (
            folder, t["caught"], t["survived"], t["equivalent"], t["stillborn"], t["timeout"],
            t["flaky"], share))
    print("seed %d" % state["seed"], flush=True)


def object_of(build, path):
    """The object file ninja builds from a source file, or None for a header."""
    if not path.endswith(".cpp"):
        return None
    rc, out = run(["ninja", "-t", "targets", "all"], build)
    suffix = "/" + path + ".o"
    for line in out.split("\n"):
        target = line.split(":", 1)[0]
        if target.endswith(suffix) and "/kel_board_linux" not in target:
            return target
    return None


def test_labels(build):
    rc, out = run(["ctest", "--print-labels"], build)
    return [l.strip() for l in out.split("\n") if l.strip().startswith("test_")]


def main():
    ap = argparse.ArgumentParser(
        prog="scripts/mutants",
        description="Makes single-value changes in the given code and reports those that no "
                    "test notices. Default: the code files the current change touches.")
    ap.add_argument("paths", nargs="*", help="files or folders (code folders only)")
    ap.add_argument("-n", type=int, default=20, help="changes per folder (default 20)")
    ap.add_argument("--seed", type=int, default=None, help="random seed (default: time)")
    ap.add_argument("--build", default=os.path.join(ROOT, "build-mutants"),
                    help="build folder (default build-mutants)")
    ap.add_argument("-j", type=int, default=os.cpu_count() or 2, help="parallel jobs")
    ap.add_argument("--tables", action="store_true",
                    help="also change rows of data tables, counted in a row of their own")
    ap.add_argument("--only", default=None,
                    help="run only these test programs (comma-separated, e.g. test_scaler): "
                         "quicker, but a change another program would catch counts as survived")
    args = ap.parse_args()

    files = code_files(args.paths) if args.paths else code_files(changed_files())
    if not files:
        sys.exit("mutants: no code files to change (name files or folders)")
    seed = args.seed if args.seed is not None else int(time.time())
    rng = random.Random(seed)

    build = os.path.abspath(args.build)
    os.makedirs(build, exist_ok=True)
    restorer = Restorer(build)
    restorer.recover()

    # What ran so far: the table is printed also when the run is interrupted.
    state = dict(seed=seed, results={}, survivors=[], equivalents=[], started=False)

    def on_signal(signum, _frame):
        kill_running()
        restorer.restore()
        state["interrupted"] = True
        print("\nmutants: interrupted; every file is restored")
        if state["started"]:
            report(state)
        sys.exit(130)
    for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(s, on_signal)

    env_launcher = ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"] if shutil.which("ccache") else []
    rc, out = run(["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
                   "-DKEL_TESTS=ON", "-DKEL_SANITIZE=OFF"] + env_launcher, ROOT)
    if rc != 0:
        sys.exit("mutants: configure failed\n" + out)
    print("mutants: building %s" % build, flush=True)
    rc, out = build_with_progress(["ninja", "-j", str(args.j)], build)
    if rc != 0:
        sys.exit("mutants: the unchanged tree does not build\n" + out[-3000:])
    labels = test_labels(build)
    if args.only:
        wanted = args.only.split(",")
        unknown = [w for w in wanted if w not in labels]
        if unknown:
            sys.exit("mutants: no test program named %s" % ", ".join(unknown))
        labels = wanted
    print("mutants: running the tests on the unchanged tree", flush=True)
    started = time.time()
    rc, out = run(["ctest", "-j", str(args.j), "--timeout", "300", "-L",
                   "^(%s)$" % "|".join(labels)], build)
    baseline = time.time() - started
    if rc != 0:
        sys.exit("mutants: the unchanged tree fails its tests; mend that first\n" + out[-3000:])
    limit = max(120, int(baseline * 4))

    by_folder = {}
    for path in files:
        for site in sites_in(path):
            if args.tables or not site.table:
                by_folder.setdefault(site.folder(), []).append(site)
    chosen = []
    for folder in sorted(by_folder):
        sites = by_folder[folder]
        rng.shuffle(sites)
        chosen.extend(sites[:args.n])
    print("mutants: seed %d, %d files, %d changes, suite %.0f s unchanged"
          % (seed, len(files), len(chosen), baseline))

    results = state["results"]  # folder -> {caught, survived, equivalent, stillborn, ...}
    survivors, equivalents = state["survivors"], state["equivalents"]
    state["started"] = True
    try:
        for i, site in enumerate(chosen, 1):
            full = os.path.join(ROOT, site.path)
            with open(full, "rb") as f:
                content = f.read()
            lines = content.split(b"\n")
            line = lines[site.line_no - 1].decode("utf-8", "replace")
            mutated = line[:site.start] + site.new_text + line[site.end:]
            lines[site.line_no - 1] = mutated.encode()
            where = "%s:%d" % (site.path, site.line_no)
            tally = results.setdefault(site.folder(), dict(caught=0, survived=0, equivalent=0,
                                                           stillborn=0, timeout=0, flaky=0))
            verdict = "interrupted"
            obj = object_of(build, site.path)
            before = None
            if obj:
                run(["ninja", obj], build)
                with open(os.path.join(build, obj), "rb") as f:
                    before = f.read()
            restorer.change(site.path, b"\n".join(lines))
            try:
                if obj:
                    rc, _ = run(["ninja", obj], build)
                    if rc != 0:
                        tally["stillborn"] += 1
                        verdict = "does not compile"
                        continue
                    with open(os.path.join(build, obj), "rb") as f:
                        if f.read() == before:
                            tally["equivalent"] += 1
                            equivalents.append((where, line.strip(), mutated.strip()))
                            verdict = "same object code"
                            continue
                # Only the test programs (and the program they start) are relinked.
                rc, _ = run(["ninja", "-j", str(args.j)] + labels, build)
                if rc != 0:
                    tally["stillborn"] += 1
                    verdict = "does not compile"
                    continue
                own = OWN_TESTS.get(site.path.split("/", 1)[0], [])
                order = [l for l in own if l in labels] + [l for l in labels if l not in own]
                verdict = "survived"
                failed_label = None
                deadline = time.time() + limit
                for label in order:
                    left = deadline - time.time()
                    if left <= 0:
                        verdict = "time-out"
                        break
                    rc, out = run(["ctest", "-j", str(args.j), "-L", "^%s$" % label,
                                   "--stop-on-failure", "--timeout", "120"], build, timeout=left)
                    if rc is None or "***Timeout" in out:
                        verdict = "time-out"
                        break
                    if rc != 0:
                        failed_label = label
                        break
                if failed_label:
                    # A catch counts only if the failing tests pass on the unchanged code.
                    restorer.restore()
                    rc, _ = run(["ninja", "-j", str(args.j)] + labels, build)
                    if rc == 0:
                        rc, _ = run(["ctest", "-j", str(args.j), "--rerun-failed", "--timeout",
                                     "120"], build, timeout=limit)
                    if rc is None:
                        verdict = "time-out"
                    else:
                        verdict = ("caught by " + failed_label) if rc == 0 else "flaky"
                if verdict == "survived":
                    tally["survived"] += 1
                    survivors.append((where, line.strip(), mutated.strip()))
                    verdict += ": %s -> %s" % (line.strip(), mutated.strip())
                elif verdict == "time-out":
                    tally["timeout"] += 1
                elif verdict == "flaky":
                    tally["flaky"] += 1
                else:
                    tally["caught"] += 1
            finally:
                restorer.restore()
                if not state.get("interrupted"):
                    print("[%d/%d] %s: %s" % (i, len(chosen), where, verdict), flush=True)
    finally:
        restorer.restore()

    report(state)
    # The build folder is left stale only in the object of the last change; bring it back.
    run(["ninja", "-j", str(args.j)], build)


if __name__ == "__main__":
    main()
