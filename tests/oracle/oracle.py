#!/usr/bin/env python3
"""Outside checks of vantrel's remux and join, with ffmpeg as the independent reader.

For every output: ffmpeg reads it and decodes it without a message, each stream's headers and
format equal its sources', each stream's payload equals its sources' payloads in order (packet
by packet, size and md5, for streams of whole chunks; byte for byte for streams with a sample
size, PCM and other byte-addressed audio, which the writer is free to re-chunk), and the streams
are interleaved in the file by time.

    oracle.py list                                  the case names, one a line
    oracle.py run CASE --vantrel BIN --media DIR --work DIR
    oracle.py check-join OUT IN...                  compare an existing output with its inputs
                                                    (a remux is a join of one input)

Exit status 0 when every check passed, 1 with one line per failure otherwise.
"""

import argparse
import os
import shutil
import subprocess
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "media"))
import make_fixtures  # noqa: E402
from avi_headers import AviError, riff_parts, stream_headers  # noqa: E402

PROBE_FIELDS = ["codec_type", "codec_name"]


class Failure(Exception):
    pass


def ffmpeg_stdout(args, what):
    done = subprocess.run(["ffmpeg", "-v", "error", "-nostdin"] + args, capture_output=True)
    if done.returncode != 0:
        raise Failure(f"ffmpeg cannot read {what}: {done.stderr.decode(errors='replace').strip()}")
    return done.stdout


def packets(path, index):
    """(size, md5) of every packet ffmpeg reads from one stream of a file."""
    text = ffmpeg_stdout(["-i", path, "-map", f"0:{index}", "-c", "copy", "-f", "framemd5", "-"],
                         f"stream {index} of {path}").decode()
    result = []
    for line in text.splitlines():
        if line.startswith("#") or not line.strip():
            continue
        fields = [field.strip() for field in line.split(",")]
        result.append((int(fields[4]), fields[5]))
    return result


class Payload:
    """The payload bytes of one stream of several files in a row, read through ffmpeg."""

    def __init__(self, sources):
        self.m_sources = list(sources)
        self.m_process = None
        self.m_buffer = b""

    def read(self, size):
        while len(self.m_buffer) < size:
            if self.m_process is None:
                if not self.m_sources:
                    break
                path, index = self.m_sources.pop(0)
                self.m_process = subprocess.Popen(
                    ["ffmpeg", "-v", "error", "-nostdin", "-i", path, "-map", f"0:{index}", "-c",
                     "copy", "-f", "data", "-"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                self.m_what = f"stream {index} of {path}"
            block = self.m_process.stdout.read(1 << 20)
            if not block:
                self.close()
                continue
            self.m_buffer += block
        result, self.m_buffer = self.m_buffer[:size], self.m_buffer[size:]
        return result

    def close(self):
        if self.m_process is None:
            return
        self.m_process.stdout.close()
        error = self.m_process.stderr.read()
        if self.m_process.wait() != 0:
            raise Failure(f"ffmpeg cannot read {self.m_what}: {error.decode(errors='replace')}")
        self.m_process = None

    def drain(self):
        """Bytes left, counted without keeping them."""
        left = 0
        while True:
            block = self.read(1 << 20)
            if not block:
                return left
            left += len(block)


def compare_bytes(label, out, index, sources):
    got, want = Payload([(out, index)]), Payload(sources)
    offset = 0
    while True:
        a, b = got.read(1 << 20), want.read(1 << 20)
        if a != b:
            common = min(len(a), len(b))
            first = next((i for i in range(common) if a[i] != b[i]), common)
            if first < common:
                raise Failure(f"{label}: payload byte {offset + first} differs")
            got_total = offset + len(a) + got.drain()
            want_total = offset + len(b) + want.drain()
            raise Failure(f"{label}: payload has {got_total} bytes, the inputs have {want_total}; "
                          f"the first {offset + common} bytes match")
        if not a:
            return
        offset += len(a)


def compare_packets(label, out, index, sources):
    got = packets(out, index)
    want = []  # (size, md5, source file, packet number in that file)
    for path, source_index in sources:
        want += [(size, md5, path, n) for n, (size, md5) in enumerate(packets(path, source_index))]
    for n, (have, expected) in enumerate(zip(got, want)):
        if have != expected[:2]:
            raise Failure(f"{label}: packet {n} (size {have[0]}, md5 {have[1]}) differs from "
                          f"packet {expected[3]} of {os.path.basename(expected[2])} "
                          f"(size {expected[0]}, md5 {expected[1]})")
    if len(got) != len(want):
        raise Failure(f"{label}: {len(got)} packets, the inputs have {len(want)}; "
                      f"the first {min(len(got), len(want))} match")


def probe(path):
    """What ffprobe makes of each stream of a file."""
    done = subprocess.run(["ffprobe", "-v", "error", "-show_entries",
                           "stream=" + ",".join(PROBE_FIELDS), "-of", "compact", path],
                          capture_output=True, text=True)
    if done.returncode != 0:
        raise Failure(f"ffprobe cannot read {path}: {done.stderr.strip()}")
    streams = []
    for line in done.stdout.splitlines():
        fields = dict(item.split("=", 1) for item in line.split("|")[1:] if "=" in item)
        streams.append({key: fields.get(key) for key in PROBE_FIELDS})
    return streams


# Audio may run ahead of video by a preload (players expect up to about 0.75 s); a stream that
# falls further behind the others in file order means the streams were not interleaved.
MAX_INTERLEAVE_LAG = 1.0


def interleave_lag(path):
    """The worst lag in file order: (seconds, stream, time, byte position) of the packet whose
    time is furthest behind a time some other stream had already reached at that point."""
    done = subprocess.run(["ffprobe", "-v", "error", "-show_entries",
                           "packet=stream_index,dts_time,pos", "-of", "compact", path],
                          capture_output=True, text=True)
    if done.returncode != 0:
        raise Failure(f"ffprobe cannot list the packets of {path}: {done.stderr.strip()}")
    packets_in_file = []
    for line in done.stdout.splitlines():
        fields = dict(item.split("=", 1) for item in line.split("|")[1:] if "=" in item)
        if fields.get("dts_time", "N/A") != "N/A" and fields.get("pos", "N/A") != "N/A":
            packets_in_file.append((int(fields["pos"]), int(fields["stream_index"]),
                                    float(fields["dts_time"])))
    packets_in_file.sort()  # ffmpeg may hand them out in index order; the file order counts
    reached = {}  # stream -> latest time written so far
    worst = (0.0, None, None, None)
    for pos, stream, when in packets_in_file:
        others = [t for s, t in reached.items() if s != stream]
        if others and max(others) - when > worst[0]:
            worst = (max(others) - when, stream, when, pos)
        reached[stream] = max(reached.get(stream, when), when)
    return worst


def decode_messages(path):
    done = subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-i", path, "-map", "0", "-f",
                           "null", "-"], capture_output=True, text=True)
    return (done.stdout + done.stderr).strip()


