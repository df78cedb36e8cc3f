#!/usr/bin/env python3
"""Makes the real AVI files the outside checks run on, with ffmpeg and MEncoder.

Every kind comes as three segments (<kind>_1.avi .. <kind>_3.avi) with the same formats but
different pictures, tones and lengths, so that a join of them is visible and checkable. The
rule_* files differ from mjpeg_pcm_1.avi in exactly one property the join rule looks at.

    make_fixtures.py OUTDIR       make the files (skipped when OUTDIR is already up to date)
    make_fixtures.py --kinds      print the kind names, one a line

Only the Python standard library is used; ffmpeg (with libxvid, libx264, libmp3lame) and
mencoder must be on PATH.
"""

import hashlib
import json
import os
import shutil
import subprocess
import sys

# Bit-exact output and no metadata, so two runs give the same bytes.
EXACT = ["-fflags", "+bitexact", "-flags", "+bitexact", "-map_metadata", "-1"]

# Per segment: picture source, tone frequency and length. Different lengths make a join that
# dropped or repeated a segment show up in the packet counts.
SEGMENTS = [("testsrc2", 440, 2.0), ("testsrc", 660, 3.0), ("smptebars", 880, 2.4)]


def video(size, rate, pattern, seconds):
    return ["-f", "lavfi", "-i", f"{pattern}=size={size}:rate={rate}:duration={seconds}"]


def tone(sample_rate, freq, seconds):
    return ["-f", "lavfi", "-i",
            f"sine=frequency={freq}:sample_rate={sample_rate}:duration={seconds}"]


def xvid_encoder():
    """libxvid when this ffmpeg has it, else ffmpeg's own MPEG-4 ASP encoder, both tagged XVID."""
    encoders = subprocess.run(["ffmpeg", "-hide_banner", "-encoders"], capture_output=True,
                              text=True).stdout
    codec = "libxvid" if " libxvid " in encoders else "mpeg4"
    return ["-c:v", codec, "-vtag", "XVID", "-q:v", "5"]


def ffmpeg_args(kind, pattern, freq, seconds, xvid):
    """The ffmpeg inputs and codec options of one segment of a kind (without the output)."""
    qvga = "320x240"
    mjpeg = ["-c:v", "mjpeg", "-q:v", "5"]
    pcm = ["-c:a", "pcm_s16le", "-ac", "2"]
    mp3 = ["-c:a", "libmp3lame", "-b:a", "128k", "-ac", "2"]
    if kind == "xvid_mp3":
        return video(qvga, 25, pattern, seconds) + tone(44100, freq, seconds) + xvid + mp3
    if kind == "mjpeg_pcm":
        return video(qvga, 25, pattern, seconds) + tone(44100, freq, seconds) + mjpeg + pcm
    if kind == "h264_ac3":
        return (video(qvga, 25, pattern, seconds) + tone(48000, freq, seconds) +
                ["-c:v", "libx264", "-preset", "veryfast", "-crf", "30", "-pix_fmt", "yuv420p",
                 "-c:a", "ac3", "-b:a", "192k", "-ac", "2"])
    if kind == "raw_pcm":
        # Uncompressed bottom-up DIB frames, the classic "no handler" video.
        return (video("160x120", 25, pattern, seconds) + tone(22050, freq, seconds) +
                ["-c:v", "rawvideo", "-pix_fmt", "bgr24", "-c:a", "pcm_s16le", "-ac", "1"])
    if kind == "dv_pcm":
        # PAL DV frames are 144000 bytes, so these segments are kept short.
        seconds = round(seconds / 2, 1)
        return (video("720x576", 25, pattern, seconds) + tone(48000, freq, seconds) +
                ["-c:v", "dvvideo", "-pix_fmt", "yuv420p", "-c:a", "pcm_s16le", "-ac", "2"])
    if kind == "three_streams":
        # Video, a VBR-style MP3 track and a mono PCM track: one stream of each addressing kind.
        return (video(qvga, 25, pattern, seconds) + tone(44100, freq, seconds) +
                tone(22050, freq * 2, seconds) + ["-map", "0", "-map", "1", "-map", "2"] + mjpeg +
                ["-c:a:0", "libmp3lame", "-b:a:0", "128k", "-ac:a:0", "2",
                 "-c:a:1", "pcm_s16le", "-ac:a:1", "1"])
    if kind == "video_only":
        return video(qvga, 25, pattern, seconds) + ["-c:v", "mpeg4", "-vtag", "DX50", "-q:v", "5"]
    if kind == "audio_only":
        return tone(44100, freq, seconds) + pcm
    raise KeyError(kind)


