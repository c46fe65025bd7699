#!/bin/sh
# Whole-process speed of velmora-codec beside the peer programs on 60 s of
# stereo: Layer II decoding to WAV against mpg123, encoding from WAV against
# twolame, at 48 and 44.1 kHz and 256 kbit/s; Layer III decoding to WAV against
# mpg123 of streams lame made at 48 kHz (128 and 320 kbit/s), 44.1 kHz
# (128 kbit/s) and 24 kHz (64 kbit/s). Best of three runs each; a ratio
# above 1 means velmora-codec is faster. Not a test: the numbers depend on the
# machine and its load.
#   bench/codec-vs-peers.sh [build-dir]
set -eu
build=${1:-build}
codec=$build/tools/velmora-codec/velmora-codec
for tool in "$codec" sox mpg123 twolame lame; do
    command -v "$tool" >/dev/null 2>&1 || { echo "codec-vs-peers: $tool not found" >&2; exit 2; }
done
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# Best wall time of three runs of the command, in seconds.
best() {
    b=
    for _ in 1 2 3; do
        t0=$(date +%s%N)
        "$@" >/dev/null 2>&1
        t=$(( $(date +%s%N) - t0 ))
        if [ -z "$b" ] || [ "$t" -lt "$b" ]; then b=$t; fi
    done
    echo "$b"
}

report() {
    awk -v what="$1" -v ours="$2" -v peer="$3" -v name="$4" 'BEGIN {
        printf "%-28s velmora-codec %7.3f s   %-8s %7.3f s   ratio %.2f\n", what, ours / 1e9, name, peer / 1e9, peer / ours }'
}

for rate in 48000 44100; do
    sox -n -r "$rate" -c 2 -b 16 "$dir/in.wav" synth 60 pinknoise sine 1000 gain -8
    enc=$(best "$codec" encode --type 32 --rate "$rate" --bitrate 256000 --mode 20 "$dir/in.wav" "$dir/ours.mp2")
    peer=$(best twolame -b 256 -m s "$dir/in.wav" "$dir/peer.mp2")
    report "Layer II encode $rate Hz" "$enc" "$peer" twolame
    dec=$(best "$codec" decode --type 32 --rate "$rate" --bitrate 256000 --mode 20 "$dir/ours.mp2" "$dir/ours.wav")
    peer=$(best mpg123 -q -w "$dir/peer.wav" "$dir/ours.mp2")
    report "Layer II decode $rate Hz" "$dec" "$peer" mpg123
done

for case in 48000:128 48000:320 44100:128 24000:64; do
    rate=${case%:*}
    kbits=${case#*:}
    sox -n -r "$rate" -c 2 -b 16 "$dir/in.wav" synth 60 pinknoise sine 1000 gain -8
    lame --quiet -m s -b "$kbits" "$dir/in.wav" "$dir/in.mp3"
    dec=$(best "$codec" decode --type 64 --rate "$rate" --bitrate "${kbits}000" --mode 20 "$dir/in.mp3" "$dir/ours.wav")
    peer=$(best mpg123 -q -w "$dir/peer.wav" "$dir/in.mp3")
    report "Layer III decode $rate Hz $kbits k" "$dec" "$peer" mpg123
done
