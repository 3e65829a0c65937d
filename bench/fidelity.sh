#!/usr/bin/env bash
# How well each encoder's output sounds, decoded as every standard IMA ADPCM
# decoder decodes it (the codec's own Decode, from each block's header): the
# SNR of pcm-encoder's default output, of `pcm-encoder --best`, and of
# ffmpeg's adpcm_ima_wav with 1024-byte blocks at -trellis 0, 4 and 8, on
# speech from espeak-ng, tones, sweeps, plucks, noise and silence made by
# sox, and the recordings of alsa-utils, all as 22050 Hz mono 16-bit; then
# the medians, the time and peak memory each takes on a 10-minute file
# (whole process), and the search's SNR and time against its width, measured
# in memory (bench/fidelity search) on two threads.
#
#   bash bench/fidelity.sh
#
# Needs cmake, make, g++, sox, ffmpeg, espeak-ng, alsa-utils and GNU time,
# and installs those that are missing (apt-get, as root).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/apt.sh

mapfile -t missing < <(missing_packages cmake make g++ sox ffmpeg espeak-ng alsa-utils time \
  libbenchmark-dev)
install_packages "${missing[@]}"

build=build/bench
cmake --preset bench >/dev/null
cmake --build --preset bench --target pcm-encoder fidelity -j2 >/dev/null
encoder=$(realpath "$build/pcm-encoder")
fidelity=$(realpath "$build/bench/fidelity")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sounds=$work/sounds
mkdir -p "$sounds"

# Converts $1 into $2, 22050 Hz mono 16-bit, through the effects after them.
# Without dither (-D): the same set every run, and silence that is silent.
as_input() {
  local in=$1 out=$2
  shift 2
  sox -D "$in" -r 22050 -c 1 -b 16 -e signed-integer "$out" "$@"
}

# The set, each sound a few seconds long.
make_sounds() {
  local text="The quick brown fox jumps over the lazy dog. Pack my box with five dozen liquor jugs."
  local voice
  for voice in en en+f3 de fr; do
    espeak-ng -v "$voice" -w "$work/speech.wav" "$text"
    as_input "$work/speech.wav" "$sounds/speech-$voice.wav"
  done
  as_input -n "$sounds/sine-440.wav" synth 4 sine 440 gain -3
  as_input -n "$sounds/sine-quiet.wav" synth 4 sine 1000 gain -40
  sox -n -c 3 -r 22050 "$work/chord.wav" synth 4 sine 262 sine 330 sine 392
  as_input "$work/chord.wav" "$sounds/chord.wav" gain -n -3
  as_input -n "$sounds/square-220.wav" synth 4 square 220 gain -6
  as_input -n "$sounds/sweep.wav" synth 6 sine 50-10000 gain -3
  as_input -n "$sounds/sweep-square.wav" synth 6 square 100-4000 gain -6
  as_input -n "$sounds/pluck-low.wav" synth 3 pluck A2 fade 0 3 2 gain -3
  as_input -n "$sounds/pluck-high.wav" synth 2 pluck C5 fade 0 2 1.5 gain -3
  as_input -n "$sounds/white-noise.wav" synth 4 whitenoise gain -6
  as_input -n "$sounds/pink-noise.wav" synth 4 pinknoise gain -6
  as_input -n "$sounds/brown-noise.wav" synth 4 brownnoise gain -6
  as_input -n "$sounds/tremolo.wav" synth 4 sine 600 tremolo 6 80 gain -3
  as_input -n "$sounds/silence.wav" trim 0 3
  local recording
  for recording in /usr/share/sounds/alsa/*.wav; do
    as_input "$recording" "$sounds/alsa-$(basename "$recording")"
  done
}

median() {
  sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

encoders=(default best trellis-0 trellis-4 trellis-8)
# Runs encoder $1 on $2, whose folder gets the output, Enc_ and its name.
run() {
  local name=$1 in=$2
  local out
  out=$(dirname "$in")/Enc_$(basename "$in")
  case $name in
    default) "$encoder" "$in" >/dev/null ;;
    best) "$encoder" --best "$in" >/dev/null ;;
    trellis-*) ffmpeg -nostdin -v error -y -i "$in" -c:a adpcm_ima_wav -block_size 1024 \
                 -trellis "${name#trellis-}" "$out" ;;
  esac
}

if ! "$encoder" --help | grep -q -e --best; then
  echo "$0: $encoder has no --best" >&2
  exit 1
fi
make_sounds
declare -A snr
printf '%-26s' "SNR (dB)"
printf ' %10s' "${encoders[@]}"
echo
inputs=("$sounds"/*.wav)
for input in "${inputs[@]}"; do
  name=$(basename "$input" .wav)
  printf '%-26s' "$name"
  for e in "${encoders[@]}"; do
    run "$e" "$input"
    value=$("$fidelity" snr "$input" "$sounds/Enc_$name.wav")
    rm "$sounds/Enc_$name.wav"
    snr[$e]+="$value "
    printf ' %10s' "$value"
  done
  echo
done
printf '%-26s' "median"
for e in "${encoders[@]}"; do
  printf ' %10s' "$(tr ' ' '\n' <<<"${snr[$e]}" | grep . | median)"
done
echo

# The 10-minute file: speech from the set, over and over.
sox "$sounds/speech-en.wav" "$work/ten.wav" repeat 200 trim 0 600
printf '\n%-26s %10s %12s\n' "10-minute file" "seconds" "peak KiB"
for e in "${encoders[@]}"; do
  /usr/bin/time -f '%e %M' -o "$work/time" bash -c "$(declare -f run); encoder=$encoder; run $e $work/ten.wav"
  read -r seconds kib <"$work/time"
  rm "$work/Enc_ten.wav"
  printf '%-26s %10s %12s\n' "$e" "$seconds" "$kib"
done

# The search's width against its median SNR over the set and its time on the
# 10-minute file, on two threads, in memory (no file work).
printf '\n%-26s %10s %12s\n' "search width" "median SNR" "10 min, s"
for width in 1 4 8 16 32 64 128; do
  values=()
  for input in "${inputs[@]}"; do
    read -r _ best _ < <("$fidelity" search "$input" "$width" 2)
    values+=("$best")
  done
  read -r _ _ seconds _ < <("$fidelity" search "$work/ten.wav" "$width" 2)
  printf '%-26s %10s %12s\n' "$width" "$(printf '%s\n' "${values[@]}" | median)" "$seconds"
done
