#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the build into a temporary prefix and builds the example hosts
# against it, once through CMake (find_package(Pellora)) and once through
# pkg-config, then runs them against a loopback station and a file:// download.
#   check_install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" > "$work/install.log"
for f in bin/pellora include/pellora/pellora.h include/pellora/downloaders.h \
         include/pellora/pellora_tags.h include/pellora/tags/id3.h include/pellora/tags/items.h \
         include/pellora/component_server.h lib/cmake/Pellora/PelloraConfig.cmake \
         lib/pkgconfig/pellora.pc lib/pkgconfig/downloaders.pc; do
  [[ -e $prefix/$f ]] || { echo "not installed: $f"; exit 1; }
done
libdir=$(dirname "$(find "$prefix" -name libpellora.so | head -n 1)")
[[ -e $libdir/libdownloaders.so ]] || { echo "not installed: libdownloaders.so"; exit 1; }

# Through CMake.
cmake -S "$source/examples" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" > "$work/cmake.log"
cmake --build "$work/cmake" > "$work/cmake-build.log"

# Through pkg-config.
export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
cc -std=c11 -Wall -Wextra -Werror -o "$work/pkgconfig_host" \
  "$source/examples/c/record_and_download.c" $(pkg-config --cflags --libs pellora downloaders)
# shellcheck disable=SC2046
c++ -std=c++17 -Wall -Wextra -Werror -o "$work/pkgconfig_retag_cpp" \
  "$source/examples/cpp/retag.cpp" $(pkg-config --cflags --libs pellora)

# The tag store from C++ (pkg-config) and C (CMake): a title written by one is
# read by the other, on three frames of MPEG-1 Layer III at 128 kbit/s, in a file
# whose name is not UTF-8.
song=$work/$'caf\xe9 \xce\xa9.mp3'
for _ in 1 2 3; do printf '\xff\xfb\x90\x40'; head -c 413 /dev/zero; done > "$song"
LD_LIBRARY_PATH=$libdir "$work/pkgconfig_retag_cpp" "$song" "Ïnstalled ✓" > /dev/null
[[ $(LD_LIBRARY_PATH=$libdir "$work/cmake/retag" "$song") == $'title: Ïnstalled ✓\nbit rate: 128000' ]]
LD_LIBRARY_PATH=$libdir "$work/cmake/retag" "$song" "Again" > /dev/null
[[ $(LD_LIBRARY_PATH=$libdir "$work/cmake/retag_cpp" "$song") == $'title: Again\nlength: 0.077875 s' ]]
echo "tags: ok"

# The Python package, installed by pip against the installed libraries (no
# network: setuptools from the system).
cp -r "$source/python" "$work/python"
/usr/bin/python3 -m pip install -q --no-build-isolation --no-deps --no-index --target "$work/site" \
  "$work/python" 2> "$work/pip.log"
[[ -e $work/site/pellora/py.typed ]]
[[ $(PYTHONPATH=$work/site PELLORA_LIBRARY_PATH=$libdir /usr/bin/python3 -c \
     'import sys, pellora; print(pellora.Tags(sys.argv[1]).Title)' "$song") == "Again" ]]
echo "python: ok"

# The installed headers on their own, also by their path under include/ (the
# C++ example includes <pellora/tags/id3.h> through CMake and pkg-config).
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -pedantic -Werror -fsyntax-only $(pkg-config --cflags pellora) -x c - \
  <<< '#include <pellora/pellora_tags.h>'

# The README's tag store examples in C, C++ and Python, exactly as written, on
# that song: each reads it and sets the album.
readme_example() {  # readme_example LANGUAGE: the first block of it in that section
  awk -v fence="\`\`\`$1" '/^### The tag store from C/ {on = 1} on && $0 == fence {take = 1; next}
                            take && /^```/ {exit} take' "$source/README.md"
}
mkdir "$work/readme"
cp "$song" "$work/readme/song.mp3"
readme_example c > "$work/readme/tags.c"
readme_example cpp > "$work/readme/tags.cpp"
readme_example python > "$work/readme/tags.py"
# shellcheck disable=SC2046
(cd "$work/readme"
 cc -std=c11 -Wall -Wextra -pedantic -Werror -o tags_c tags.c $(pkg-config --cflags --libs pellora)
 c++ -std=c++20 -Wall -Wextra -pedantic -Werror -o tags_cpp tags.cpp $(pkg-config --cflags --libs pellora)
 [[ $(LD_LIBRARY_PATH=$libdir ./tags_c) == "Again, 0.08 s" ]]
 [[ $(LD_LIBRARY_PATH=$libdir ./tags_cpp) == "0.077875 s" ]]
 [[ $(PYTHONPATH=$work/site PELLORA_LIBRARY_PATH=$libdir /usr/bin/python3 tags.py) == "Again 128000.0 0.077875" ]]
 [[ $(PYTHONPATH=$work/site PELLORA_LIBRARY_PATH=$libdir /usr/bin/python3 -c \
      'import pellora; print(pellora.Tags("song.mp3").Album)') == "Ålbum" ]])
echo "readme: ok"

run_host() {  # run_host NAME PROGRAM
  local name=$1 program=$2 port_file=$work/$1.port
  /usr/bin/python3 "$source/tests/servers/icy_station.py" "$port_file" &
  local station=$!
  for _ in $(seq 50); do [[ -s $port_file ]] && break; sleep 0.1; done
  printf 'downloaded payload\n' > "$work/source.txt"
  LD_LIBRARY_PATH=$libdir "$program" "http://127.0.0.1:$(cat "$port_file")/live" \
    "$work/$name.rec" 1 "file://$work/source.txt" "$work/$name.txt" > "$work/$name.out"
  wait "$station"
  grep -q 'station: Install Test FM' "$work/$name.out"
  grep -q 'playing: Second Song' "$work/$name.out"
  grep -q "done, 19 bytes" "$work/$name.out"
  cmp -s "$work/source.txt" "$work/$name.txt"
  [[ $(cat "$work/$name.rec") == "AAAAAAAAAAAAAAAABBBBBBBBBBBBBBBBCCCCCCCCCCCCCCCC" ]]
  echo "$name: ok"
}
run_host cmake_c "$work/cmake/record_and_download"
run_host cmake_cpp "$work/cmake/record_and_download_cpp"
run_host pkgconfig_c "$work/pkgconfig_host"
