#!/usr/bin/env bash
# Builds (CMake, clang, FUZZ=ON: ASan + UBSan + libFuzzer) and runs the
# fuzzing harnesses. fuzz/<name>_fuzz.cpp is a harness, fuzz/corpus/<name>/
# its seed corpus. Findings land in <build>/<name>/findings/.
# Usage: fuzz.sh SECONDS [NAME...]   (no names: every harness)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
secs=${1:-10}; shift || true
out=${FUZZ_BUILD:-$root/build/fuzz}
mkdir -p "$out"
names=("$@")
if ((${#names[@]} == 0)); then
  for f in "$root"/fuzz/*_fuzz.cpp; do [[ -e $f ]] && names+=("$(basename "$f" _fuzz.cpp)"); done
fi
# Configured every time (quick once cached): a harness added since the tree
# was made has no target until the tree is configured again.
CC=clang CXX=clang++ cmake -S "$root" -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFUZZ=ON -DBUILD_TESTS=OFF \
  > "$out/configure.log" 2>&1 || { echo "fuzz: configure failed (see $out/configure.log)"; exit 1; }
targets=(); for name in "${names[@]}"; do targets+=("${name}_fuzz"); done
if ! cmake --build "$out" -j"$(nproc)" --target "${targets[@]}" > "$out/build.log" 2>&1; then
  echo "fuzz: build failed (see $out/build.log)"; tail -20 "$out/build.log"; exit 1
fi
status=0
for name in "${names[@]}"; do
  bin=$out/fuzz/${name}_fuzz
  mkdir -p "$out/$name/findings" "$out/$name/corpus"
  seeds=()
  [[ -d $root/fuzz/corpus/$name ]] && seeds+=("$root/fuzz/corpus/$name")
  (cd "$out/$name/findings" && "$bin" -max_total_time="$secs" -print_final_stats=1 -rss_limit_mb=2048 \
      -timeout=10 "$out/$name/corpus" "${seeds[@]}" > "$out/$name/run.log" 2>&1)
  rc=$?
  execs=$(grep -m1 'stat::number_of_executed_units' "$out/$name/run.log" | awk '{print $2}')
  cov=$(grep -Eo 'cov: [0-9]+' "$out/$name/run.log" | tail -1 | awk '{print $2}')
  finds=$(ls "$out/$name/findings" | grep -cE '^(crash|leak|timeout|oom)-' || true)
  echo "fuzz $name: ${secs}s, executions ${execs:-0}, coverage ${cov:-0}, findings $finds"
  if ((rc != 0 || finds > 0)); then status=1; tail -30 "$out/$name/run.log"; fi
done
exit $status
