#!/usr/bin/env python3
"""Times what a learner waits for: a lesson file opened on a virtual screen.

    open_lesson.py WORK REPETITIONS NAME=FILE.run=ARCHIVE.zip ...

For each lesson, with an empty runtime cache and with a filled one: the time from
opening the file to the lesson's first window (titled with its name) and to the
"Lesson Setup" window, and `unzip -q` of the same lesson archive alone; also the
starter's peak memory before it hands over ("-" where it handed over before the first
look, as with a filled cache). Medians of REPETITIONS runs, as a
Markdown table. Windows are looked for every 10 ms with xdotool (its own --sync
looks only twice a second). Needs $DISPLAY.
"""
import math
import os
import shutil
import statistics
import subprocess
import sys
import time

POLL = 0.01


def window(pattern):
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", pattern],
                           capture_output=True, text=True)
    return found.stdout.split()[0] if found.stdout.split() else None


def peak_kib(pid, executable):
    """VmHWM of `pid` while it still runs `executable`, else None."""
    try:
        if os.readlink(f"/proc/{pid}/exe") != executable:
            return None
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        return None
    return None


def open_once(run_file, name, home, tmp):
    env = dict(os.environ, HOME=home, TMPDIR=tmp, XDG_CACHE_HOME=os.path.join(home, "cache"))
    with open(run_file, "rb") as f:
        program = [run_file] if f.read(4) == b"\x7fELF" else ["sh", run_file]
    start = time.monotonic()
    child = subprocess.Popen(program, env=env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    first = setup = None
    peak = 0
    while setup is None and time.monotonic() - start < 300:
        sample = peak_kib(child.pid, os.path.realpath(run_file))
        peak = max(peak, sample or 0)
        if first is None and window(f"^{name}$"):
            first = time.monotonic() - start
        if window("^Lesson Setup"):
            setup = time.monotonic() - start
        time.sleep(POLL)
    child.wait(timeout=60)
    subprocess.run(["pkill", "-f", f"{tmp}/.*Wayfarer"], check=False)
    while window("^Lesson Setup"):
        time.sleep(POLL)
    # None when the starter handed over before the first sample (a filled cache).
    return first, setup, peak / 1024 if peak else None


def unzip_once(archive, target):
    shutil.rmtree(target, ignore_errors=True)
    os.makedirs(target)
    start = time.monotonic()
    subprocess.run(["unzip", "-q", archive, "-d", target], check=True)
    return time.monotonic() - start


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else float("nan")


def main():
    work, repetitions, lessons = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    print("| lesson | file MB | cache | first window s | \"Lesson Setup\" s | unzip alone s "
          "| setup / unzip | starter peak MiB |")
    print("|---|---|---|---|---|---|---|---|")
    for lesson in lessons:
        name, run_file, archive = lesson.split("=")
        home, tmp = os.path.join(work, "home"), os.path.join(work, "tmp")
        unzips = [unzip_once(archive, os.path.join(work, "unzip")) for _ in range(repetitions)]
        for cache in ("empty", "filled"):
            runs = []
            for _ in range(repetitions):
                shutil.rmtree(tmp, ignore_errors=True)
                os.makedirs(tmp, mode=0o700)
                if cache == "empty":
                    shutil.rmtree(home, ignore_errors=True)
                os.makedirs(home, mode=0o700, exist_ok=True)
                runs.append(open_once(run_file, name, home, tmp))
            first, setup, peak = (median(column) for column in zip(*runs))
            size = os.path.getsize(run_file) / 1e6
            print(f"| {name} | {size:.1f} | {cache} | {first:.2f} | {setup:.2f} | "
                  f"{median(unzips):.2f} | {setup / median(unzips):.1f} | "
                  f"{'-' if math.isnan(peak) else f'{peak:.1f}'} |",
                  flush=True)
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
