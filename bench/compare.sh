#!/usr/bin/env bash
# Times a whole conversion by pcm-encoder against ffmpeg's and sox's IMA ADPCM
# encoders on the same 10-minute speech file, and on 200 short effects
# converted one process a file, beside a loop of processes that do nothing;
# measures pcm-encoder's peak memory on a 1-minute and a 60-minute input, and
# runs the codec benchmark. It also sets the conversion beside its I/O
# floor: bench/io_floor doing the same reads, writes, sync and rename without
# encoding, timed in rounds of their own.
#
# The three tools run in alternating rounds: in each, hyperfine times every
# tool a few times (the tools' order turning from round to round), and the
# round's ratios compare the medians of that round, so that load from other
# programs hits all tools alike. The script prints the median of the rounds'
# ratios, for wall-clock time and for CPU time (user + system), which other
# programs on the machine disturb less.
#
#   bash bench/compare.sh [rounds] [runs-per-round]
#
# Needs cmake, make, g++, hyperfine, sox, ffmpeg, GNU time and Google
# Benchmark, and installs those that are missing (apt-get, as root).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/apt.sh

mapfile -t missing < <(missing_packages cmake make g++ hyperfine sox ffmpeg time libbenchmark-dev)
install_packages "${missing[@]}"

rounds=${1:-7}
runs=${2:-3}
seconds=600
short_minutes=1
long_minutes=60

build=build/bench
cmake --preset bench >/dev/null
cmake --build --preset bench --target pcm-encoder codec_bench io_floor -j2 >/dev/null
encoder=$(realpath "$build/pcm-encoder")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Speech of the length asked for: the bundled example over and over.
speech() {
  local out=$1 length=$2
  local copies=$(( length / 6 + 1 ))
  sox examples/hello.wav -r 22050 -c 1 -b 16 -e signed-integer "$out" repeat "$copies" trim 0 "$length"
}

speech "$work/ten.wav" "$seconds"
echo "Machine: $(nproc) CPUs, $(lscpu | awk -F': *' '/Model name/ { print $2; exit }'), load average $(cut -d ' ' -f 1-3 /proc/loadavg)"

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

tools=(pcm-encoder ffmpeg sox)
declare -A commands=(
  [pcm-encoder]="$encoder $work/ten.wav"
  [ffmpeg]="ffmpeg -nostdin -v error -y -i $work/ten.wav -c:a adpcm_ima_wav $work/ffmpeg.wav"
  [sox]="sox $work/ten.wav -e ima-adpcm $work/sox.wav"
)

# Without a shell in between where hyperfine can (-N; older versions, such
# as Ubuntu 22.04's, lack it): otherwise it subtracts the shell's own time.
no_shell=()
# From hyperfine's CSV $1, the wall clock of each command named after it, in
# that order, then their CPU times. Columns by name: older hyperfines have no
# median, and then the mean counts.
timings() {
  local csv=$1
  shift
  awk -F, -v names="$*" 'NR == 1 { for (i = 1; i <= NF; i++) column[$i] = i
                                   middle = ("median" in column) ? column["median"] : column["mean"]; next }
      { wall[$1] = $middle; cpu[$1] = $column["user"] + $column["system"] }
      END { n = split(names, name, " ")
            for (i = 1; i <= n; i++) printf "%s ", wall[name[i]]
            for (i = 1; i <= n; i++) printf "%s%s", cpu[name[i]], i < n ? " " : "\n" }' "$csv"
}
if [[ $(hyperfine --help) == *--shell=none* ]]; then
  no_shell=(-N)
fi

