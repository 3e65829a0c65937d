#!/usr/bin/env bash
# The packages that scripts/run-tests.sh makes: the Windows zip holds just
# pcm-encoder.exe, its guide and the licence, the guide quotes the program's
# messages as it prints them, and the .exe carries the version information;
# the .deb installs a working /usr/bin/pcm-encoder that loads no shared
# library, its manual, copyright file, changelogs and the notes the README
# links to, and lintian finds nothing in it but what its override lets pass. First, needing no package,
# the manual and the guide quote every message in the program's table of
# messages.
# Usage: packages_test.sh ZIP DEB-FOLDER VERSION PCM-ENCODER EXAMPLE-WAV; exit
# 77 (skipped) without a package (no Windows build, say) or a tool it needs,
# once the messages are found quoted.
set -euo pipefail
zip=$(realpath -m -- "$1") deb_folder=$2 version=$3 program=$4 example=$5

# The sources are found above this script, wherever in tests/ it lies.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
until [[ -d $root/adpcm_encoder/encoder_code || $root == / ]]; do root=$(dirname "$root"); done
[[ -d $root/adpcm_encoder/encoder_code ]] || { echo "no adpcm_encoder/encoder_code above $0" >&2; exit 1; }
# Every message in the table of messages (platform/messages.def) must be in
# the manual and in the guide as the table holds it, its lines together
# (printf conversions standing for any text or figure); and no string
# literal elsewhere in the sources may hold words, but for those named below
# that are no message. The check names each message a document lacks.
quoted_messages() {
  perl - "$@" <<'PERL'
use strict; use warnings;
my ($sources, $manual_file, $guide_file) = @ARGV;
my $table_file = "$sources/platform/messages.def";

# Not messages: the chunk identifiers the program reads and writes, its
# fopen modes, the null device, the Windows library and function it looks up by name, extern
# "C", and the escapes and buffer sizes of naming a file and a temporary
# file. And names, which the documents quote as messages: the prefixes and
# extensions of the files it writes.
my %not_message = map { $_ => 1 } qw(RIFF RIFX RF64 BW64 WAVE fmt data fact ds64
                                     rb w+b ntdll.dll RtlAreLongPathsEnabled C /dev/null
                                     \\n \\r \\t \\x00 \\x%02X -0123456789abcdef -%08llx%08llx);
my @names = qw(Enc_ Dec_ .wav .part);
my %escape = (n => "\n", t => "\t", r => "\r", '"' => '"', '\\' => '\\');
sub unescape_c { my ($s) = @_; $s =~ s/\\(.)/$escape{$1} \/\/ $1/ge; return $s }
sub read_lines { my ($file) = @_; open my $in, '<', $file or die "$file: $!"; return <$in> }
my $literal = qr/"((?:[^"\\\n]|\\.)*)"/;
my $conversion = qr/%[-+ #0]*(?:\*|\d+)?(?:\.(?:\*|\d+))?(?:hh|h|ll|l|z|j|t|L)?([diouxXeEfFgGaAcsp%])/;

# The table's messages, MESSAGE(name, text), the text perhaps in pieces.
my (@messages, @missing);
my $table = join '', grep { !m{^\s*//} } read_lines($table_file);
while ($table =~ /MESSAGE\(\s*(\w+)\s*,((?:\s*$literal)+)\s*\)/g) {
  my ($name, $pieces) = ($1, $2);
  push @messages, {name => $name, text => join '', map { unescape_c($_) } $pieces =~ /$literal/g};
}
push @missing, "$table_file: no messages" unless @messages;

# Elsewhere, no literal holds words: a message there would be one that the
# check does not see. Comments, #include names and static_assert's texts
# cannot reach the user.
for my $file (sort split /\n/, `find "$sources" -type f \\( -name '*.cpp' -o -name '*.h' \\)`) {
  my $code = join '', read_lines($file);
  $code =~ s{//[^\n]*|/\*.*?\*/|#[ \t]*include[^\n]*|static_assert\s*\(.*?\);}{}gs;
  for my $text (map { unescape_c($_) =~ s/^\s+|\s+$//gr } $code =~ /$literal/g) {
    (my $words = $text) =~ s/$conversion//g;
    push @missing, "$file: a message outside $table_file: $text"
      if $words =~ /[A-Za-z]/ && !$not_message{$text} && !grep { $_ eq $text } @names;
  }
}

# A document as one line of text, its line breaks spaces: the manual's roff
# undone (requests, quotes, \- \(aq \e \& and the like), the guide's CR LF.
sub manual_text {
  my @out;
  for (@_) {
    next if /^\.\\"/;
    my $line = $_;
    if ($line =~ s/^\.(\S+)\s*//) {
      my $request = $1;
      my @arguments = $line =~ /"((?:[^"]|"")*)"|(\S+)/g;
      @arguments = grep { defined } @arguments;
      $line = join($request =~ /^(?:[BI]R|R[BI]|BI|IB)$/ ? '' : ' ', @arguments);
    }
    $line =~ s/\\\((?:aq)/'/g; $line =~ s/\\\((?:lq|rq|dq)/"/g;
    $line =~ s/\\f(?:\[[^]]*\]|\(..|.)//g;
    $line =~ s/\\[-~ e&c]/{'-' => '-', '~' => ' ', ' ' => ' ', 'e' => "\\", '&' => '', 'c' => ''}->{substr($&, 1)}/ge;
    push @out, $line;
  }
  return join_lines(@out);
}
sub join_lines { my $text = join ' ', map { s/\r?\n?$//r =~ s/^\s+|\s+$//gr } @_; return " $text " }

my %document = (manual => manual_text(read_lines($manual_file)), guide => join_lines(read_lines($guide_file)));

# A printf conversion stands for any figure (\S+) or any text (.+?).
sub pattern_of {
  my ($text) = @_;
  my $pattern = '';
  while ($text =~ /\G(.*?)(?:$conversion|$)/gcs) {
    $pattern .= quotemeta $1;
    last unless defined $2;
    $pattern .= $2 eq '%' ? '%' : $2 =~ /[sc]/ ? '.+?' : '\S+';
  }
  return $pattern;
}

# Each message as a whole: its lines in order, each trimmed, the line breaks
# between them any space. The --help summary, a message of many lines, is
# left out: the manual's page is what it sums up, in its own words.
for my $message (@messages, map { +{name => $_, text => $_} } @names) {
  my @lines = map { s/^\s+|\s+$//gr } grep { /\S/ } split /\n/, $message->{text};
  next if @lines > 3;
  (my $words = join ' ', @lines) =~ s/$conversion//g;
  next if $words !~ /[A-Za-z]/;
  # An option need be named in the manual only.
  my @documents = "@lines" =~ /^--?[A-Za-z][-\w]*$/ ? ('manual') : ('manual', 'guide');
  my $pattern = join '\s+', map { pattern_of($_) } @lines;
  for my $name (@documents) {
    push @missing, "$message->{name}: the $name does not quote: " . join(' ', @lines)
      unless $document{$name} =~ /$pattern/;
  }
}
print "$_\n" for @missing;
exit(@missing ? 1 : 0);
PERL
}
(cd "$root" && quoted_messages adpcm_encoder/encoder_code adpcm_encoder/linux/pcm-encoder.1.in \
  adpcm_encoder/windows/guide.txt.in)

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
$doc/CHANGELOG.md.gz
$doc/README.md.gz
$doc/changelog.gz
$doc/copyright
$doc/docs/development.md.gz
$doc/docs/output-format.md.gz
$doc/docs/packaging.md.gz
$doc/docs/performance.md.gz
$doc/docs/safe-output.md.gz
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

# The packaged program converts as the built one does; its output is rejected
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
