# Shared by scripts/fuzz-smoke and scripts/fuzz-long (sourced, from the source root).

fuzz_dir=${FENNIK_FUZZ_BUILD:-build-fuzz}

# Configures (once) and builds the libFuzzer targets with clang; extra arguments are targets.
fuzz_build() {
  local generator=()
  command -v ninja >/dev/null && generator=(-G Ninja)
  if [[ ! -f "$fuzz_dir/CMakeCache.txt" ]]; then
    CC=clang CXX=clang++ cmake -S . -B "$fuzz_dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DFENNIK_FUZZ=ON -DFENNIK_TESTS=OFF -DFENNIK_BENCH=OFF
  fi
  if (( $# )); then
    cmake --build "$fuzz_dir" -j "$(nproc)" --target "$@"
  else
    cmake --build "$fuzz_dir" -j "$(nproc)"
  fi
}

# Sets fuzz_args (libFuzzer options) and fuzz_extra_seeds for target NAME (without fuzz_)
# from fuzz/targets.conf.
fuzz_options() {
  local name=$1 target max_len dict extra options
  fuzz_args=(-rss_limit_mb=4096 -timeout=10)
  fuzz_extra_seeds=""
  while read -r target max_len dict extra options; do
    [[ -z $target || $target == \#* || $target != "$name" ]] && continue
    fuzz_args+=(-max_len="$max_len")
    [[ $dict == - ]] || fuzz_args+=(-dict="fuzz/dict/$dict")
    [[ $extra == - ]] || fuzz_extra_seeds=$extra
    if [[ $options != - ]]; then
      read -r -a more <<< "$options"
      fuzz_args+=("${more[@]}")
    fi
  done < fuzz/targets.conf
  return 0
}

# Copies NAME's committed seeds (and its extra seed folder's captures or texts under 200 KB)
# into the corpus folder DIR.
fuzz_seed() {
  local name=$1 dir=$2
  mkdir -p "$dir"
  [[ -d fuzz/seeds/$name ]] && cp -r "fuzz/seeds/$name"/. "$dir"/
  if [[ -n $fuzz_extra_seeds ]]; then
    find "$fuzz_extra_seeds" -maxdepth 1 -type f \( -name '*.pcap*' -o -name '*.sdp' \) \
      ! -name '*.json' ! -name '*.tsv' -size -200k -exec cp {} "$dir"/ \;
  fi
  return 0
}
