#!/usr/bin/env bash
# Builds and runs the libFuzzer harnesses (clang, ASan + UBSan, native).
# fuzz/<name>_fuzz.cpp is a harness; fuzz/<name>.sources lists the project
# sources it needs (one per line, relative to the repository); fuzz/corpus/<name>/
# is its seed corpus. Findings land in build/fuzz/<name>/findings/.
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
status=0
for name in "${names[@]}"; do
  srcs=()
  if [[ -f $root/fuzz/$name.sources ]]; then
    while read -r s; do [[ -n $s && $s != \#* ]] && srcs+=("$root/$s"); done < "$root/fuzz/$name.sources"
  fi
  bin=$out/$name/${name}_fuzz
  mkdir -p "$out/$name/findings" "$out/$name/corpus"
  if ! clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
      -I"$root" "$root/fuzz/${name}_fuzz.cpp" "${srcs[@]}" -lz -o "$bin" 2> "$out/$name/build.log"; then
    echo "fuzz $name: build failed (see $out/$name/build.log)"; status=1; continue
  fi
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
