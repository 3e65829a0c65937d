#!/usr/bin/env bash
# The Windows build must run on a bare Windows: every DLL it imports is one
# that Windows itself ships (the C and C++ runtimes are linked in).
# Usage: exe_imports_test.sh pcm-encoder.exe; exit 77 (skipped) without the
# .exe or mingw-w64's objdump.
set -euo pipefail
exe=$1
objdump=x86_64-w64-mingw32-objdump
command -v "$objdump" >/dev/null && [[ -f $exe ]] || exit 77

dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
echo "imports: ${dlls//$'\n'/ }"
[[ -n $dlls ]] || { echo "no imports found" >&2; exit 1; }
foreign=$(grep -viE '^(kernel32|msvcrt|user32|advapi32|shell32)\.dll$' <<<"$dlls" || true)
[[ -z $foreign ]] || { echo "not part of Windows: $foreign" >&2; exit 1; }
