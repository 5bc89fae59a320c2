#!/usr/bin/env python3
"""Runs the program over the hostile-input corpus, each run within a time and
memory limit, and reports every crash, hang, memory blow-up, unexpected exit
or unexpected file effect.

    run.py --program BUILD/quillard [--cases DIR] [--only SUBSTRING]...
           [--limit-mb N] [--seconds N] [--sanitized]

Without --cases the corpus is made afresh (make_cases.py) in a scratch
folder. A case is run in the modes it names: count, png and pdf run the
program (--count-pages, --png, --pdf), filter runs the CUPS filter beside it
(quillardtopdf) as CUPS does, on the report as a spooled job's file. Each run
gets a folder of its own:

    work/     the report and the files of the case; the report's folder, and
              the filter's working folder (the spool folder) (@WORK@)
    outside/  files beside it that no run may touch (@OUTSIDE@ in a case)
    cwd/      the program's working folder (@CWD@ in a case)

and every file in all three is compared before and after: a run may only make
its output (out.png, out.pdf or the case's output name) and delete what the
case allows for that mode; the filter writes its PDF on standard output and
may leave nothing in its temporary folder.
Memory is limited with prlimit (address space, a hard stop) in a plain build
and with AddressSanitizer's own RSS limit in a sanitized one; the verdict
takes the run's largest resident size. A PDF or picture run starts with an
earlier file under the output's name: a run that fails must leave it, one
that succeeds must leave a whole one; a filter that succeeds must print a
whole PDF, one that fails nothing. Every run has SOURCE_DATE_EPOCH set, so
that a PDF can be made again byte for byte. What else a case may ask is in
make_cases.py. Exits 1 when any run went wrong.
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
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SANITIZER_EXIT = 99
# A fixed creation time: the same report makes the same PDF bytes.
SOURCE_DATE_EPOCH = "1700000000"
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


def placed(name, work, outside, cwd):
    """Where a file of a case goes: under outside/ or cwd/ when its name
    starts with @OUTSIDE@/ or @CWD@/, else under work/."""
    for mark, root in (("@OUTSIDE@", outside), ("@CWD@", cwd)):
        if name.startswith(mark + os.sep):
            return os.path.join(root, name[len(mark) + 1:])
    return os.path.join(work, name)


def substituted(text, work, outside, cwd):
    """text (str or bytes) with @WORK@, @OUTSIDE@ and @CWD@ replaced by the run's folders."""
    for mark, root in (("@WORK@", work), ("@OUTSIDE@", outside), ("@CWD@", cwd)):
        if isinstance(text, bytes):
            text = text.replace(mark.encode(), root.encode())
        else:
            text = text.replace(mark, root)
    return text


def prepare(case_dir, meta, run_dir, without=()):
    """The run's folders with the files of the case, less those named in
    without (names as the case gives them)."""
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
                f.write(substituted(data, work, outside, cwd))
    files = os.path.join(case_dir, "files")
    if os.path.isdir(files):
        for folder, _, names in os.walk(files):
            for name in names:
                rel = os.path.relpath(os.path.join(folder, name), files)
                target = placed(rel, work, outside, cwd)
                os.makedirs(os.path.dirname(target), exist_ok=True)
                shutil.copyfile(os.path.join(folder, name), target)
    for name in meta["fifos"]:
        os.mkfifo(os.path.join(work, name))
    for name, target in meta["links"].items():
        link = placed(name, work, outside, cwd)
        os.makedirs(os.path.dirname(link), exist_ok=True)
        os.symlink(substituted(target, work, outside, cwd), link)
    for name in without:
        path = placed(name, work, outside, cwd)
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path)
        else:
            os.remove(path)
    return work, outside, cwd, report


def arguments(mode, meta, work, report, run_dir):
    """The command-line arguments of a run, the output's name in work/ (or
    None) and the file its standard output goes to (or None)."""
    if mode == "filter":
        # As CUPS calls a filter: job id, user, title, copies, options and
        # the spooled report.
        return ["42", "user", "title", "1", meta.get("filter_options") or "", report], None, \
            os.path.join(run_dir, "stdout.pdf")
    extra = list(meta.get("args") or [])
    if meta.get("stdin_mb"):
        # The report comes on standard input, endlessly.
        report = "-"
    if mode == "count":
        return extra + ["--count-pages", report], None, None
    name = meta.get("output_name") or ("out.png" if mode == "png" else "out.pdf")
    return extra + ["--" + mode, os.path.join(work, name), report], name, None


