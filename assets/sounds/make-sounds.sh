#!/usr/bin/env bash
# Makes the four sound cues of the program from scratch with sox and lame:
#   start.mp3         a rising three-note chime (C5 E5 G5), about 1.2 s
#   connected.mp3     a bright rising fifth (G5 D6), about 0.9 s
#   disconnected.mp3  the same interval falling (D6 G5), about 0.9 s
#   error.mp3         a soft low falling minor third (E4 C#4), about 0.8 s
# Each note is a bell-like tone (a sine with two quiet overtones) with a short soft attack and a
# long decay, a little room on top, and an end that fades to silence. Run it from anywhere; the
# files land in assets/. The output is reproducible: no dither, fixed encoder settings.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
out="${1:-$here/..}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

rate=44100
sx() { sox -D -V1 "$@"; }

# note FILE FREQUENCY SECONDS: one chime note.
note() {
    local file=$1 freq=$2 len=$3
    local f2 f3
    f2=$(awk -v f="$freq" 'BEGIN { printf "%.3f", f * 2 }')
    f3=$(awk -v f="$freq" 'BEGIN { printf "%.3f", f * 3 }')
    sx -n -r $rate -c 1 -b 16 "$work/p1.wav" synth "$len" sine "$freq" vol 0.60
    sx -n -r $rate -c 1 -b 16 "$work/p2.wav" synth "$len" sine "$f2" vol 0.18
    sx -n -r $rate -c 1 -b 16 "$work/p3.wav" synth "$len" sine "$f3" vol 0.06
    # The overtones die away faster than the fundamental, as on a struck bell.
    sx "$work/p2.wav" "$work/p2f.wav" fade l 0.004 "$len" "$(awk -v l="$len" 'BEGIN { print l * 0.8 }')"
    sx "$work/p3.wav" "$work/p3f.wav" fade l 0.004 "$len" "$(awk -v l="$len" 'BEGIN { print l * 0.9 }')"
    sx -m "$work/p1.wav" "$work/p2f.wav" "$work/p3f.wav" "$file" fade q 0.006 "$len" "$(awk -v l="$len" 'BEGIN { print l * 0.92 }')"
}

# cue NAME TOTAL_SECONDS "FREQ:START:LENGTH" ...: notes mixed at their start times.
cue() {
    local name=$1 total=$2
    shift 2
    local parts=() i=0 tone freq start len
    for tone in "$@"; do
        IFS=: read -r freq start len <<<"$tone"
        note "$work/n$i.wav" "$freq" "$len"
        sx "$work/n$i.wav" "$work/d$i.wav" pad "$start" 0
        parts+=("$work/d$i.wav")
        i=$((i + 1))
    done
    if ((${#parts[@]} > 1)); then
        sx -m "${parts[@]}" "$work/mix.wav"
    else
        cp "${parts[0]}" "$work/mix.wav"
    fi
    # A small room, then cut to length with a gentle tail and bring the peak to -4 dBFS.
    sx "$work/mix.wav" "$work/$name.wav" reverb 25 50 30 remix - pad 0 0.3 trim 0 "$total" \
        fade q 0 "$total" 0.25 gain -n -4
    lame --quiet --noreplaygain -m m -b 96 --resample 44.1 "$work/$name.wav" "$out/$name.mp3"
}

cue start 1.2 523.25:0:0.9 659.26:0.14:0.85 783.99:0.28:0.9
cue connected 0.9 783.99:0:0.6 1174.66:0.13:0.75
cue disconnected 0.9 1174.66:0:0.6 783.99:0.13:0.75
cue error 0.8 329.63:0:0.55 277.18:0.16:0.62

echo "made start.mp3 connected.mp3 disconnected.mp3 error.mp3 in $(cd "$out" && pwd)"
