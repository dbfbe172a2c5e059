# Sourced by the benchmark scripts. Sets `bin` to the `dravelin` to time: $DRAVELIN, or the Release build in
# build/h-bench, configured and built (without tests) when it is missing. Takes the tree's root.
bench_binary() {
  local root="$1"
  bin="${DRAVELIN:-$root/build/h-bench/dravelin}"
  if [ ! -x "$bin" ]; then
    echo "building $bin" >&2
    cmake -S "$root" -B "$root/build/h-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDRAVELIN_TESTS=OFF >/dev/null
    cmake --build "$root/build/h-bench" -j"$(nproc)" >/dev/null
    bin="$root/build/h-bench/dravelin"
  fi
}