def shown(value, other):
    """A header value for a message; format blocks are summed up by their first difference."""
    if not isinstance(value, bytes) or len(value) <= 8:
        return repr(value)
    first = next((i for i, (a, b) in enumerate(zip(value, other)) if a != b),
                 min(len(value), len(other)))
    return f"{len(value)} bytes ({value[first:first + 8].hex() or 'end'} at byte {first})"


def comparable_format(stream):
    """The format as a join compares it: audio formats without their average byte rate, which
    variable-bit-rate encoders set per file."""
    fmt = stream["format"]
    if stream["type"] == "auds" and len(fmt) >= 12:
        return fmt[:8] + fmt[12:]
    return fmt


def pasteable(base, other):
    """Whether a join appends this input stream: same kind of stream, rate and format."""
    keys = ("type", "scale", "rate", "sample_size")
    return (all(base[key] == other[key] for key in keys)
            and comparable_format(base) == comparable_format(other))


def expected_sources(inputs):
    """Per output stream, the (file, stream) pairs whose payloads it should hold, in order."""
    headers = [stream_headers(path) for path in inputs]
    result = []
    for k, base in enumerate(headers[0]):
        result.append([(path, k) for path, h in zip(inputs, headers)
                       if k < len(h) and pasteable(base, h[k])])
    return result


