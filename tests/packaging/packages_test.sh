#!/usr/bin/env bash
# The packages that scripts/run-tests.sh makes: the Windows zip holds just
# pcm-encoder.exe, its guide and the licence, the guide quotes the program's
# messages as it prints them, and the .exe carries the version information;
# the .deb installs a working /usr/bin/pcm-encoder that loads no shared
# library, its manual, copyright file and changelogs, and lintian finds
# nothing in it but what its override lets pass. First, needing no package,
# the manual and the guide quote every message in the program's sources.
# Usage: packages_test.sh ZIP DEB-FOLDER VERSION PCM-ENCODER EXAMPLE-WAV; exit
# 77 (skipped) without a package (no Windows build, say) or a tool it needs,
# once the messages are found quoted.
set -euo pipefail
zip=$(realpath -m -- "$1") deb_folder=$2 version=$3 program=$4 example=$5

# The sources are found above this script, wherever in tests/ it lies.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
until [[ -d $root/adpcm_encoder/encoder_code || $root == / ]]; do root=$(dirname "$root"); done
[[ -d $root/adpcm_encoder/encoder_code ]] || { echo "no adpcm_encoder/encoder_code above $0" >&2; exit 1; }
# Every string literal under adpcm_encoder/encoder_code, but for those named
# below that are no message, must be in the manual and in the guide, as the
# sources hold it (printf conversions standing for any text or figure); the
# check names each one a document lacks.
quoted_messages() {
  perl - "$@" <<'PERL'
use strict; use warnings;
my ($sources, $manual_file, $guide_file) = @ARGV;

# Not messages: the chunk identifiers the program reads and writes, its
# fopen modes, and the Windows library and function it looks up by name.
my %not_message = map { $_ => 1 } qw(RIFF RIFX RF64 BW64 WAVE fmt data fact ds64
                                     rb w+b ntdll.dll RtlAreLongPathsEnabled);
my %escape = (n => "\n", t => "\t", r => "\r", a => "\a", b => "\b", f => "\f",
              v => "\013", '"' => '"', "'" => "'", '\\' => '\\', '?' => '?');
sub unescape_c {
  my ($s) = @_;
  $s =~ s/\\(x[0-9A-Fa-f]+|[0-7]{1,3}|.)/
    my $e = $1; $e =~ m{^x} ? chr(hex substr $e, 1) : $e =~ m{^[0-7]} ? chr(oct $e) : ($escape{$e} \/\/ $e)/ge;
  return $s;
}

# The string literals of a C++ file, adjacent ones joined, with the line each
# starts on; those that cannot reach the user are left out: #include names,
# extern "C", static_assert's texts and sizeof's operands (buffer sizes).
sub literals {
  my ($file) = @_;
  open my $in, '<', $file or die "$file: $!";
  my $code = do { local $/; <$in> };
  my (@found, $previous, $assert_depth, $depth, $joining, $statement);
  $statement = 0;
  $previous = ''; $depth = 0; $assert_depth = -1;
  while (1) {
    my $line = 1 + ($code =~ tr/\n// ? (substr($code, 0, pos($code) // 0) =~ tr/\n//) : 0);
    if ($code =~ /\G\s+/gc) { next }
    if ($code =~ /\G\/\/[^\n]*/gc || $code =~ /\G\/\*.*?\*\//gcs || $code =~ /\G#[ \t]*include[^\n]*/gc) { next }
    my $text;
    if ($code =~ /\G(?:u8|[LuU])?R"([^(\s]*)\((.*?)\)\1"/gcs) { $text = $2 }
    elsif ($code =~ /\G(?:u8|[LuU])?"((?:[^"\\\n]|\\.)*)"/gc) { $text = unescape_c($1) }
    if (defined $text) {
      if ($joining) { $found[-1]{text} .= $text; next }
      my $skip = $previous eq 'sizeof' || $previous eq 'extern' || $assert_depth >= 0;
      push @found, {text => $text, line => $line, skip => $skip, statement => $statement};
      $joining = 1;
      next;
    }
    $joining = 0;
    last if pos($code) && pos($code) >= length $code;
    if ($code =~ /\G'(?:[^'\\\n]|\\.)*'/gc || $code =~ /\G[0-9](?:[eEpP][-+]|[\w.'])*/gc) { $previous = 'constant'; next }
    if ($code =~ /\G([A-Za-z_]\w*)/gc) {
      $previous = $1;
      $assert_depth = $depth if $1 eq 'static_assert' && $assert_depth < 0;
      next;
    }
    if ($code =~ /\G::/gc) { $previous = '::'; next }
    last unless $code =~ /\G(.)/gcs;
    $previous = $1;
    # The end of a statement, or of one branch of a choice.
    $statement++ if $1 eq ';' || $1 eq '{' || $1 eq '}' || $1 eq ':';
    if ($1 eq '(') { $depth++ }
    elsif ($1 eq ')') { $depth--; $assert_depth = -1 if $depth == $assert_depth }
  }
  return grep { !$_->{skip} } @found;
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
sub read_lines { my ($file) = @_; open my $in, '<', $file or die "$file: $!"; return <$in> }

