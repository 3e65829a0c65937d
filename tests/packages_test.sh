#!/usr/bin/env bash
# The packages that scripts/run-tests.sh makes: the Windows zip holds just
# pcm-encoder.exe and its guide, and the guide quotes the program's messages
# as it prints them; the .deb installs a working /usr/bin/pcm-encoder and
# names what it depends on.
# Usage: packages_test.sh ZIP DEB-FOLDER VERSION PCM-ENCODER EXAMPLE-WAV; exit
# 77 (skipped) without a package or dpkg-deb.
set -euo pipefail
deb_folder=$2 version=$3 program=$4 example=$5
debs=("$deb_folder/pcm-encoder_${version}_"*.deb)
command -v dpkg-deb >/dev/null && [[ -f $1 && -f ${debs[0]} ]] || exit 77
zip=$(realpath -- "$1")
deb=${debs[0]}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*" >&2; exit 1; }

entries=$(cmake -E tar tf "$zip" | LC_ALL=C sort)
[[ $entries == $'README.txt\npcm-encoder.exe' ]] || fail "zip holds: ${entries//$'\n'/ }"
mkdir "$work/zip" && (cd "$work/zip" && cmake -E tar xf "$zip")
[[ $(head -c 2 "$work/zip/pcm-encoder.exe") == MZ ]] || fail "pcm-encoder.exe is no Windows program"
guide=$work/zip/README.txt
! grep -q $'[^\r]$\|^$' "$guide" || fail "README.txt has lines that do not end with CR LF"

mkdir "$work/deb" && dpkg-deb -x "$deb" "$work/deb"
files=$(cd "$work/deb" && find . ! -type d)
[[ $files == ./usr/bin/pcm-encoder && -x $work/deb/usr/bin/pcm-encoder ]] ||
  fail ".deb installs: ${files//$'\n'/ }"
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == pcm-encoder && $(field Version) == "$version" &&
   $(field Architecture) == "$(dpkg --print-architecture)" && $(field Section) == sound ]] ||
  fail "control: $(dpkg-deb -f "$deb")"
[[ -n $(field Maintainer) && -n $(field Description) ]] || fail "no maintainer or description"
for library in libc6 libstdc++6; do
  [[ ,$(field Depends | tr -d ' '), == *",$library("* ]] || fail "Depends: $(field Depends) lacks $library"
done

# The packaged program converts as the built one does; its output is refused
# with the message the guide quotes, and run without a file it prints the
# other.
cp "$example" "$work/a.wav" && cp "$example" "$work/b.wav"
"$work/deb/usr/bin/pcm-encoder" "$work/a.wav" </dev/null
"$program" "$work/b.wav" </dev/null
cmp "$work/Enc_a.wav" "$work/Enc_b.wav" || fail "the packaged program converts differently"
tr -d '\r' <"$guide" | sed 's/ *$//' >"$work/guide"
for message in "$("$work/deb/usr/bin/pcm-encoder" </dev/null)" \
  "$("$work/deb/usr/bin/pcm-encoder" "$work/Enc_a.wav" </dev/null)"; do
  while IFS= read -r line; do
    grep -qF -- "${line% }" "$work/guide" || fail "the guide does not quote: $line"
  done <<<"$message"
done