FFMPEG_KINDS = ["xvid_mp3", "mjpeg_pcm", "h264_ac3", "raw_pcm", "dv_pcm", "three_streams",
                "video_only", "audio_only"]
# Made by MEncoder: video copied from an ffmpeg-made source, audio encoded as VBR MP3.
MENCODER_KINDS = ["vbr_mp3"]
KINDS = FFMPEG_KINDS + MENCODER_KINDS

# Files that break the join rule against mjpeg_pcm_1.avi in one way each.
RULE_FILES = {
    "rule_handler": video("320x240", 25, "testsrc", 1.0) + tone(44100, 330, 1.0) +
    ["-c:v", "mpeg4", "-vtag", "XVID", "-q:v", "5", "-c:a", "pcm_s16le", "-ac", "2"],
    "rule_size": video("352x288", 25, "testsrc", 1.0) + tone(44100, 330, 1.0) +
    ["-c:v", "mjpeg", "-q:v", "5", "-c:a", "pcm_s16le", "-ac", "2"],
    "rule_streams": video("320x240", 25, "testsrc", 1.0) + ["-c:v", "mjpeg", "-q:v", "5"],
    "rule_rate": video("320x240", 30, "testsrc", 1.0) + tone(44100, 330, 1.0) +
    ["-c:v", "mjpeg", "-q:v", "5", "-c:a", "pcm_s16le", "-ac", "2"],
}


def run(args):
    done = subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        sys.exit(f"make_fixtures: failed ({done.returncode}): {' '.join(args)}\n{done.stderr}")


def ffmpeg(args, out):
    run(["ffmpeg", "-v", "error", "-nostdin", "-y"] + args + EXACT + [out])


def make_vbr_mp3(out_dir, index, pattern, freq, seconds):
    source = os.path.join(out_dir, f".vbr_source_{index}.avi")
    ffmpeg(video("320x240", 25, pattern, seconds) + tone(44100, freq, seconds) +
           ["-c:v", "mpeg4", "-vtag", "XVID", "-q:v", "5", "-c:a", "pcm_s16le", "-ac", "2"],
           source)
    run(["mencoder", "-really-quiet", "-nocache", source, "-ovc", "copy", "-oac", "mp3lame",
         "-lameopts", "vbr=2:q=4", "-o", os.path.join(out_dir, f"vbr_mp3_{index}.avi")])
    os.remove(source)


def tool_version(tool):
    try:
        return subprocess.run([tool, "-version"], capture_output=True, text=True).stdout[:200]
    except OSError:
        return "missing"


def stamp_text():
    """What the fixture set depends on: this script and the tool versions."""
    with open(__file__, "rb") as f:
        script = hashlib.sha256(f.read()).hexdigest()
    return json.dumps({"script": script, "ffmpeg": tool_version("ffmpeg"),
                       "mencoder": tool_version("mencoder")})


def file_names():
    return ([f"{kind}_{index}.avi" for kind in KINDS for index in range(1, len(SEGMENTS) + 1)]
            + [f"{name}.avi" for name in RULE_FILES])


def make_all(out_dir):
    stamp = os.path.join(out_dir, "fixtures.stamp")
    wanted = stamp_text()
    if os.path.exists(stamp) and all(os.path.exists(os.path.join(out_dir, name))
                                     for name in file_names()):
        with open(stamp) as f:
            if f.read() == wanted:
                return
    for tool in ("ffmpeg", "mencoder"):
        if shutil.which(tool) is None:
            sys.exit(f"make_fixtures: {tool} is not on PATH")
    if os.path.isdir(out_dir):
        shutil.rmtree(out_dir)
    os.makedirs(out_dir)
    xvid = xvid_encoder()
    for index, (pattern, freq, seconds) in enumerate(SEGMENTS, start=1):
        for kind in FFMPEG_KINDS:
            ffmpeg(ffmpeg_args(kind, pattern, freq, seconds, xvid),
                   os.path.join(out_dir, f"{kind}_{index}.avi"))
        make_vbr_mp3(out_dir, index, pattern, freq, seconds)
    for name, args in RULE_FILES.items():
        ffmpeg(args, os.path.join(out_dir, f"{name}.avi"))
    with open(stamp, "w") as f:
        f.write(wanted)


def main():
    if sys.argv[1:] == ["--kinds"]:
        print("\n".join(KINDS))
        return
    if len(sys.argv) != 2 or sys.argv[1].startswith("-"):
        sys.exit(__doc__)
    make_all(sys.argv[1])


if __name__ == "__main__":
    main()
