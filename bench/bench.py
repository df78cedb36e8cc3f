#!/usr/bin/env python3
"""Remux and join benchmarks of vantrel against cat, ffmpeg and MEncoder.

    bench.py [--runs N] [--vantrel BIN] [CASE...]    measure (all cases when none is named)
    bench.py opendml [--vantrel BIN]                 the big-file checks: an OpenDML input
                                                     remuxed, an output past 4 GiB read back

Inputs are made once with ffmpeg and kept in $VANTREL_BENCH_DATA (default /work/scratch/bench);
outputs go to the same directory and are deleted after every run. Each command runs once
untimed first (page cache warm for all tools alike, and vantrel's output of that run is checked
by the ffmpeg oracle), then the tools take turns for N timed runs, with a `sync` (untimed)
before each. Wall and CPU time are medians; peak memory is GNU time's maximum resident set.
The table is printed and written to results.txt in the data directory.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ORACLE = os.path.join(HERE, "..", "tests", "oracle", "oracle.py")
DATA = os.environ.get("VANTREL_BENCH_DATA", "/work/scratch/bench")

RAW_FRAME = 1280 * 720 * 3  # bytes of one 720p bgr24 frame


def raw_file(pattern, frames):
    """720p uncompressed video + 48 kHz stereo PCM: few, large chunks."""
    seconds = frames / 25
    return (["-f", "lavfi", "-i", f"{pattern}=size=1280x720:rate=25", "-f", "lavfi", "-i",
             f"sine=frequency=440:sample_rate=48000", "-t", f"{seconds}", "-c:v", "rawvideo",
             "-pix_fmt", "bgr24", "-c:a", "pcm_s16le", "-ac", "2"])


def mjpeg_file(hue, seconds):
    """720p MJPEG + 128 kb/s MP3: many small chunks (about 72 KB of video, 418 B of audio)."""
    return (["-f", "lavfi", "-i", f"testsrc2=size=1280x720:rate=30", "-f", "lavfi", "-i",
             "sine=frequency=330:sample_rate=44100", "-t", f"{seconds}", "-vf", f"hue=h={hue}",
             "-c:v", "mjpeg", "-q:v", "2", "-c:a", "libmp3lame", "-b:a", "128k", "-ac", "2"])


# name -> ffmpeg arguments; sizes: raw_big about 3 GB (OpenDML, since ffmpeg starts AVIX parts
# past 1 GiB), raw_part about 900 MB, mjpeg_big about 700 MB, mjpeg_part about 180 MB.
INPUTS = {
    "raw_big.avi": raw_file("testsrc2", 1100),
    "raw_part1.avi": raw_file("testsrc", 325),
    "raw_part2.avi": raw_file("testsrc2", 330),
    "raw_part3.avi": raw_file("rgbtestsrc", 320),
    "mjpeg_big.avi": mjpeg_file(0, 324),
    "mjpeg_part1.avi": mjpeg_file(0, 83),
    "mjpeg_part2.avi": mjpeg_file(90, 84),
    "mjpeg_part3.avi": mjpeg_file(180, 82),
    "mjpeg_part4.avi": mjpeg_file(270, 83),
}

CASES = {
    "remux_raw": ("remux", ["raw_big.avi"]),
    "remux_mjpeg": ("remux", ["mjpeg_big.avi"]),
    "join_raw": ("join", ["raw_part1.avi", "raw_part2.avi", "raw_part3.avi"]),
    "join_mjpeg": ("join", ["mjpeg_part1.avi", "mjpeg_part2.avi", "mjpeg_part3.avi",
                            "mjpeg_part4.avi"]),
}


def data_path(name):
    return os.path.join(DATA, name)


def ensure_inputs(names):
    os.makedirs(DATA, exist_ok=True)
    for name in names:
        path = data_path(name)
        if os.path.exists(path):
            continue
        print(f"making {path} ...", flush=True)
        partial = path + ".part.avi"
        subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y"] + INPUTS[name] + [partial],
                       check=True)
        os.rename(partial, path)


def concat_list(inputs):
    handle, path = tempfile.mkstemp(suffix=".txt", dir=DATA)
    with os.fdopen(handle, "w") as f:
        for name in inputs:
            f.write(f"file '{data_path(name)}'\n")
    return path


def tools(kind, inputs, out, vantrel, concat):
    """tool name -> (argv, file for stdout or None)."""
    paths = [data_path(name) for name in inputs]
    quiet = ["-v", "error", "-nostdin", "-y"]
    result = {"cat": (["cat"] + paths, out)}
    if kind == "remux":
        result["vantrel"] = ([vantrel, "remux", "--quiet", paths[0], out], None)
        result["ffmpeg"] = (["ffmpeg"] + quiet + ["-i", paths[0], "-c", "copy", "-map", "0",
                                                   out], None)
    else:
        result["vantrel"] = ([vantrel, "join", "--quiet", "-o", out] + paths, None)
        result["ffmpeg"] = (["ffmpeg"] + quiet + ["-f", "concat", "-safe", "0", "-i", concat,
                                                   "-c", "copy", "-map", "0", out], None)
        result["mencoder"] = (["mencoder", "-ovc", "copy", "-oac", "copy"] + paths +
                              ["-o", out], None)
    return result


def run_once(argv, stdout_path, out):
    """Wall seconds, CPU seconds (user + system) and peak RSS (KiB) of one run."""
    if os.path.exists(out):
        os.remove(out)
    subprocess.run(["sync"], check=True)
    rss_file = os.path.join(DATA, ".rss")
    stdout = open(stdout_path, "wb") if stdout_path else subprocess.DEVNULL
    start = time.perf_counter()
    done = subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "-o", rss_file] + argv, stdout=stdout,
                          stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    if stdout_path:
        stdout.close()
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(argv)} exited {done.returncode}: "
                           f"{done.stderr.decode(errors='replace')[-2000:]}")
    with open(rss_file) as f:
        rss, user, system = f.read().split()[-3:]
    return wall, float(user) + float(system), int(rss)


def check_output(out, inputs):
    done = subprocess.run([sys.executable, ORACLE, "check-join", out] +
                          [data_path(name) for name in inputs], capture_output=True, text=True)
    print(done.stdout, end="", flush=True)
    return done.returncode == 0


def measure(case, runs, vantrel):
    kind, inputs = CASES[case]
    ensure_inputs(inputs)
    out = data_path(f"out_{case}.avi")
    concat = concat_list(inputs)
    try:
        commands = tools(kind, inputs, out, vantrel, concat)
        checked = None
        for name, (argv, stdout) in commands.items():
            run_once(argv, stdout, out)  # warm-up
            if name == "vantrel":
                checked = check_output(out, inputs)
            os.remove(out)
        times = {name: [] for name in commands}
        cpu = {name: [] for name in commands}
        peaks = {name: 0 for name in commands}
        for _ in range(runs):
            for name, (argv, stdout) in commands.items():
                wall, seconds, rss = run_once(argv, stdout, out)
                times[name].append(wall)
                cpu[name].append(seconds)
                peaks[name] = max(peaks[name], rss)
                os.remove(out)
    finally:
        os.remove(concat)
        if os.path.exists(out):
            os.remove(out)
    size = sum(os.path.getsize(data_path(name)) for name in inputs)
    return {"case": case, "bytes": size, "checked": checked,
            "median": {name: statistics.median(t) for name, t in times.items()},
            "min": {name: min(t) for name, t in times.items()},
            "cpu": {name: statistics.median(t) for name, t in cpu.items()}, "rss": peaks}


def table(results, runs):
    lines = [f"vantrel benchmarks, {runs} timed runs per tool after one warm-up run "
             f"(page cache warm, no drop), {time.strftime('%Y-%m-%d %H:%M')}, "
             f"{os.cpu_count()} CPUs, load average at the end {os.getloadavg()[0]:.1f}",
             "targets for vantrel: <= 1.10 x cat, < 1 x ffmpeg and mencoder, <= 32 MiB", ""]
    header = (f"{'case':<12} {'tool':<9} {'median s':>9} {'min s':>8} {'x cat':>7} "
              f"{'x ffmpeg':>9} {'x mencoder':>11} {'cpu s':>6} {'peak MiB':>9}")
    for r in results:
        lines.append(f"{r['case']}: {r['bytes'] / 1e6:.0f} MB of input; vantrel output "
                     + {True: "checked by the oracle: ok", False: "checked by the oracle: FAILED",
                        None: "not checked"}[r["checked"]])
        lines.append(header)
        med = r["median"]
        for name in med:
            ratios = []
            for base in ("cat", "ffmpeg", "mencoder"):
                ratios.append(f"{med[name] / med[base]:.2f}" if base in med else "-")
            lines.append(f"{r['case']:<12} {name:<9} {med[name]:>9.2f} {r['min'][name]:>8.2f} "
                         f"{ratios[0]:>7} {ratios[1]:>9} {ratios[2]:>11} {r['cpu'][name]:>6.2f} "
                         f"{r['rss'][name] / 1024:>9.1f}")
        vantrel = med["vantrel"]
        misses = []
        if vantrel > 1.10 * med["cat"]:
            misses.append("slower than 1.10 x cat")
        for base in ("ffmpeg", "mencoder"):
            if base in med and vantrel >= med[base]:
                misses.append(f"not faster than {base}")
        if r["rss"]["vantrel"] > 32 * 1024:
            misses.append("over 32 MiB")
        lines.append("vantrel: " + ("meets the targets" if not misses else "; ".join(misses)))
        lines.append("")
    return "\n".join(lines)


def opendml(vantrel):
    """Remux of the 3 GB OpenDML input, and a join whose output passes 4 GiB, both checked."""
    checks = [("remux of an OpenDML input over 1 GiB", "remux", ["raw_big.avi"]),
              ("join with an output over 4 GiB", "join",
               ["raw_big.avi", "raw_part1.avi", "raw_part2.avi"])]
    ensure_inputs({name for _, _, inputs in checks for name in inputs})
    failed = False
    for title, kind, inputs in checks:
        out = data_path("out_opendml.avi")
        argv, _ = tools(kind, inputs, out, vantrel, None)["vantrel"]
        print(f"== {title}: {' '.join(argv)}", flush=True)
        try:
            wall, _, rss = run_once(argv, None, out)
            print(f"vantrel took {wall:.1f} s, peak {rss / 1024:.1f} MiB", flush=True)
            failed |= not check_output(out, inputs)
        except RuntimeError as error:
            print(f"FAIL {error}")
            failed = True
        finally:
            if os.path.exists(out):
                os.remove(out)
    return 1 if failed else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("cases", nargs="*", help=f"opendml, or any of {', '.join(CASES)}")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--vantrel", default=os.path.join(HERE, "..", "build", "native", "src",
                                                          "cli", "vantrel"))
    args = parser.parse_args()
    vantrel = os.path.abspath(args.vantrel)
    if not os.access(vantrel, os.X_OK):
        sys.exit(f"bench: no vantrel at {vantrel} (build it, or pass --vantrel)")
    if args.cases == ["opendml"]:
        return opendml(vantrel)
    unknown = [case for case in args.cases if case not in CASES]
    if unknown:
        sys.exit(f"bench: unknown case(s) {unknown}; known: opendml, {', '.join(CASES)}")
    os.makedirs(DATA, exist_ok=True)
    free = shutil.disk_usage(DATA).free
    print(f"data in {DATA}, {free / 1e9:.0f} GB free", flush=True)
    results = [measure(case, args.runs, vantrel) for case in args.cases or CASES]
    text = table(results, args.runs)
    print(text)
    with open(data_path("results.txt"), "w") as f:
        f.write(text + "\n")
    return 0 if all(r["checked"] for r in results) else 1


if __name__ == "__main__":
    sys.exit(main())
