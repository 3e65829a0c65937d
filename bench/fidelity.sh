#!/usr/bin/env bash
# How well each encoder's output sounds, decoded as every standard IMA ADPCM
# decoder decodes it (the codec's own Decode, from each block's header): the
# SNR of pcm-encoder's default output, of `--best`, of `--best
# --compatible`, of ffmpeg's adpcm_ima_wav with 1024-byte blocks at -trellis
# 8, and of a slow reference search run here only (four paths a step index,
# 356 in all, every code tried: the ceiling the others are measured
# against). The sounds are those such users prepare: the desktop and game
# effects of Debian's oxygen-sounds, sound-icons and kobodeluxe-data and the
# recordings of alsa-utils; full-scale squares and sines driven 12 dB into
# clipping; speech from espeak-ng; tones, sweeps, plucks, noise and silence
# made by sox; all as 22050 Hz mono 16-bit. Then, per file, how far --best
# and --compatible are from ffmpeg -trellis 8, the default and the
# reference (median and worst); the time and peak memory each takes on a
# 10-minute file (whole process); and the search's SNR and time against its
# width, measured in memory (bench/fidelity search) on two threads.
#
#   bash bench/fidelity.sh
#
# Needs cmake, make, g++, sox, ffmpeg, espeak-ng, alsa-utils and GNU time,
# and installs those that are missing (apt-get, as root).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/apt.sh

mapfile -t missing < <(missing_packages cmake make g++ sox ffmpeg espeak-ng alsa-utils time \
  libbenchmark-dev python3 oxygen-sounds sound-icons kobodeluxe-data)
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
  local package effect name
  for package in oxygen-sounds sound-icons kobodeluxe-data; do
    while read -r effect; do
      name=$(basename "${effect%.*}" | tr -c 'A-Za-z0-9_\n-' -)
      as_input "$effect" "$sounds/$package-$name.wav" 2>/dev/null || true
    done < <(dpkg -L "$package" | grep -E '\.(wav|ogg|oga|flac)$')
  done
  # Exact full-scale squares and clipped sines, which sox's band-limited
  # synthesis does not make.
  python3 - "$sounds" <<'PYTHON'
import math, struct, sys
def write(name, samples):
    data = struct.pack('<%dh' % len(samples), *samples)
    header = (b'RIFF' + struct.pack('<I', 36 + len(data)) + b'WAVE' + b'fmt ' +
              struct.pack('<IHHIIHH', 16, 1, 1, 22050, 44100, 2, 16) + b'data' + struct.pack('<I', len(data)))
    open('%s/%s.wav' % (sys.argv[1], name), 'wb').write(header + data)
count = 3 * 22050
for hz in (50, 200, 1000, 3000):
    write('square-full-%d' % hz, [32767 if (i * hz * 2 // 22050) % 2 == 0 else -32768 for i in range(count)])
for hz in (100, 440):
    write('sine-clipped-%d' % hz,
          [max(-32768, min(32767, round(4 * 32767 * math.sin(2 * math.pi * hz * i / 22050)))) for i in range(count)])
PYTHON
}

median() {
  sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

encoders=(default best compatible trellis-8 reference)
# Runs encoder $1 on $2, whose folder gets the output, Enc_ and its name;
# the reference prints its SNR instead.
run() {
  local name=$1 in=$2
  local out
  out=$(dirname "$in")/Enc_$(basename "$in")
  case $name in
    default) "$encoder" "$in" >/dev/null ;;
    best) "$encoder" --best "$in" >/dev/null ;;
    compatible) "$encoder" --best --compatible "$in" >/dev/null ;;
    trellis-*) ffmpeg -nostdin -v error -y -i "$in" -c:a adpcm_ima_wav -block_size 1024 \
                 -trellis "${name#trellis-}" "$out" ;;
    reference) "$fidelity" search "$in" 356 2 all 4 | awk '{ print $2 }' ;;
  esac
}

