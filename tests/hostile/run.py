#!/usr/bin/env python3
"""Runs the program over the hostile-input corpus, each run within a time and
memory limit, and reports every crash, hang, memory blow-up, unexpected exit
or unexpected file effect.

    run.py --program BUILD/quillard [--cases DIR] [--only SUBSTRING]...
           [--limit-mb N] [--seconds N] [--sanitized]

Without --cases the corpus is made afresh (make_cases.py) in a scratch
folder. Each run gets a folder of its own:

    work/     the report and the files of the case; the report's folder
    outside/  files beside it that no run may touch (@OUTSIDE@ in a case)
    cwd/      the program's working folder (@CWD@ in a case)

and every file in all three is compared before and after: a run may only make
its output (out.png, out.pdf) and delete what the case allows for that mode.
Memory is limited with prlimit (address space, a hard stop) in a plain build
and with AddressSanitizer's own RSS limit in a sanitized one; the verdict
takes the run's largest resident size. A PDF or picture run starts with an
earlier file under the output's name: a run that fails must leave it, one
that succeeds must leave a whole one. Exits 1 when any run went wrong.
"""
import argparse
import json
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SANITIZER_EXIT = 99
# The job results of the command line: 0 success, 1 to 4 a failure it names.
EXPECTED_EXITS = {0, 1, 2, 3, 4}


def snapshot(root):
    """Every entry under root: kind, size, modification time and inode."""
    seen = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            st = os.lstat(path)
            seen[os.path.relpath(path, root)] = (st.st_mode, st.st_size, st.st_mtime_ns, st.st_ino)
    return seen


def prepare(case_dir, meta, run_dir):
    work, outside, cwd = (os.path.join(run_dir, n) for n in ("work", "outside", "cwd"))
    for d in (work, outside, cwd):
        os.makedirs(d)
    report = os.path.join(work, meta["report"])
    source = os.path.join(case_dir, meta["report"])
    if os.path.exists(source):
        # Large reports are copied as they are: the runner stays small, so
        # that what a run's process inherits does not count as its memory.
        if os.path.getsize(source) > (1 << 20):
            shutil.copyfile(source, report)
        else:
            with open(source, "rb") as f:
                data = f.read()
            with open(report, "wb") as f:
                f.write(data.replace(b"@OUTSIDE@", outside.encode()).replace(b"@CWD@", cwd.encode()))
    files = os.path.join(case_dir, "files")
    if os.path.isdir(files):
        for folder, _, names in os.walk(files):
            for name in names:
                rel = os.path.relpath(os.path.join(folder, name), files)
                if rel.startswith("@OUTSIDE@" + os.sep):
                    target = os.path.join(outside, rel[len("@OUTSIDE@") + 1:])
                elif rel.startswith("@CWD@" + os.sep):
                    target = os.path.join(cwd, rel[len("@CWD@") + 1:])
                else:
                    target = os.path.join(work, rel)
                os.makedirs(os.path.dirname(target), exist_ok=True)
                shutil.copyfile(os.path.join(folder, name), target)
    for name in meta["fifos"]:
        os.mkfifo(os.path.join(work, name))
    for name, target in meta["links"].items():
        os.symlink(target.replace("@OUTSIDE@", outside), os.path.join(work, name))
    return work, outside, cwd, report


def arguments(mode, work, report):
    if mode == "count":
        return ["--count-pages", report], None
    if mode == "png":
        out = os.path.join(work, "out.png")
        return ["--png", out, report], "out.png"
    out = os.path.join(work, "out.pdf")
    return ["--pdf", out, report], "out.pdf"


