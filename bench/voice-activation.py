#!/usr/bin/env python3
"""Voice activation on a 12 s take, seen from outside.

    eval "$(scripts/sound-server.sh start build)"
    bench/voice-activation.py [--build-dir build] [--silence SECONDS]

Makes the take with sox (2 s silence, 3 s of a 440 Hz tone, 4 s silence, 2 s of a 660 Hz tone,
1 s silence), plays it with paplay into the sink "speaker" of the sound server the environment
names while `tamsu-record --source system --format wav --seconds 13` records it, once plain (the
reference) and once with --voice-activated. Prints where the tones lie in each file, how far the
gated file starts before the first tone, and the gated file's length against the take and
against the plain file.
"""
import argparse
import glob
import math
import os
import struct
import subprocess
import tempfile
import time
import wave

parser = argparse.ArgumentParser()
parser.add_argument("--build-dir", default="build")
parser.add_argument("--silence", default=None)
args = parser.parse_args()
tool = os.path.abspath(os.path.join(args.build_dir, "tools", "tamsu-record"))
root = tempfile.mkdtemp(prefix="tamsu-voice-")
env = dict(os.environ, HOME=root, XDG_DATA_HOME=root + "/data")


def sox(*a):
    subprocess.run(["sox", *a], check=True)


parts = []
for i, (kind, seconds) in enumerate([("quiet", 2), (440, 3), ("quiet", 4), (660, 2), ("quiet", 1)]):
    part = "%s/p%d.wav" % (root, i)
    synth = ["trim", "0", str(seconds)] if kind == "quiet" else ["synth", str(seconds), "sine", str(kind), "vol", "0.25"]
    sox("-n", "-r", "44100", "-c", "2", part, *synth)
    parts.append(part)
take = root + "/take.wav"
sox(*parts, take)


def spans(path):
    """(start, end) of the stretches whose 10 ms RMS lies above -40 dBFS, gaps under 0.2 s joined."""
    w = wave.open(path)
    n, r = w.getnframes(), w.getframerate()
    s = struct.unpack("<%dh" % (2 * n), w.readframes(n))
    win, out, cur, quiet = r // 100, [], None, 0
    for i in range(0, n - win, win):
        rms = math.sqrt(sum(s[2 * j] ** 2 for j in range(i, i + win)) / win) / 32768
        t = i / r
        if rms > 0.01:
            quiet = 0
            cur = t if cur is None else cur
        elif cur is not None:
            quiet += 1
            if quiet > 20:
                out.append((cur, t - 0.2))
                cur = None
    if cur is not None:
        out.append((cur, n / r))
    return n / r, out


def record(name, options):
    folder = "%s/%s" % (root, name)
    rec = subprocess.Popen([tool, "--source", "system", "--format", "wav", "--seconds", "13", "--output", folder,
                            *options], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(0.5)
    subprocess.run(["paplay", "-d", "speaker", take], check=True)
    rec.wait(30)
    return spans(glob.glob(folder + "/*.wav")[0])


plain_length, plain = record("plain", [])
gated_options = ["--voice-activated"] + (["--silence", args.silence] if args.silence else [])
gated_length, gated = record("gated", gated_options)
fmt = lambda ss: ", ".join("%.2f-%.2f s (%.2f s)" % (a, b, b - a) for a, b in ss)
print("plain: %.2f s, tones at %s" % (plain_length, fmt(plain)))
print("gated: %.2f s, tones at %s" % (gated_length, fmt(gated)))
if len(gated) == 2:
    print("gated file starts %.2f s before the first tone (target <= 0.6 s)" % gated[0][0])
print("gated file %.2f s shorter than the 12 s take (target >= 4 s); gated/plain length %.2f" %
      (12 - gated_length, gated_length / plain_length))