my %document = (manual => manual_text(read_lines($manual_file)), guide => join_lines(read_lines($guide_file)));

# A printf conversion stands for any figure (\S+) or any text (.+?).
my $conversion = qr/%[-+ #0]*(?:\*|\d+)?(?:\.(?:\*|\d+))?(?:hh|h|ll|l|z|j|t|L)?([diouxXeEfFgGaAcsp%])/;
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

my (@missing, %seen);
my @files = sort split /\n/, `find "$sources" -type f \\( -name '*.cpp' -o -name '*.h' \\)`;
for my $file (@files) {
  for my $literal (literals($file)) {
    my @lines = split /[\r\n]+/, $literal->{text};
    # The --help summary, several lines of one literal: the manual's page is
    # what it sums up, in its own words.
    next if @lines > 3;
    for my $line (@lines) {
      $line =~ s/^\s+|\s+$//g;
      (my $words = $line) =~ s/$conversion//g;
      next if $words !~ /[A-Za-z]/ || $not_message{$line};
      # An option need be named in the manual only.
      my @documents = $line =~ /^--?[A-Za-z][-\w]*$/ ? ('manual') : ('manual', 'guide');
      my $pattern = pattern_of($line);
      for my $name (@documents) {
        next if $seen{"$name\0$line"}++;
        push @missing, "$file:$literal->{line}: the $name does not quote: $line"
          unless $document{$name} =~ /$pattern/;
      }
    }
  }
}
# Each line alone is not enough: " and " or " bytes" stand somewhere in any
# text. The literals of one statement (up to a ';', a brace or the ':' of a
# choice, whose branches are other messages) must stand in a document in
# their order, the code between them taken for a short text such as a
# file's name or a figure.
my $gap = '.{0,60}?';
for my $file (@files) {
  my %pieces;
  my @order;
  for my $literal (literals($file)) {
    my $id = $literal->{statement};
    push @order, $id unless $pieces{$id};
    push @{$pieces{$id}}, $literal;
  }
  for my $id (@order) {
    my @parts = @{$pieces{$id}};
    next if @parts < 2;
    my @texts = map { $_->{text} } @parts;
    next if grep { scalar(split /[\r\n]+/) > 3 } @texts;
    next if grep { $not_message{$_} } @texts;
    next unless grep { !/^--?[A-Za-z][-\w]*$/ } @texts;
    my $pattern = join $gap, map { join '\s+', map { pattern_of(s/^\s+|\s+$//gr) } split /[\r\n]+/ } @texts;
    my $shown = join ' ... ', @texts;
    $shown =~ s/\n/ /g;
    for my $name ('manual', 'guide') {
      push @missing, "$file:$parts[0]{line}: the $name does not quote as one: $shown"
        unless $document{$name} =~ /$pattern/;
    }
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