if ! "$encoder" --help | grep -q -e --compatible; then
  echo "$0: $encoder has no --compatible" >&2
  exit 1
fi
make_sounds
declare -A snr
printf '%-40s' "SNR (dB)"
printf ' %10s' "${encoders[@]}"
echo
inputs=("$sounds"/*.wav)
: >"$work/table"
for input in "${inputs[@]}"; do
  name=$(basename "$input" .wav)
  printf '%-40s' "$name"
  row=()
  for e in "${encoders[@]}"; do
    if [[ $e == reference ]]; then
      value=$(run "$e" "$input")
    elif run "$e" "$input" 2>/dev/null; then
      value=$("$fidelity" snr "$input" "$sounds/Enc_$name.wav")
      rm "$sounds/Enc_$name.wav"
    else
      value=failed  # ffmpeg -trellis 8 crashes on some full-scale squares
      rm -f "$sounds/Enc_$name.wav"
    fi
    row+=("$value")
    printf ' %10s' "$value"
  done
  echo
  echo "${row[*]}" >>"$work/table"
done
printf '%-40s' "median"
for ((c = 1; c <= ${#encoders[@]}; c++)); do
  printf ' %10s' "$(awk -v c=$c '$c != "inf" && $c != "nan" { print $c }' "$work/table" | median)"
done
echo

# Per file, one encoder's SNR less another's: the median and the worst.
# Files where either is silent or lossless (inf, nan) do not count.
column_of() {
  local c
  for ((c = 1; c <= ${#encoders[@]}; c++)); do
    if [[ ${encoders[c - 1]} == "$1" ]]; then echo "$c"; fi
  done
}
versus() {
  local a b
  a=$(column_of "$1") b=$(column_of "$2")
  awk -v a="$a" -v b="$b" '$a ~ /^-?[0-9.]+$/ && $b ~ /^-?[0-9.]+$/ { print $a - $b }' "$work/table" >"$work/differences"
  printf '  %-34s median %+6.2f dB, worst %+6.2f dB over %d files\n' "$1 against $2:" \
    "$(median <"$work/differences")" "$(sort -g "$work/differences" | head -1)" "$(wc -l <"$work/differences")"
}
echo
echo "Per file:"
versus best trellis-8
versus best default
versus best reference
versus compatible default
versus compatible trellis-8

# The 10-minute file: speech from the set, over and over.
sox "$sounds/speech-en.wav" "$work/ten.wav" repeat 200 trim 0 600
printf '\n%-26s %10s %12s\n' "10-minute file" "seconds" "peak KiB"
declare -A took
for e in default best compatible trellis-8; do
  /usr/bin/time -f '%e %M' -o "$work/time" bash -c "$(declare -f run); encoder=$encoder; run $e $work/ten.wav"
  read -r seconds kib <"$work/time"
  rm "$work/Enc_ten.wav"
  printf '%-26s %10s %12s\n' "$e" "$seconds" "$kib"
  took[$e]=$seconds
done
printf '  --best takes %.3f of ffmpeg -trellis 8'"'"'s time (target <= 0.1)\n' \
  "$(awk -v a="${took[best]}" -v b="${took[trellis-8]}" 'BEGIN { print a / b }')"

# The search's width against its median SNR over the set and its time on the
# 10-minute file, on two threads, in memory (no file work).
printf '\n%-26s %10s %12s\n' "search width" "median SNR" "10 min, s"
for width in 4 8 16 24 32 48 64; do
  values=()
  for input in "${inputs[@]}"; do
    read -r _ best _ < <("$fidelity" search "$input" "$width" 2)
    values+=("$best")
  done
  read -r _ _ seconds _ < <("$fidelity" search "$work/ten.wav" "$width" 2)
  printf '%-26s %10s %12s\n' "$width" "$(printf '%s\n' "${values[@]}" | median)" "$seconds"
done