# One line a round: wall-clock medians and CPU means of pcm-encoder, ffmpeg
# and sox, in seconds.
: >"$work/rounds"
for ((round = 0; round < rounds; round++)); do
  arguments=()
  for ((i = 0; i < ${#tools[@]}; i++)); do
    tool=${tools[(round + i) % ${#tools[@]}]}
    arguments+=(-n "$tool" "${commands[$tool]}")
  done
  hyperfine "${no_shell[@]}" --warmup 1 --runs "$runs" --style none --export-csv "$work/round.csv" \
    "${arguments[@]}" >/dev/null 2>>"$work/hyperfine.log"
  timings "$work/round.csv" pcm-encoder ffmpeg sox >>"$work/rounds"
  awk -v r=$((round + 1)) 'END { printf "round %d: wall %.1f / %.1f / %.1f ms, CPU %.1f / %.1f / %.1f ms (pcm-encoder / ffmpeg / sox)\n",
      r, $1 * 1000, $2 * 1000, $3 * 1000, $4 * 1000, $5 * 1000, $6 * 1000 }' "$work/rounds"
done

median_of() { awk -v c="$1" '{ print $c }' "$work/rounds" | median; }
ratio() { awk -v a="$1" -v b="$2" '{ print $a / $b }' "$work/rounds" | median; }

echo
echo "10-minute 22050 Hz mono 16-bit speech, medians of $rounds rounds of $runs runs:"
printf '  %-12s %10s %10s\n' tool wall CPU
printf '  %-12s %7.1f ms %7.1f ms\n' pcm-encoder "$(median_of 1 | awk '{ print $1 * 1000 }')" "$(median_of 4 | awk '{ print $1 * 1000 }')"
printf '  %-12s %7.1f ms %7.1f ms\n' ffmpeg "$(median_of 2 | awk '{ print $1 * 1000 }')" "$(median_of 5 | awk '{ print $1 * 1000 }')"
printf '  %-12s %7.1f ms %7.1f ms\n' sox "$(median_of 3 | awk '{ print $1 * 1000 }')" "$(median_of 6 | awk '{ print $1 * 1000 }')"
printf '  ffmpeg / pcm-encoder: wall %.2f, CPU %.2f (target >= 8)\n' "$(ratio 2 1)" "$(ratio 5 4)"
printf '  sox / pcm-encoder:    wall %.2f, CPU %.2f (target >= 50)\n' "$(ratio 3 1)" "$(ratio 6 4)"

# Short effects, as users convert most files: 200 of them, each under 93 ms
# (one block, 2 to 4 KB), cut from the example at different places and
# lengths. Each tool converts them in a shell loop, one process a file; the
# loop of /bin/true is what the processes alone cost. ffmpeg takes some 80 ms
# a file, so it runs once a round, the others $runs times.
effects=200
mkdir "$work/effects" "$work/effects-out"
for ((i = 0; i < effects; i++)); do
  sox examples/hello.wav "$(printf '%s/effects/fx-%03d.wav' "$work" "$i")" \
    trim "$(( i * 677 % 120000 ))s" "$(( 1000 + i * 37 % 1048 ))s"
done
# One loop: effects.sh TOOL, in the effects folder; pcm-encoder writes its
# outputs beside the inputs, the others into effects-out.
cat >"$work/effects.sh" <<EOF
cd "$work/effects"
for f in fx-*.wav; do
  case \$1 in
    true) /bin/true "\$f" ;;
    pcm-encoder) "$encoder" "\$f" </dev/null ;;
    sox) sox "\$f" -e ima-adpcm "../effects-out/\$f" ;;
    ffmpeg) ffmpeg -nostdin -v error -y -i "\$f" -c:a adpcm_ima_wav "../effects-out/\$f" ;;
  esac
done
EOF
loop_tools=(true pcm-encoder sox)
# One line a round: the loops' wall-clock medians for true, pcm-encoder, sox
# and ffmpeg, then their CPU times, in seconds.
: >"$work/effect-rounds"
for ((round = 0; round < rounds; round++)); do
  arguments=()
  for ((i = 0; i < ${#loop_tools[@]}; i++)); do
    tool=${loop_tools[(round + i) % ${#loop_tools[@]}]}
    arguments+=(-n "$tool" "bash $work/effects.sh $tool")
  done
  hyperfine "${no_shell[@]}" --warmup 1 --runs "$runs" --style none --export-csv "$work/loops.csv" \
    "${arguments[@]}" >/dev/null 2>>"$work/hyperfine.log"
  hyperfine "${no_shell[@]}" --runs 1 --style none --export-csv "$work/ffmpeg-loop.csv" \
    -n ffmpeg "bash $work/effects.sh ffmpeg" >/dev/null 2>>"$work/hyperfine.log"
  paste -d ' ' <(timings "$work/loops.csv" true pcm-encoder sox) \
    <(timings "$work/ffmpeg-loop.csv" ffmpeg) |
    awk '{ print $1, $2, $3, $7, $4, $5, $6, $8 }' >>"$work/effect-rounds"
  awk -v r=$((round + 1)) -v n=$effects 'END {
      printf "round %d: a file, wall %.2f / %.2f / %.2f / %.2f ms (true / pcm-encoder / sox / ffmpeg)\n",
        r, $1 * 1000 / n, $2 * 1000 / n, $3 * 1000 / n, $4 * 1000 / n }' "$work/effect-rounds"
done
effect_ms() { awk -v c="$1" -v n=$effects '{ print $c * 1000 / n }' "$work/effect-rounds" | median; }
effect_ratio() { awk -v a="$1" -v b="$2" '{ print $a / $b }' "$work/effect-rounds" | median; }
echo
echo "$effects short effects (under 93 ms each), one process a file; a file's share of each loop, medians of $rounds rounds:"
printf '  %-24s %8s %8s\n' loop wall CPU
printf '  %-24s %5.2f ms %5.2f ms\n' "/bin/true (a process)" "$(effect_ms 1)" "$(effect_ms 5)" \
  pcm-encoder "$(effect_ms 2)" "$(effect_ms 6)" sox "$(effect_ms 3)" "$(effect_ms 7)" \
  "ffmpeg (1 run a round)" "$(effect_ms 4)" "$(effect_ms 8)"
printf '  sox / pcm-encoder:    wall %.2f, CPU %.2f (target >= 1.3)\n' "$(effect_ratio 3 2)" "$(effect_ratio 7 6)"
printf '  ffmpeg / pcm-encoder: wall %.2f, CPU %.2f\n' "$(effect_ratio 4 2)" "$(effect_ratio 8 6)"
rm -rf "$work/effects" "$work/effects-out"

# The median of a few runs: the resident size of shared libraries varies a
# little from run to run, whatever the input.
peak_kib() {
  for ((run = 0; run < 5; run++)); do
    /usr/bin/time -v "$encoder" "$1" </dev/null 2>&1 >/dev/null |
      awk -F': ' '/Maximum resident set size/ { print $2 }'
  done | median
}

# The conversion against the I/O floor and against itself with -v, each
# round timing all three in turn, so that the ratios pair runs made under
# the same load.
floor=$(realpath "$build/bench/io_floor")
: >"$work/floor-rounds"
for ((round = 0; round < rounds; round++)); do
  hyperfine "${no_shell[@]}" --warmup 1 --runs "$runs" --style none \
    --export-csv "$work/floor.csv" -n pcm-encoder "${commands[pcm-encoder]}" \
    -n io-floor "$floor $work/ten.wav $work/floor.wav" \
    -n measured "$encoder -v $work/ten.wav" >/dev/null 2>>"$work/hyperfine.log"
  timings "$work/floor.csv" pcm-encoder io-floor measured >>"$work/floor-rounds"
done
floor_median() { awk -v c="$1" '{ print $c * 1000 }' "$work/floor-rounds" | median; }
echo
echo "The conversion against its I/O floor (reads, writes, sync, rename; no encoding) and with -v, wall clock, medians of $rounds rounds of $runs runs:"
printf '  pcm-encoder    %7.1f ms\n  I/O floor      %7.1f ms\n  pcm-encoder -v %7.1f ms\n' \
  "$(floor_median 1)" "$(floor_median 2)" "$(floor_median 3)"
printf '  pcm-encoder / I/O floor: %.2f (target <= 1.3)\n' \
  "$(awk '{ print $1 / $2 }' "$work/floor-rounds" | median)"
printf '  -v / without: %.3f (target <= 1.05)\n' \
  "$(awk '{ print $3 / $1 }' "$work/floor-rounds" | median)"

rm -f "$work/ten.wav" "$work"/Enc_ten.wav "$work/ffmpeg.wav" "$work/sox.wav" "$work/floor.wav"
speech "$work/short.wav" $(( short_minutes * 60 ))
speech "$work/long.wav" $(( long_minutes * 60 ))
short_peak=$(peak_kib "$work/short.wav")
long_peak=$(peak_kib "$work/long.wav")
echo
echo "pcm-encoder peak memory (maximum resident set size, median of 5 runs):"
echo "  $short_minutes-minute input: $short_peak KiB"
echo "  $long_minutes-minute input: $long_peak KiB"
echo "  difference: $(( long_peak - short_peak )) KiB (target within 64 KiB)"

echo
echo "Codec, ns a sample, a 2048-sample block an iteration (medians of 10 repetitions):"
"$build/bench/codec_bench" --benchmark_repetitions=10 --benchmark_report_aggregates_only=true \
  --benchmark_format=csv 2>/dev/null |
  awk -F, '$1 ~ /_median"$/ {
      name = $1; gsub(/"|_median/, "", name); ns[name] = $NF * 1e9
      printf "  %-30s %6.2f\n", name, ns[name] }
    END {
      printf "  buffer Encode against the reference transcription: %.2fx on speech, %.2fx on noise (target >= 1.6)\n",
        ns["BM_EncodeTranscription/speech"] / ns["BM_Encode/speech"],
        ns["BM_EncodeTranscription/noise"] / ns["BM_Encode/noise"]
      printf "  blocks in one call: %.2f ns a sample on speech (target <= 1.5), %.2fx the buffer Encode\n",
        ns["BM_EncodeGroup/speech"], ns["BM_Encode/speech"] / ns["BM_EncodeGroup/speech"]
      printf "  summing the squared errors (-v) costs the lanes %.0f%%, the scalar path %.0f%%\n",
        100 * (ns["BM_EncodeGroup/speech_summed"] / ns["BM_EncodeGroup/speech"] - 1),
        100 * (ns["BM_EncodeGroup/scalar_speech_summed"] / ns["BM_EncodeGroup/scalar_speech"] - 1) }'
