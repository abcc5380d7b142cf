#!/usr/bin/env bash
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