def check_output(out, sources, failures):
    """Checks out against the per-stream sources; appends a line per failed check."""
    try:
        got_headers = stream_headers(out)
        got_probe = probe(out)
    except (AviError, Failure, OSError) as error:
        failures.append(f"{out}: {error}")
        return
    if len(got_headers) != len(sources) or len(got_probe) != len(sources):
        failures.append(f"{out}: {len(got_headers)} streams in the headers, {len(got_probe)} "
                        f"read by ffmpeg, {len(sources)} expected")
        return
    for k, stream_sources in enumerate(sources):
        first_path, first_index = stream_sources[0]
        base = stream_headers(first_path)[first_index]
        want_probe = probe(first_path)[first_index]
        label = f"stream {k} ({want_probe['codec_type']} {want_probe['codec_name']})"
        got = got_headers[k]
        for key in ("type", "handler", "scale", "rate", "sample_size", "start", "frame",
                    "format"):
            if got[key] != base[key]:
                failures.append(f"{label}: header field {key} is {shown(got[key], base[key])}, "
                                f"{os.path.basename(first_path)} has {shown(base[key], got[key])}")
        length = sum(stream_headers(path)[index]["length"] for path, index in stream_sources)
        if got["length"] != length:
            failures.append(f"{label}: length {got['length']}, the inputs add up to {length}")
        if got_probe[k] != want_probe:
            failures.append(f"{label}: ffmpeg reads it as {got_probe[k]}, the input as "
                            f"{want_probe}")
        try:
            if base["sample_size"] > 0:
                compare_bytes(label, out, k, stream_sources)
            else:
                compare_packets(label, out, k, stream_sources)
        except Failure as error:
            failures.append(str(error))
    try:
        lag, stream, when, pos = interleave_lag(out)
    except Failure as error:
        failures.append(str(error))
        lag = 0
    if lag > MAX_INTERLEAVE_LAG:
        failures.append(f"not interleaved: stream {stream}'s packet at {when:.3f} s (byte {pos}) "
                        f"is written after packets of another stream {lag:.2f} s later")
    messages = decode_messages(out)
    if messages:
        lines = messages.splitlines()
        noisy = [os.path.basename(path) for path in {p for s in sources for p, _ in s}
                 if decode_messages(path)]
        failures.append(f"ffmpeg -v error decoding {os.path.basename(out)} printed {len(lines)} "
                        f"lines, the first: {lines[0]}"
                        + (f" (so do the inputs {noisy})" if noisy else ""))


def run_tool(args):
    return subprocess.run(args, capture_output=True, text=True, timeout=600)


def leftovers(work, keep):
    return sorted(name for name in os.listdir(work) if name not in keep)


def case_remux(kind, ctx):
    failures = []
    for n in (1, 2, 3):
        source = ctx.fixture(f"{kind}_{n}")
        out = os.path.join(ctx.work, f"{kind}_{n}.remux.avi")
        done = run_tool([ctx.vantrel, "remux", "--quiet", source, out])
        if done.returncode != 0 or not os.path.exists(out):
            failures.append(f"vantrel remux {os.path.basename(source)} exited "
                            f"{done.returncode}: {done.stderr.strip()}")
            continue
        before = len(failures)
        check_output(out, expected_sources([source]), failures)
        if len(failures) > before:
            failures[before:] = [f"{os.path.basename(out)}: {line}" for line in failures[before:]]
    extra = leftovers(ctx.work, {f"{kind}_{n}.remux.avi" for n in (1, 2, 3)})
    if extra:
        failures.append(f"files left beside the outputs: {extra}")
    return failures


def case_join(kind, ctx):
    inputs = [ctx.fixture(f"{kind}_{n}") for n in (1, 2, 3)]
    sources = expected_sources(inputs)
    whole = all(len(stream) == len(inputs) for stream in sources)
    out = os.path.join(ctx.work, f"{kind}.join.avi")
    done = run_tool([ctx.vantrel, "join", "--quiet", "-o", out] + inputs)
    # A stream whose format differs from the first file's is not appended; the join still
    # writes the rest and says so.
    want_status = 0 if whole else 2
    failures = []
    if done.returncode != want_status:
        failures.append(f"vantrel join exited {done.returncode}, expected {want_status}: "
                        f"{done.stderr.strip()}")
    if not whole and "warning: Cannot paste into this stream" not in done.stderr:
        failures.append(f"no paste warning for the differing stream; stderr: {done.stderr!r}")
    if not os.path.exists(out):
        failures.append("no output file")
        return failures
    check_output(out, sources, failures)
    extra = leftovers(ctx.work, {os.path.basename(out)})
    if extra:
        failures.append(f"files left beside the output: {extra}")
    return failures


# Joins the admission rule refuses: (case, inputs, refused input, text of the refusal).
REFUSALS = [
    ("handler", ["mjpeg_pcm_1", "mjpeg_pcm_2", "rule_handler"], "rule_handler",
     "has the different format with previous avi files. It can not be merged."),
    ("frame_size", ["mjpeg_pcm_1", "rule_size"], "rule_size",
     "has the different format with previous avi files. It can not be merged."),
    ("fewer_streams", ["mjpeg_pcm_1", "rule_streams"], "rule_streams",
     "has the different stream number with previous avi files. It can not be merged."),
    ("more_streams", ["rule_streams", "mjpeg_pcm_1"], "mjpeg_pcm_1",
     "has the different stream number with previous avi files. It can not be merged."),
]


