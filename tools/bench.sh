#!/usr/bin/env bash
# make bench: builds what it needs, measures the installer against its peers
# side by side in one run, prints one table and writes it with the machine
# and date to docs/benchmarks.md.
#   ROUNDS   repetitions of each timed measurement (default 7)
#   DL_MB    size of the download benchmark's file in MB (default 200)
# Expects the environment of the Makefile (WINEPREFIX, HOME, BUILD dirs).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
B=${BUILD_DIR:-$root/build}
rounds=${ROUNDS:-7}
dl_mb=${DL_MB:-200}
work=$B/bench
mkdir -p "$work"
cross=i686-w64-mingw32

note() { echo "bench: $*" >&2; }
# The path a program under Wine sees (drive Z:), without starting Wine: a
# wineserver started outside Xvfb would leave the later programs without a
# display.
winpath() { local p; p=$(realpath -m "$1"); echo "Z:${p//\//\\}"; }

# ---- building ----------------------------------------------------------------
note "building (Windows and native trees)"
cmake --build "$B/windows" -j2 --target setup startup_win_bench minwin_win_bench download_win_bench >/dev/null || exit 1
[[ -f $B/native/CMakeCache.txt ]] || cmake -S "$root" -B "$B/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
native_benches=()
for src in "$root"/bench/*_bench.cpp; do
  name=$(basename "$src" .cpp)
  [[ $name == *_win_bench ]] && continue
  cmake --build "$B/native" -j2 --target "$name" >/dev/null 2>"$work/$name.build.log" && native_benches+=("$name")
done
winbench=$B/windows/bench
setup=$root/dist/setup.exe
cp -u "$B/windows/app/setup.exe" "$setup"

# Statistics of numbers on stdin: median min max.
stats() { sort -g | awk '{v[NR]=$1} END {printf "%.1f %.1f %.1f\n", v[int((NR+1)/2)], v[1], v[NR]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}'; }
rows=()
row() { rows+=("| $1 | $2 | $3 | $4 | $5 |"); }

# ---- stub size -------------------------------------------------------------------
note "stub size"
size=$(stat -c %s "$setup")
rsrc=$($cross-objdump -h "$setup" | awk '$2 == ".rsrc" {print $3}')
rsrc=$((16#${rsrc:-0}))
code=$((size - rsrc))
row "stub size: dist/setup.exe with its default resources" "$((size / 1024)) KiB ($size B)" \
  "Squirrel Setup.exe ~210-250 KB; NSIS overhead ~34 KB" "$(ratio "$size" 262144) of 256 KiB" "< 256 KiB"
row "stub size: code alone (file without .rsrc)" "$((code / 1024)) KiB ($code B)" "" \
  "$(ratio "$code" 262144) of 256 KiB" ""

# The biggest contributors: the same link again with a map file.
linkdir=$B/windows/app
contributors=""
if [[ -f $linkdir/CMakeFiles/setup.dir/link.txt ]]; then
  cmd=$(grep -m1 -- '-o setup.exe' "$linkdir/CMakeFiles/setup.dir/link.txt")
  cmd=${cmd//-o setup.exe/-o $work/setup-map.exe}
  # The archive of setup's objects is made afresh before each link.
  prepare=$(grep -v -- '-o setup.exe' "$linkdir/CMakeFiles/setup.dir/link.txt" | grep -v -- '-E rm')
  if (cd "$linkdir" && eval "$prepare" && eval "$cmd -Wl,-Map,$work/setup.map") 2>"$work/map.log"; then
    contributors=$(python3 - "$work/setup.map" <<'EOF'
import re, sys, collections
by_member, by_library = collections.Counter(), collections.Counter()
section = None
for line in open(sys.argv[1], errors='replace'):
    m = re.match(r'^ (\.\S+)\s*$', line)
    if m:
        section = m.group(1)
        continue
    m = re.match(r'^ (\.\S+)?\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$', line)
    if not m:
        continue
    if m.group(1):
        section = m.group(1)
    if not section or not re.match(r'\.(text|rdata|data|bss|eh_frame|pdata|xdata)', section):
        continue
    size, where = int(m.group(2), 16), m.group(3).strip()
    if size == 0 or where.startswith('0x'):
        continue
    lib = re.sub(r'\(.*\)$', '', where).split('/')[-1]
    member = where.split('/')[-1]
    by_member[member] += size
    by_library[lib] += size
print('By library or object (code and data sections):\n')
print('| contributor | bytes |\n|---|---:|')
for k, v in by_library.most_common(10):
    print(f'| {k} | {v} |')
print('\nBiggest single objects:\n')
print('| object | bytes |\n|---|---:|')
for k, v in by_member.most_common(15):
    print(f'| {k} | {v} |')
EOF
)
  else
    contributors="(the map link failed: see $work/map.log)"
  fi
fi

# ---- start-up --------------------------------------------------------------------
note "start-up under Wine and Xvfb ($rounds rounds)"
bash "$root/tools/wine-prefix.sh" "$WINEPREFIX" >/dev/null 2>&1
wineserver -k 2>/dev/null
startup=$(xvfb-run -a -s "-screen 0 1280x1024x24" bash "$root/tools/wine-run.sh" \
  "$winbench/startup_win_bench.exe" "$rounds" "$(winpath "$setup")" \
  "$(winpath "$winbench/minwin_win_bench.exe")" 2>"$work/startup.log" | tr -d '\r')
wineserver -k 2>/dev/null
read -r _ s_med s_min s_max < <(echo "$startup" | sed -n 1p)
read -r _ m_med m_min m_max < <(echo "$startup" | sed -n 2p)
row "start-up: process start to visible window (ms)" "${s_med:-?} (${s_min:-?}-${s_max:-?})" \
  "minimal Win32 window: ${m_med:-?} (${m_min:-?}-${m_max:-?})" "$(ratio "${s_med:-0}" "${m_med:-0}")x" "<= 1.3x"

# ---- download --------------------------------------------------------------------
note "download of $dl_mb MB from nginx on 127.0.0.1 ($rounds rounds each)"
state=$work/servers
python3 "$root/tests/servers/serve.py" start "$state" >/dev/null 2>"$work/servers.log"
port=$(sed -n 's/^nginx_port=//p' "$state/servers.txt" 2>/dev/null)
if [[ -n $port ]]; then
  head -c $((dl_mb * 1000000)) /dev/urandom > "$state/www/bench.bin"
  url=http://127.0.0.1:$port/bench.bin
  curl_rates=$(for ((r = 0; r < rounds; r++)); do
    t0=$(date +%s.%N); curl -s -o "$work/curl.bin" "$url"; t1=$(date +%s.%N)
    awk -v a="$t0" -v b="$t1" -v n="$(stat -c %s "$work/curl.bin")" 'BEGIN {printf "%.1f\n", n / 1e6 / (b - a)}'
  done | stats)
  ours=$(bash "$root/tools/wine-run.sh" "$winbench/download_win_bench.exe" "$rounds" "$url" \
    "$(winpath "$work/ours.bin")" 2>"$work/download.log" | tr -d '\r')
  read -r c_med c_min c_max <<<"$curl_rates"
  read -r o_med o_min o_max o_bytes <<<"$ours"
  [[ ${o_bytes:-0} == "$((dl_mb * 1000000))" ]] || o_med=0
  row "download: $dl_mb MB from nginx on 127.0.0.1 (MB/s)" "${o_med:-?} (${o_min:-?}-${o_max:-?})" \
    "curl: $c_med ($c_min-$c_max)" "$(ratio "${o_med:-0}" "$c_med")x" ">= 0.8x"
  rm -f "$state/www/bench.bin" "$work/curl.bin" "$work/ours.bin"
  python3 "$root/tests/servers/serve.py" stop "$state" >/dev/null 2>&1
else
  row "download" "not measured: the test servers did not start (see $work/servers.log)" "" "" ""
fi

# ---- components --------------------------------------------------------------------
components=""
for name in "${native_benches[@]}"; do
  note "component benchmark $name"
  components+=$'\n'"### $name"$'\n\n```\n'"$("$B/native/bench/$name" 2>&1 | tail -40)"$'\n```\n'
done

# ---- the table ---------------------------------------------------------------------
cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')
table=$(printf '%s\n' "| measure | installer (median, min-max) | peer, same run | ratio | aim |" \
  "|---|---|---|---|---|" "${rows[@]}")
echo "$table"
mkdir -p "$root/docs"
{
  echo "# Benchmarks"
  echo
  echo "Written by \`make bench\` (tools/bench.sh) on $(date -u '+%Y-%m-%d %H:%M UTC'): $cpu, $(nproc) cores," \
    "load average $(cut -d' ' -f1-3 /proc/loadavg) at the end, $(wine --version 2>/dev/null), $rounds rounds."
  echo "The machine is shared and noisy: compare the ratios, each taken from two measurements of the same run."
  echo
  echo "$table"
  echo
  echo "## Stub size: biggest contributors"
  echo
  echo "From a second link of setup.exe with a map file (sizes of the code and data sections before alignment)."
  echo
  echo "$contributors"
  echo
  echo "## Component benchmarks"
  echo "$components"
  [[ -f $root/docs/benchmarks.notes.md ]] && cat "$root/docs/benchmarks.notes.md"
} > "$root/docs/benchmarks.md"
note "written to docs/benchmarks.md"
