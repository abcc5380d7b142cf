#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks that the two component servers stay apart and export only their C API,
# the four entry points and (libpellora) the tag store's public class:
#   check_separation.sh LIBPELLORA LIBDOWNLOADERS
set -uo pipefail
pellora=$1
downloaders=$2
passed=0
failed=0

check() {  # check DESCRIPTION COMMAND...: the command must succeed
  local what=$1
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $what"; fi
}
none() { ! grep -E -q "$1"; }
only() { ! grep -E -v -q "$1"; }

needed() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'; }
exported() { nm -D --defined-only "$1" | awk '{print $3}'; }
undefined() { nm -D --undefined-only "$1" | awk '{print $2}'; }
every_symbol() { nm -C "$1" 2>/dev/null; }

check "libpellora needs neither libdownloaders nor libcurl" \
  none 'downloaders|curl' < <(needed "$pellora")
check "libdownloaders does not need libpellora" none 'pellora' < <(needed "$downloaders")
check "libpellora uses no downloaders or curl symbol" \
  none '^(downloaders_|curl_)' < <(undefined "$pellora")
check "libdownloaders uses no pellora symbol" none '^pellora_' < <(undefined "$downloaders")
check "libpellora names no other library to load" \
  none 'libdownloaders|libcurl' < <(strings "$pellora")
check "libdownloaders names no other library to load" none 'libpellora' < <(strings "$downloaders")
check "libpellora holds no download code" \
  none 'curl_|pellora::download::|DownloadService' < <(every_symbol "$pellora")
check "libdownloaders holds no tag store, stream control or About window" \
  none 'pellora::(tags|capture|about)::' < <(every_symbol "$downloaders")
check "libpellora exports only its C API, the entry points, clsID3 and its text conversions" \
  only '^(pellora_|Dll(RegisterServer|UnregisterServer|GetClassObject|CanUnloadNow)$|_ZN?K?7pellora4tags(6clsID3|16FileNameFromPath|16PathFromFileName|12TextFromUtf8|12Utf8FromText))' \
  < <(exported "$pellora")
check "libpellora keeps the tag store's internals" \
  none 'pellora::tags::(detail|FileReader|mpeg)' < <(nm -D -C --defined-only "$pellora")
check "libdownloaders exports only its C API and the entry points" \
  only '^(downloaders_|Dll(RegisterServer|UnregisterServer|GetClassObject|CanUnloadNow)$)' \
  < <(exported "$downloaders")
check "libpellora exports the four entry points" \
  test "$(exported "$pellora" | grep -c '^Dll')" -eq 4
check "libdownloaders exports the four entry points" \
  test "$(exported "$downloaders" | grep -c '^Dll')" -eq 4

echo "separation: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