def case_refusal(name, ctx):
    _, inputs, refused, text = next(row for row in REFUSALS if row[0] == name)
    out = os.path.join(ctx.work, "refused.avi")
    done = run_tool([ctx.vantrel, "join", "--quiet", "-o", out] + [ctx.fixture(i) for i in inputs])
    failures = []
    if done.returncode != 1:
        failures.append(f"vantrel join exited {done.returncode}, expected 1")
    if text not in done.stderr or f"{refused}.avi" not in done.stderr:
        failures.append(f"stderr does not name {refused}.avi with \"{text}\": {done.stderr!r}")
    if os.listdir(ctx.work):
        failures.append(f"files written although the join was refused: {os.listdir(ctx.work)}")
    return failures


def case_rate(ctx):
    """Same handler and size but another frame rate: admitted, but the video paste fails."""
    inputs = [ctx.fixture("mjpeg_pcm_1"), ctx.fixture("rule_rate")]
    out = os.path.join(ctx.work, "rate.avi")
    done = run_tool([ctx.vantrel, "join", "--quiet", "-o", out] + inputs)
    failures = []
    if done.returncode != 2:
        failures.append(f"vantrel join exited {done.returncode}, expected 2: {done.stderr!r}")
    if "warning: Cannot paste into this stream" not in done.stderr:
        failures.append(f"no paste warning on stderr: {done.stderr!r}")
    if not os.path.exists(out):
        failures.append("no output file")
        return failures
    # The video keeps the first file's frames only; the identical audio is appended.
    check_output(out, [[(inputs[0], 0)], [(inputs[0], 1), (inputs[1], 1)]], failures)
    return failures


def case_list():
    cases = []
    for kind in make_fixtures.KINDS:
        cases += [f"remux.{kind}", f"join.{kind}"]
    cases += [f"refuse.{row[0]}" for row in REFUSALS]
    cases.append("warn.frame_rate")
    return cases


class Context:
    def __init__(self, args, case):
        self.vantrel = os.path.abspath(args.vantrel)
        self.media = args.media
        self.work = os.path.join(args.work, case)

    def fixture(self, name):
        path = os.path.join(self.media, f"{name}.avi")
        if not os.path.exists(path):
            raise Failure(f"fixture {path} is missing (run tests/media/make_fixtures.py)")
        return path


def run_case(case, args):
    ctx = Context(args, case)
    shutil.rmtree(ctx.work, ignore_errors=True)
    os.makedirs(ctx.work)
    group, _, name = case.partition(".")
    try:
        if group == "remux":
            failures = case_remux(name, ctx)
        elif group == "join":
            failures = case_join(name, ctx)
        elif group == "refuse":
            failures = case_refusal(name, ctx)
        elif case == "warn.frame_rate":
            failures = case_rate(ctx)
        else:
            raise Failure(f"unknown case {case}")
    except (Failure, AviError, OSError) as error:
        failures = [str(error)]
    for line in failures:
        print(f"FAIL {case}: {line}")
    if not failures:
        shutil.rmtree(ctx.work, ignore_errors=True)
        print(f"ok {case}")
    return 1 if failures else 0


def check_join_command(out, inputs):
    """Checks an output made elsewhere (benchmarks, big files) against its inputs."""
    failures = []
    try:
        check_output(out, expected_sources(inputs), failures)
        parts = riff_parts(out)
    except (AviError, Failure, OSError) as error:
        failures.append(str(error))
        parts = []
    print(f"{out}: {os.path.getsize(out) if os.path.exists(out) else 'no'} bytes, RIFF parts: "
          + ", ".join(f"{form.strip()} {size}" for form, _, size in parts))
    for line in failures:
        print(f"FAIL {line}")
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="command", required=True)
    sub.add_parser("list")
    run = sub.add_parser("run")
    run.add_argument("case")
    run.add_argument("--vantrel", required=True)
    run.add_argument("--media", required=True)
    run.add_argument("--work", required=True)
    check = sub.add_parser("check-join")
    check.add_argument("out")
    check.add_argument("inputs", nargs="+")
    args = parser.parse_args()
    if args.command == "list":
        print("\n".join(case_list()))
        return 0
    if args.command == "check-join":
        return check_join_command(args.out, args.inputs)
    return run_case(args.case, args)


if __name__ == "__main__":
    sys.exit(main())