def whole(path, mode):
    """Whether path holds a whole PDF or PNG: its signature at the start and
    its end mark at the end."""
    with open(path, "rb") as f:
        head = f.read(8)
        f.seek(max(os.path.getsize(path) - 1024, 0))
        tail = f.read()
    if mode == "png":
        return head == b"\x89PNG\r\n\x1a\n" and tail.endswith(b"IEND\xaeB`\x82")
    return head.startswith(b"%PDF-") and b"%%EOF" in tail[-32:]


def run_one(program, case_name, case_dir, meta, mode, opts, scratch):
    """One run of a case in a mode; with same_pdf_without, a second one with
    those files gone, in the same folder, whose PDF must be the same bytes."""
    run_dir = tempfile.mkdtemp(prefix=case_name[:40] + "-" + mode + "-", dir=scratch)
    r = run_in(run_dir, program, case_dir, meta, mode, opts)
    without = meta.get("same_pdf_without") or []
    if without and mode in ("pdf", "filter") and not r["problems"]:
        with open(r["pdf"], "rb") as f:
            first = f.read()
        # The same folder's name: a name the report shows in the PDF stays.
        shutil.rmtree(run_dir)
        os.makedirs(run_dir)
        again = run_in(run_dir, program, case_dir, meta, mode, opts, without)
        r["problems"] = ["without %s: %s" % (", ".join(without), p) for p in again["problems"]]
        if not again["problems"]:
            with open(again["pdf"], "rb") as f:
                second = f.read()
            if second != first:
                r["problems"].append("the PDF differs without %s (%d bytes against %d): it tells whether they exist"
                                     % (", ".join(without), len(second), len(first)))
        r["seconds"] = max(r["seconds"], again["seconds"])
        r["rss_mb"] = max(r["rss_mb"], again["rss_mb"])
        r["output_mb"] = max(r["output_mb"], again["output_mb"])
        r["stderr"] = again["stderr"]
    if not r["problems"]:
        shutil.rmtree(run_dir, ignore_errors=True)
    r.update(case=case_name, folder=run_dir)
    return r


