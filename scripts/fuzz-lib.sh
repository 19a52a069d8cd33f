# Shared by scripts/fuzz-repro and scripts/fuzz (sourced, not run).
# Expects $root, the repository's root.

# Configures and builds the libFuzzer tree DIR (clang, both sanitizers).
fuzz_build() {
  "$root/scripts/build" "$1" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRISK_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DBRISK_TESTS=OFF -DBRISK_BENCH=OFF
}

# The targets of tree DIR, one "NAME RUNS" line each.
fuzz_targets() { grep -v '^[[:space:]]*$' "$1/fuzzers.txt"; }

# The executable of target NAME in tree DIR.
fuzz_binary() { find "$1" -type f -name "$2" -perm -u+x | head -1; }

# Writes the committed corpus of NAME to FILE as libFuzzer's -seed_inputs
# list: absolute paths in byte order of their names, comma-separated. A list
# in a fixed order (rather than a directory, read in whatever order the file
# system keeps) makes the exploration start the same way on every machine.
# Returns 1 when the target has no committed corpus.
fuzz_seed_list() {
  local dir="$root/fuzz/corpus/$1"
  [[ -d "$dir" ]] || return 1
  local files
  files=$(cd "$dir" && find . -maxdepth 1 -type f -printf '%f\n' | LC_ALL=C sort)
  [[ -n "$files" ]] || return 1
  sed "s|^|$dir/|" <<<"$files" | paste -sd, > "$2"
}

# The figures of libFuzzer's closing DONE line in LOG, e.g. "cov: 488 ft: 697 corp: 29/119Kb".
fuzz_done_line() { grep -E '^#[0-9]+[[:space:]]+DONE' "$1" | tail -1 | sed -E 's/.*DONE +//; s/ lim:.*//; s/ exec\/s:.*//'; }

# The value of a -print_final_stats=1 figure in LOG, e.g. number_of_executed_units.
fuzz_stat() { grep -E "^stat::$2:" "$1" | tail -1 | awk '{print $2}'; }