def run_one(program, case_name, case_dir, meta, mode, opts, scratch):
    run_dir = tempfile.mkdtemp(prefix=case_name[:40] + "-" + mode + "-", dir=scratch)
    work, outside, cwd, report = prepare(case_dir, meta, run_dir)
    args, output = arguments(mode, work, report)
    # An earlier output of the same name: a run that fails must leave it.
    earlier = b"an earlier file the run must leave alone unless it writes a whole one\n"
    if output:
        with open(os.path.join(work, output), "wb") as f:
            f.write(earlier)
    # Limits are set for a plain build; the sanitizers' shadow memory and
    # quarantine take about four times as much.
    limit_mb = (meta.get("limit_mb") or opts.limit_mb) * (4 if opts.sanitized else 1)
    seconds = meta.get("seconds") or opts.seconds
    before = {root: snapshot(root) for root in (work, outside, cwd)}

    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    env["QT_QPA_PLATFORM"] = "offscreen"
    env["HOME"] = cwd
    env["XDG_CONFIG_HOME"] = os.path.join(run_dir, "config")
    env["TMPDIR"] = env["TEMP"] = os.path.join(run_dir, "tmp")
    env["XDG_RUNTIME_DIR"] = os.path.join(run_dir, "runtime")
    os.makedirs(env["TMPDIR"])
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
    command = [program] + args
    if opts.sanitized:
        env["ASAN_OPTIONS"] = ":".join([env.get("ASAN_OPTIONS", ""), "exitcode=%d" % SANITIZER_EXIT,
                                        "hard_rss_limit_mb=%d" % limit_mb, "quarantine_size_mb=32",
                                        "detect_leaks=1"]).strip(":")
        env["UBSAN_OPTIONS"] = ":".join([env.get("UBSAN_OPTIONS", ""), "exitcode=%d" % SANITIZER_EXIT,
                                         "halt_on_error=1"]).strip(":")
        env["LSAN_OPTIONS"] = ":".join([env.get("LSAN_OPTIONS", ""), "exitcode=%d" % SANITIZER_EXIT]).strip(":")
    else:
        # The address space holds the libraries and thread stacks too: the hard
        # limit stops a runaway well before the machine suffers, the resident
        # size decides the verdict.
        command = ["prlimit", "--as=%d" % (max(4 * limit_mb, 1024) << 20), "--"] + command

    start = time.monotonic()
    with open(os.path.join(run_dir, "stderr"), "wb") as err:
        proc = subprocess.Popen(command, cwd=cwd, env=env, stdout=subprocess.DEVNULL, stderr=err,
                                start_new_session=True)
        hung = False
        while True:
            pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
            if pid:
                break
            if time.monotonic() - start > seconds:
                hung = True
                os.killpg(proc.pid, signal.SIGKILL)
                pid, status, usage = os.wait4(proc.pid, 0)
                break
            time.sleep(0.02)
    elapsed = time.monotonic() - start
    rss_mb = usage.ru_maxrss / 1024
    with open(os.path.join(run_dir, "stderr"), "rb") as f:
        stderr = f.read().decode("utf-8", "replace")

    problems = []
    if hung:
        problems.append("hang: still running after %d s" % seconds)
    elif os.WIFSIGNALED(status):
        problems.append("crash: killed by signal %d" % os.WTERMSIG(status))
    else:
        code = os.WEXITSTATUS(status)
        if code == SANITIZER_EXIT or "Sanitizer" in stderr or "runtime error:" in stderr:
            if "hard rss limit" in stderr or "allocation-size-too-big" in stderr or "out of memory" in stderr:
                problems.append("memory blow-up: over %d MB" % limit_mb)
            else:
                problems.append("crash: sanitizer report")
        elif code not in EXPECTED_EXITS:
            problems.append("unexpected exit %d" % code)
    if "std::bad_alloc" in stderr or "Cannot allocate memory" in stderr:
        problems.append("memory blow-up: an allocation failed")
    if rss_mb > limit_mb:
        problems.append("memory blow-up: %d MB resident" % rss_mb)

    if output and not hung:
        with open(os.path.join(work, output), "rb") as f:
            head = f.read(len(earlier))
        succeeded = os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0
        whole = head.startswith(b"%PDF-" if output.endswith(".pdf") else b"\x89PNG")
        if succeeded and not whole:
            problems.append("success without a whole %s" % output)
        if not succeeded and head != earlier:
            problems.append("a failed run replaced the earlier %s" % output)

    allowed = set(meta["allow"].get(mode, []))
    for root, name in ((work, "work"), (outside, "outside"), (cwd, "cwd")):
        after = snapshot(root)
        for path, state in before[root].items():
            if path not in after:
                if not (root == work and path in allowed):
                    problems.append("file effect: %s/%s deleted" % (name, path))
            elif after[path] != state and not (root == work and path == output):
                problems.append("file effect: %s/%s changed" % (name, path))
        for path in after:
            if path in before[root]:
                continue
            if root == work and path == output:
                continue
            problems.append("file effect: %s/%s made" % (name, path))

    if not problems:
        shutil.rmtree(run_dir, ignore_errors=True)
    return dict(case=case_name, mode=mode, seconds=elapsed, rss_mb=rss_mb, problems=problems, folder=run_dir,
                stderr=stderr[-2000:])


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", required=True)
    parser.add_argument("--cases")
    parser.add_argument("--only", action="append", default=[])
    parser.add_argument("--limit-mb", type=int, default=256,
                        help="resident memory per run of a plain build (a sanitized one may take four times as much)")
    parser.add_argument("--seconds", type=int, default=120)
    parser.add_argument("--sanitized", action="store_true", help="the program is built with AddressSanitizer")
    parser.add_argument("--keep", help="the folder to leave the runs that went wrong in")
    opts = parser.parse_args()

    program = os.path.abspath(opts.program)
    scratch = opts.keep or tempfile.mkdtemp(prefix="quillard-hostile-")
    os.makedirs(scratch, exist_ok=True)
    cases = opts.cases
    if not cases:
        cases = os.path.join(scratch, "cases")
        subprocess.run([sys.executable, os.path.join(HERE, "make_cases.py"), cases], check=True)

    results = []
    for name in sorted(os.listdir(cases)):
        if opts.only and not any(s in name for s in opts.only):
            continue
        case_dir = os.path.join(cases, name)
        with open(os.path.join(case_dir, "case.json")) as f:
            meta = json.load(f)
        for mode in meta["modes"]:
            r = run_one(program, name, case_dir, meta, mode, opts, scratch)
            results.append(r)
            verdict = "ok" if not r["problems"] else "; ".join(r["problems"])
            print("%-52s %-6s %7.2f s %6d MB  %s" % (name[:52], mode, r["seconds"], r["rss_mb"], verdict), flush=True)

    bad = [r for r in results if r["problems"]]
    cases_run = len({r["case"] for r in results})
    print("\n%d runs of %d cases: %d went wrong" % (len(results), cases_run, len(bad)))
    for r in bad:
        print("\n== %s (%s): %s\n   kept in %s\n%s" % (r["case"], r["mode"], "; ".join(r["problems"]), r["folder"],
                                                      r["stderr"]))
    if not opts.keep and not bad:
        shutil.rmtree(scratch, ignore_errors=True)
    sys.exit(1 if bad else 0)


if __name__ == "__main__":
    main()