def feed(pipe, report, megabytes):
    """Writes the report again and again into pipe, megabytes in all or
    until the reader goes."""
    with open(report, "rb") as f:
        block = f.read() or b"x\n"
    block = block * max(1, (1 << 20) // len(block))
    left = megabytes << 20
    try:
        while left > 0:
            pipe.write(block[:left])
            left -= len(block)
        pipe.close()
    except (BrokenPipeError, OSError):
        pass


def run_in(run_dir, program, case_dir, meta, mode, opts, without=()):
    """One run in run_dir: its problems, time, memory, output and log."""
    work, outside, cwd, report = prepare(case_dir, meta, run_dir, without)
    args, output, stdout_file = arguments(mode, meta, work, report, run_dir)
    if mode == "filter":
        program = os.path.join(os.path.dirname(program), "quillardtopdf")
    # An earlier output of the same name: a run that fails must leave it.
    earlier = b"an earlier file the run must leave alone unless it writes a whole one\n"
    stranger = meta.get("stranger_output_link")
    if output and stranger is not None:
        # The output's name is a link another user planted in a folder
        # anybody may write (as /tmp is), pointing at a file outside.
        target = os.path.join(outside, "TARGET")
        with open(target, "wb") as f:
            f.write(earlier)
        os.chmod(work, 0o1777)
        os.symlink(target, os.path.join(work, output))
        os.lchown(os.path.join(work, output), stranger, stranger)
    elif output:
        with open(os.path.join(work, output), "wb") as f:
            f.write(earlier)
    # Limits are set for a plain build; the sanitizers' shadow memory and
    # quarantine take about four times as much.
    limit_mb = (meta.get("limit_mb") or opts.limit_mb) * (4 if opts.sanitized else 1)
    seconds = meta.get("seconds") or opts.seconds
    before = {root: snapshot(root) for root in (work, outside, cwd)}

    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "QUILLARD_PICTURE_FOLDER", "PPD"):
        env.pop(name, None)
    env["QT_QPA_PLATFORM"] = "offscreen"
    env["HOME"] = cwd
    env["XDG_CONFIG_HOME"] = os.path.join(run_dir, "config")
    env["TMPDIR"] = env["TEMP"] = os.path.join(run_dir, "tmp")
    env["XDG_RUNTIME_DIR"] = os.path.join(run_dir, "runtime")
    env["SOURCE_DATE_EPOCH"] = SOURCE_DATE_EPOCH
    for name, value in (meta.get("env") or {}).items():
        env[name] = substituted(value, work, outside, cwd)
    os.makedirs(env["TMPDIR"])
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
    if not os.access(program, os.X_OK):
        return dict(mode=mode, seconds=0.0, rss_mb=0, output_mb=0.0, problems=["no program at %s" % program],
                    stderr="", pdf=None)
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
    with open(os.path.join(run_dir, "stderr"), "wb") as err, \
            open(stdout_file or os.devnull, "wb") as out:
        # The filter runs in the spool folder, as CUPS runs it.
        feed_mb = meta.get("stdin_mb") or 0
        proc = subprocess.Popen(command, cwd=work if mode == "filter" else cwd, env=env, stdout=out, stderr=err,
                                stdin=subprocess.PIPE if feed_mb else subprocess.DEVNULL, start_new_session=True)
        if feed_mb:
            threading.Thread(target=feed, args=(proc.stdin, report, feed_mb), daemon=True).start()
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
    most_lines = meta.get("max_stderr_lines")
    if most_lines is not None:
        lines = stderr.count("\n") + (0 if stderr.endswith("\n") or not stderr else 1)
        if lines > most_lines:
            problems.append("a log of %d lines (at most %d)" % (lines, most_lines))

    # The output: the file named, or the filter's standard output.
    succeeded = not hung and os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0
    produced = None
    if output and not hung:
        produced = os.path.join(work, output)
        with open(produced, "rb") as f:
            head = f.read(len(earlier))
        if succeeded and not whole(produced, mode):
            problems.append("success without a whole %s" % output)
        if not succeeded and head != earlier:
            problems.append("a failed run replaced the earlier %s" % output)
    if stdout_file and not hung:
        produced = stdout_file
        size = os.path.getsize(stdout_file)
        if succeeded and not (size and whole(stdout_file, "pdf")):
            problems.append("success without a whole PDF on standard output")
        if not succeeded and size:
            problems.append("a failed run printed %d bytes" % size)
    output_mb = os.path.getsize(produced) / (1 << 20) if produced else 0.0
    if succeeded and produced:
        most_mb = meta.get("max_output_mb")
        if most_mb is not None and mode != "count" and output_mb >= most_mb:
            problems.append("an output of %.1f MB (less than %d MB expected)" % (output_mb, most_mb))
        images = meta.get("pdf_images")
        if images is not None and mode in ("pdf", "filter"):
            with open(produced, "rb") as f:
                found = f.read().count(b"/Subtype /Image")
            if found != images:
                problems.append("%d pictures in the PDF (%d expected)" % (found, images))
    if meta.get("same_pdf_without") and mode in ("pdf", "filter") and not succeeded and not problems:
        problems.append("no PDF to compare: the run failed")

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
    if meta.get("must_fail") and succeeded:
        problems.append("success where the run must refuse")
    if (mode == "filter" or meta.get("stdin_mb")) and not hung:
        # The spool's temporary folder is shared by every job; a report read
        # from standard input leaves nothing there either.
        for path in sorted(os.listdir(env["TMPDIR"])):
            problems.append("file effect: tmp/%s left behind" % path)

    return dict(mode=mode, seconds=elapsed, rss_mb=rss_mb, output_mb=output_mb, problems=problems,
                stderr=stderr[-2000:], pdf=produced if succeeded and mode in ("pdf", "filter") else None)


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
            print("%-52s %-6s %7.2f s %6d MB %7.1f MB out  %s" % (name[:52], mode, r["seconds"], r["rss_mb"],
                                                                 r["output_mb"], verdict), flush=True)

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
