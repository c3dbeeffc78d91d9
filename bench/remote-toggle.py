#!/usr/bin/env python3
"""Latency of `tamsu-recorder --toggle` against a running window, seen from outside.

    eval "$(scripts/sound-server.sh start build)"
    bench/remote-toggle.py [--build-dir build] [--runs 10]

Starts the window program (offscreen, private home and runtime folders) on the sound server the
environment names, then for each run: takes the monotonic clock, runs `tamsu-recorder --toggle`,
and polls the output folder (every 0.5 ms) for the new recording's file. Open creates the file and
writes its header right before the recording runs, and the file's first sample is the one captured
at that moment, so the file's appearance is the first sample's time. After a second the second
--toggle stops it, and ffprobe must read the file whole. As the reference in the same run:
`--status`, the round trip of a command that does nothing. Prints the figures in ms.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

parser = argparse.ArgumentParser()
parser.add_argument("--build-dir", default="build")
parser.add_argument("--runs", type=int, default=10)
args = parser.parse_args()
program = os.path.abspath(os.path.join(args.build_dir, "app", "tamsu-recorder"))
top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

root = tempfile.mkdtemp(prefix="tamsu-bench-")
env = dict(os.environ, HOME=root, XDG_DATA_HOME=root + "/data", XDG_CONFIG_HOME=root + "/config",
           XDG_RUNTIME_DIR=root + "/run", QT_QPA_PLATFORM="offscreen", TAMSU_SKIN_DIR=top + "/skin")
os.makedirs(root + "/run", mode=0o700)
folder = root + "/out"
os.makedirs(folder)
os.makedirs(root + "/config/TamsuAudioRecorder/Config", exist_ok=True)
os.makedirs(root + "/data/TamsuAudioRecorder/Config", exist_ok=True)
with open(root + "/data/TamsuAudioRecorder/Config/configure.ini", "w") as ini:
    ini.write("[global]\noutput-dir=%s\nvoice-source=2\n" % folder)

window = subprocess.Popen([program], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def command(*options):
    return subprocess.run([program, *options], env=env, capture_output=True, text=True)


try:
    deadline = time.monotonic() + 20
    while command("--status").returncode != 0:
        if time.monotonic() > deadline:
            sys.exit("the window did not come up")
        time.sleep(0.05)
    starts, statuses = [], []
    for run in range(args.runs):
        before = set(os.listdir(folder))
        t0 = time.monotonic_ns()
        toggler = subprocess.Popen([program, "--toggle"], env=env, stdout=subprocess.PIPE, text=True)
        created = None
        while created is None and time.monotonic_ns() - t0 < 5e9:
            if set(os.listdir(folder)) - before:
                created = time.monotonic_ns()
            else:
                time.sleep(0.0005)
        answer = toggler.communicate()[0].strip()
        if created is None or not answer.startswith("recording"):
            sys.exit("run %d: no recording (%s)" % (run, answer))
        starts.append((created - t0) / 1e6)
        time.sleep(1)
        stopped = command("--toggle").stdout.strip()
        path = stopped.split(" ", 2)[2]
        probe = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path],
                               capture_output=True, text=True)
        if probe.returncode != 0 or probe.stderr or float(probe.stdout) < 0.9:
            sys.exit("run %d: incomplete file %s: %s" % (run, path, probe.stderr))
        t = time.monotonic_ns()
        command("--status")
        statuses.append((time.monotonic_ns() - t) / 1e6)
    print("--toggle to the first sample in the file: median %.1f ms, max %.1f ms (target 300 ms)" %
          (statistics.median(starts), max(starts)))
    print("--status round trip (reference):         median %.1f ms, max %.1f ms" %
          (statistics.median(statuses), max(statuses)))
    print("ratio toggle/status (median): %.2f; files complete: %d of %d" %
          (statistics.median(starts) / statistics.median(statuses), args.runs, args.runs))
finally:
    window.terminate()
    window.wait(10)
