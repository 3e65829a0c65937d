#!/usr/bin/env bash
# The packages that scripts/run-tests.sh makes: the Windows zip holds just
# pcm-encoder.exe, its guide and the licence, the guide quotes the program's
# messages as it prints them, and the .exe carries the version information;
# the .deb installs a working /usr/bin/pcm-encoder that loads no shared
# library, its manual, copyright file and changelog, and lintian finds
# nothing in it but what its override lets pass.
# Usage: packages_test.sh ZIP DEB-FOLDER VERSION PCM-ENCODER EXAMPLE-WAV; exit
# 77 (skipped) without a package (no Windows build, say) or a tool it needs.
set -euo pipefail
zip=$(realpath -m -- "$1") deb_folder=$2 version=$3 program=$4 example=$5
debs=("$deb_folder/pcm-encoder_${version}_"*.deb)
for tool in dpkg-deb lintian man x86_64-w64-mingw32-windres; do
  command -v "$tool" >/dev/null || exit 77
done
[[ -f $zip && -f ${debs[0]} ]] || exit 77
deb=${debs[0]}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*" >&2; exit 1; }

entries=$(cmake -E tar tf "$zip" | LC_ALL=C sort)
[[ $entries == $'LICENSE.txt\nREADME.txt\npcm-encoder.exe' ]] || fail "zip holds: ${entries//$'\n'/ }"
mkdir "$work/zip" && (cd "$work/zip" && cmake -E tar xf "$zip")
[[ $(head -c 2 "$work/zip/pcm-encoder.exe") == MZ ]] || fail "pcm-encoder.exe is no Windows program"
guide=$work/zip/README.txt
for text in "$guide" "$work/zip/LICENSE.txt"; do
  ! grep -q $'[^\r]$\|^$' "$text" || fail "${text##*/} has lines that do not end with CR LF"
done

# What Explorer shows under Properties, Details.
resources=$(x86_64-w64-mingw32-windres -J coff -O rc -i "$work/zip/pcm-encoder.exe")
numbers=${version//./, }
for expected in "FILEVERSION $numbers, 0" "PRODUCTVERSION $numbers, 0" \
  "\"FileVersion\", \"$version\"" "\"ProductVersion\", \"$version\"" \
  '"ProductName", "pcm-encoder"' '"FileDescription", "Converts ' \
  '"LegalCopyright", "Copyright (c) 2026 the pcm-encoder authors'; do
  grep -qF -- "$expected" <<<"$resources" || fail "the .exe's version information lacks: $expected"
done

mkdir "$work/deb" && dpkg-deb -x "$deb" "$work/deb"
files=$(cd "$work/deb" && find . ! -type d | LC_ALL=C sort)
doc=./usr/share/doc/pcm-encoder
[[ $files == "./usr/bin/pcm-encoder
$doc/README.md.gz
$doc/changelog.gz
$doc/copyright
./usr/share/lintian/overrides/pcm-encoder
./usr/share/man/man1/pcm-encoder.1.gz" && -x $work/deb/usr/bin/pcm-encoder ]] ||
  fail ".deb installs: ${files//$'\n'/ }"
[[ $("$work/deb/usr/bin/pcm-encoder" --version) == "pcm-encoder $version" ]] ||
  fail "the packaged program says it is: $("$work/deb/usr/bin/pcm-encoder" --version)"
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == pcm-encoder && $(field Version) == "$version" &&
   $(field Architecture) == "$(dpkg --print-architecture)" && $(field Section) == sound ]] ||
  fail "control: $(dpkg-deb -f "$deb")"
[[ -n $(field Maintainer) && -n $(field Description) ]] || fail "no maintainer or description"
# The C and C++ runtimes are linked in: the program loads no shared library,
# and the package depends on none.
! readelf -d "$work/deb/usr/bin/pcm-encoder" | grep -q NEEDED ||
  fail "the packaged program loads shared libraries: $(readelf -d "$work/deb/usr/bin/pcm-encoder" | grep NEEDED)"
[[ -z $(field Depends) ]] || fail "Depends: $(field Depends)"

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

# The manual renders without a warning, for this version; the copyright file
# is in Debian's machine-readable format, MIT; lintian passes the package.
manual=$(MANWIDTH=80 man --warnings -l "$work/deb/usr/share/man/man1/pcm-encoder.1.gz" 2>"$work/man-warnings")
[[ ! -s $work/man-warnings ]] || fail "man warns: $(cat "$work/man-warnings")"
grep -q "^pcm-encoder $version" <<<"$manual" || fail "the manual is not for version $version"
copyright=$work/deb/${doc#./}/copyright
[[ $(head -n 1 "$copyright") == "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ]] &&
  grep -qx "License: MIT" "$copyright" || fail "copyright file: $(head -n 5 "$copyright")"
# -I --pedantic: also the hardening it lacks, which lintian reports only as
# information.
verdict=$(lintian -I --pedantic --fail-on error,warning "$deb" 2>&1) || fail "lintian: $verdict"
! grep -E "^[EW]:|hardening-" <<<"$verdict" || fail "lintian: $verdict"
