#!/usr/bin/env bash
# Times a folder of short effects converted in one run of pcm-encoder against
# the same effects converted one process a file, by pcm-encoder and by sox,
# and measures the peak memory of one run over 1,000 effects and over a
# 10-minute file.
#
# The effects are made here with sox, 2 to 4 KB each, of the kinds users
# prepare: clicks, shots (noise bursts that decay), a square wave and a sine
# driven into clipping, plucks, short tones and sweeps, and cuts of speech.
#
# Each round hyperfine times every way a few times (their order turning from
# round to round), and the round's ratios compare the medians of that round,
# so that load from other programs hits all alike. The script prints the
# medians of the rounds' ratios.
#
#   bash bench/batch.sh [rounds] [runs-per-round]
#
# Needs cmake, make, g++, hyperfine, sox and GNU time, and installs those that
# are missing (apt-get, as root).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/apt.sh

mapfile -t missing < <(missing_packages cmake make g++ hyperfine sox time libbenchmark-dev)
install_packages "${missing[@]}"

rounds=${1:-7}
runs=${2:-3}
effects=200
many=1000

build=build/bench
cmake --preset bench >/dev/null
cmake --build --preset bench --target pcm-encoder -j2 >/dev/null
encoder=$(realpath "$build/pcm-encoder")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "Machine: $(nproc) CPUs, $(lscpu | awk -F': *' '/Model name/ { print $2; exit }'), load average $(cut -d ' ' -f 1-3 /proc/loadavg)"

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Effect i of the kinds above, 1000 to 2047 samples (2 to 4 KB), into $2.
effect() {
  local i=$1 out=$2 samples=$(( 1000 + $1 * 37 % 1048 ))
  local length="${samples}s" format=(-r 22050 -c 1 -b 16 -e signed-integer)
  case $(( i % 7 )) in
    0) sox -n "${format[@]}" "$out" synth "$length" square $(( 800 + i * 13 % 3000 )) fade 0 "$length" "$(( samples - 40 ))s" ;;
    1) sox -n "${format[@]}" "$out" synth "$length" whitenoise fade 0 "$length" "$(( samples * 9 / 10 ))s" gain -$(( i % 6 )) ;;
    2) sox -n "${format[@]}" "$out" synth "$length" square $(( 50 + i * 7 % 900 )) gain -1 ;;
    3) sox -n "${format[@]}" "$out" synth "$length" sine $(( 200 + i * 11 % 2000 )) gain 12 ;;
    4) sox -n "${format[@]}" "$out" synth "$length" pluck $(( 110 + i * 5 % 700 )) ;;
    5) sox -n "${format[@]}" "$out" synth "$length" sine $(( 300 + i % 500 ))-$(( 3000 + i * 17 % 6000 )) gain -3 ;;
    6) sox examples/hello.wav "$out" trim "$(( i * 677 % 120000 ))s" "$length" ;;
  esac
}

mkdir "$work/effects" "$work/effects-out"
for ((i = 0; i < effects; i++)); do effect "$i" "$(printf '%s/effects/fx-%03d.wav' "$work" "$i")"; done

# One way of converting them: effects.sh WAY, in the effects folder;
# pcm-encoder writes its outputs beside the inputs, sox into effects-out.
cat >"$work/effects.sh" <<EOF
cd "$work/effects"
case \$1 in
  one-run) "$encoder" . </dev/null ;;
  one-run-j1) "$encoder" -j 1 . </dev/null ;;
  a-process-a-file) for f in fx-*.wav; do "$encoder" "\$f" </dev/null; done ;;
  sox) for f in fx-*.wav; do sox "\$f" -e ima-adpcm "../effects-out/\$f"; done ;;
esac
EOF
bash "$work/effects.sh" one-run
for f in "$work"/effects/fx-*.wav; do
  name=$(basename "$f")
  "$encoder" -o "$work/effects-out" "$f" </dev/null
  cmp -s "$work/effects-out/Enc_$name" "$work/effects/Enc_$name" ||
    { echo "$name: the batch's output differs from a run of its own" >&2; exit 1; }
done

no_shell=()
if [[ $(hyperfine --help) == *--shell=none* ]]; then no_shell=(-N); fi
# From hyperfine's CSV $1, the wall clock (median, else mean) of each
# command named after it, in that order.
timings() {
  local csv=$1
  shift
  awk -F, -v names="$*" 'NR == 1 { for (i = 1; i <= NF; i++) column[$i] = i
                                   middle = ("median" in column) ? column["median"] : column["mean"]; next }
      { wall[$1] = $middle }
      END { n = split(names, name, " ")
            for (i = 1; i <= n; i++) printf "%s%s", wall[name[i]], i < n ? " " : "\n" }' "$csv"
}

ways=(one-run one-run-j1 a-process-a-file sox)
: >"$work/rounds"
for ((round = 0; round < rounds; round++)); do
  arguments=()
  for ((i = 0; i < ${#ways[@]}; i++)); do
    way=${ways[(round + i) % ${#ways[@]}]}
    arguments+=(-n "$way" "bash $work/effects.sh $way")
  done
  hyperfine "${no_shell[@]}" --warmup 1 --runs "$runs" --style none --export-csv "$work/round.csv" \
    "${arguments[@]}" >/dev/null 2>>"$work/hyperfine.log"
  timings "$work/round.csv" "${ways[@]}" >>"$work/rounds"
  awk -v r=$((round + 1)) 'END { printf "round %d: %.1f / %.1f / %.1f / %.1f ms (one run / one run, -j 1 / a process a file / sox)\n",
      r, $1 * 1000, $2 * 1000, $3 * 1000, $4 * 1000 }' "$work/rounds"
done
ms() { awk -v c="$1" '{ print $c * 1000 }' "$work/rounds" | median; }
ratio() { awk -v a="$1" -v b="$2" '{ print $a / $b }' "$work/rounds" | median; }
echo
echo "$effects short effects (2 to 4 KB), wall clock of the whole set, medians of $rounds rounds of $runs runs:"
printf '  %-40s %8.1f ms\n' "pcm-encoder, one run over the folder" "$(ms 1)" \
  "pcm-encoder -j 1, one run over the folder" "$(ms 2)" \
  "pcm-encoder, a process a file" "$(ms 3)" "sox, a process a file" "$(ms 4)"
printf '  a process a file / one run: %.2f (target >= 3)\n' "$(ratio 3 1)"
printf '  sox / one run:              %.2f (target >= 3)\n' "$(ratio 4 1)"
printf '  -j 1 / one run:             %.2f\n' "$(ratio 2 1)"

peak_kib() {
  for ((run = 0; run < 5; run++)); do
    /usr/bin/time -v "$encoder" "$@" </dev/null 2>&1 >/dev/null |
      awk -F': ' '/Maximum resident set size/ { print $2 }'
  done | median
}
mkdir "$work/many"
for ((i = 0; i < many; i++)); do cp "$work/effects/fx-$(printf '%03d' $(( i % effects ))).wav" "$work/many/fx-$i.wav"; done
sox examples/hello.wav -r 22050 -c 1 -b 16 -e signed-integer "$work/ten.wav" repeat 100 trim 0 600
echo
echo "Peak resident size of one run (median of 5 runs; target <= 16384 KiB):"
echo "  $many effects: $(peak_kib "$work/many") KiB"
echo "  the 10-minute file: $(peak_kib "$work/ten.wav") KiB"
