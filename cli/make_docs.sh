#!/bin/sh
# SPDX-License-Identifier: MIT
# make_docs.sh PELLORA OUT VERSION
# Writes, from the built command itself, the manual pages (help2man over each
# --help) and the bash and zsh completion scripts into OUT, so that neither can
# drift from the command line.
set -eu
pellora=$1 out=$2 version=$3
rm -rf "$out"
mkdir -p "$out/man1" "$out/completions"
"$pellora" completions bash >"$out/completions/pellora"
"$pellora" completions zsh >"$out/completions/_pellora"
help2man --no-info --version-string="$version" \
  --name="record internet radio, read and write ID3 tags, download URLs" \
  --output="$out/man1/pellora.1" "$pellora"
tab=$(printf '\t')
"$pellora" completions names | while IFS=$tab read -r sub description; do
  # help2man names the page after the program it runs: pellora-SUB.
  wrapper="$out/pellora-$sub"
  printf '#!/bin/sh\nexec "%s" %s "$@"\n' "$pellora" "$sub" >"$wrapper"
  chmod +x "$wrapper"
  help2man --no-info --version-string="$version" --name="$description" \
    --output="$out/man1/pellora-$sub.1" "$wrapper"
  rm -f "$wrapper"
done
