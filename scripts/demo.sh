#!/usr/bin/env bash
# Builds vantrel and does the program's main job on a sample it makes itself: three short AVI
# clips, joined by stream copy into one file, which is then probed and checked by ffmpeg.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${VANTREL_BUILD_ROOT:-$(pwd)/build}

bash scripts/install-deps.sh
cmake -S . -B "$out/native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$out/native" vantrel

sample="$out/sample"
mkdir -p "$sample"
for i in 1 2 3; do
    [ -f "$sample/clip$i.avi" ] && continue
    ffmpeg -v error -y -f lavfi -i "testsrc2=size=320x240:rate=25:duration=$((i + 1))" \
        -f lavfi -i "sine=frequency=$((220 * i)):sample_rate=44100:duration=$((i + 1))" \
        -c:v mjpeg -q:v 4 -c:a pcm_s16le "$sample/clip$i.avi"
done

vantrel="$out/native/src/cli/vantrel"
echo "Joining clip1.avi, clip2.avi and clip3.avi into joined.avi"
"$vantrel" join --force -o "$sample/joined.avi" "$sample/clip1.avi" "$sample/clip2.avi" \
    "$sample/clip3.avi"
"$vantrel" probe "$sample/joined.avi"
if [ -n "$(ffmpeg -v error -i "$sample/joined.avi" -f null - 2>&1)" ]; then
    echo "ffmpeg found errors in the joined file" >&2
    exit 1
fi
echo "ffmpeg decodes $sample/joined.avi without errors"
