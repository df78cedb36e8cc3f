#!/usr/bin/env bash
# Takes vantrel's place for `remux` and `join` with ffmpeg's stream copy, to check the oracle
# itself: a correct stream copy must pass the remux and join cases. It does not apply the join
# rule, so the refuse.* and warn.* cases are expected to fail with it.
#   oracle.py run remux.mjpeg_pcm --vantrel tests/oracle/ffmpeg_standin.sh --media ... --work ...
set -euo pipefail
command=$1
shift
files=()
out=
while (($#)); do
    case $1 in
    --quiet | --force) ;;
    -o)
        out=$2
        shift
        ;;
    *) files+=("$1") ;;
    esac
    shift
done
case $command in
remux) exec ffmpeg -v error -nostdin -n -i "${files[0]}" -map 0 -c copy "${files[1]}" ;;
join)
    list=$(mktemp)
    trap 'rm -f "$list"' EXIT
    for f in "${files[@]}"; do
        printf "file '%s'\n" "$(realpath "$f")" >>"$list"
    done
    ffmpeg -v error -nostdin -n -f concat -safe 0 -i "$list" -map 0 -c copy "$out"
    ;;
*) exit 1 ;;
esac
