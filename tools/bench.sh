#!/usr/bin/env bash
# make bench: builds what it needs, measures the installer against its peers
# side by side in one run, prints one table and writes it with the machine
# and date to docs/benchmarks.md.
#   ROUNDS   repetitions of each timed measurement (default 7)
#   DL_MB    size of the download benchmark's file in MB (default 200)
#   INSTALL_ROUNDS  rounds of the install benchmark (default 3)
#   MEM_SIZES       "disk" package sizes in MB of the memory benchmark (default "50 200 750")
#   ONLY     a space-separated subset of: size startup download install components
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
want() { [[ -z ${ONLY:-} || " $ONLY " == *" $1 "* ]]; }
# The path a program under Wine sees (drive Z:), without starting Wine: a
# wineserver started outside Xvfb would leave the later programs without a
# display.
winpath() { local p; p=$(realpath -m "$1"); echo "Z:${p//\//\\}"; }

# ---- building ----------------------------------------------------------------
note "building (Windows and native trees)"
cmake --build "$B/windows" -j2 --target setup uninst startup_win_bench minwin_win_bench imports_win_bench download_win_bench install_win_bench >/dev/null || exit 1
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
if want size; then
note "stub size"
size=$(stat -c %s "$setup")
rsrc=$($cross-objdump -h "$setup" | awk '$2 == ".rsrc" {print $3}')
rsrc=$((16#${rsrc:-0}))
code=$((size - rsrc))
row "stub size: dist/setup.exe with its default resources" "$((size / 1024)) KiB ($size B)" \
  "Squirrel Setup.exe ~210-250 KB; NSIS overhead ~34 KB" "$(ratio "$size" 262144) of 256 KiB, $(ratio "$size" 204800) of 200 KiB" "<= 256 KiB; aim <= 200 KiB"
row "stub size: code alone (file without .rsrc)" "$((code / 1024)) KiB ($code B)" "" \
  "$(ratio "$code" 262144) of 256 KiB" ""

# The biggest contributors: the same link again with a map file.
linkdir=$B/windows/app
contributors=""
if [[ -f $linkdir/CMakeFiles/setup.dir/link.txt ]]; then
  cmd=$(grep -m1 -- '-o setup.exe' "$linkdir/CMakeFiles/setup.dir/link.txt")
  cmd=${cmd//-o setup.exe/-o $work/setup-map.exe}
  # The archive of setup's objects is made afresh before each link, as
  # CMake does (appending to the old one would hold every object twice).
  prepare=$(grep -v -- '-o setup.exe' "$linkdir/CMakeFiles/setup.dir/link.txt")
  # Without link-time optimisation (the objects carry ordinary code too):
  # with it, the whole product is one object in the map.
  if (cd "$linkdir" && eval "$prepare" && eval "$cmd -fno-lto -Wl,-Map,$work/setup.map") 2>"$work/map.log"; then
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
fi

# ---- start-up --------------------------------------------------------------------
if want startup; then
note "start-up under Wine and Xvfb ($((rounds * 2)) rounds)"
bash "$root/tools/wine-prefix.sh" "$WINEPREFIX" >/dev/null 2>&1
wineserver -k 2>/dev/null
startup=$(xvfb-run -a -s "-screen 0 1280x1024x24" bash "$root/tools/wine-run.sh" \
  "$winbench/startup_win_bench.exe" "$((rounds * 2))" "$(winpath "$setup")" \
  "$(winpath "$winbench/minwin_win_bench.exe")" "$(winpath "$winbench/imports_win_bench.exe")" \
  2>"$work/startup.log" | tr -d '\r')
wineserver -k 2>/dev/null
read -r _ s_med s_min s_max < <(echo "$startup" | sed -n 1p)
read -r _ m_med m_min m_max < <(echo "$startup" | sed -n 2p)
read -r _ i_med i_min i_max < <(echo "$startup" | sed -n 3p)
row "start-up: process start to visible window (ms)" "${s_med:-?} (${s_min:-?}-${s_max:-?})" \
  "minimal Win32 window: ${m_med:-?} (${m_min:-?}-${m_max:-?})" "$(ratio "${s_med:-0}" "${m_med:-0}")x (fastest: $(ratio "${s_min:-0}" "${m_min:-0}")x)" "<= 1.5x"
row "start-up: the same minimal window with setup.exe's imports and manifest (ms)" \
  "${i_med:-?} (${i_min:-?}-${i_max:-?})" "minimal Win32 window: ${m_med:-?}" "$(ratio "${i_med:-0}" "${m_med:-0}")x (fastest: $(ratio "${i_min:-0}" "${m_min:-0}")x)" \
  "(explains the above)"
row "start-up: setup.exe against that window with its imports (ms)" "${s_med:-?}" "imports only: ${i_med:-?}" \
  "$(ratio "${s_med:-0}" "${i_med:-0}")x (fastest: $(ratio "${s_min:-0}" "${i_min:-0}")x)" "<= 1.2x (the installer's own work)"
fi

# ---- download --------------------------------------------------------------------
state=$work/servers
python3 "$root/tests/servers/serve.py" start "$state" >/dev/null 2>"$work/servers.log"
port=$(sed -n 's/^nginx_port=//p' "$state/servers.txt" 2>/dev/null)
www=$state/www
if [[ -n $port ]] && want download; then
  note "download of $dl_mb MB from nginx on 127.0.0.1 ($rounds rounds each)"
  head -c $((dl_mb * 1000000)) /dev/urandom > "$www/bench.bin"
  url=http://127.0.0.1:$port/bench.bin
  curl_rates=$(for ((r = 0; r < rounds; r++)); do
    t0=$(date +%s.%N); curl -s -o "$work/curl.bin" "$url"; t1=$(date +%s.%N)
    awk -v a="$t0" -v b="$t1" -v n="$(stat -c %s "$work/curl.bin")" 'BEGIN {printf "%.1f\n", n / 1e6 / (b - a)}'
  done | stats)
  # Three lines: the shipped downloader, its loop with 10,240-byte reads, the
  # same loop with 64 KiB reads.
  ours=$(bash "$root/tools/wine-run.sh" "$winbench/download_win_bench.exe" "$rounds" "$url" \
    "$(winpath "$work/ours.bin")" 2>"$work/download.log" | tr -d '\r')
  read -r c_med c_min c_max <<<"$curl_rates"
  read -r _ o_med o_min o_max o_bytes < <(echo "$ours" | sed -n 1p)
  read -r _ l_med l_min l_max l_bytes < <(echo "$ours" | sed -n 2p)
  read -r _ w_med w_min w_max w_bytes < <(echo "$ours" | sed -n 3p)
  [[ ${o_bytes:-0} == "$((dl_mb * 1000000))" ]] || o_med=0
  [[ ${l_bytes:-0} == "$((dl_mb * 1000000))" ]] || l_med=0
  [[ ${w_bytes:-0} == "$((dl_mb * 1000000))" ]] || w_med=0
  row "download: $dl_mb MB from nginx on 127.0.0.1 (MB/s)" "${o_med:-?} (${o_min:-?}-${o_max:-?})" \
    "curl: $c_med ($c_min-$c_max)" "$(ratio "${o_med:-0}" "$c_med")x" ">= 0.8x"
  row "download, its read loop alone, 10,240-byte reads (MB/s)" "${l_med:-?} (${l_min:-?}-${l_max:-?})" \
    "curl: $c_med" "$(ratio "${l_med:-0}" "$c_med")x" "(explains the above)"
  row "download, the same loop with 64 KiB reads, bench only (MB/s)" "${w_med:-?} (${w_min:-?}-${w_max:-?})" \
    "curl: $c_med" "$(ratio "${w_med:-0}" "$c_med")x" "(explains the above)"
  rm -f "$www/bench.bin" "$work/curl.bin" "$work/ours.bin"
elif [[ -z $port ]]; then
  row "download" "not measured: the test servers did not start (see $work/servers.log)" "" "" ""
fi

# ---- install and memory ------------------------------------------------------------
# Installers made by the builder, driven under Wine by a program that clicks
# as a person does (bench/install_win_bench.cpp), all against one X display
# of our own; the peers run natively in the same rounds on the same disk.
install_rounds=${INSTALL_ROUNDS:-3}
mem_sizes=${MEM_SIZES-"50 200 750"}
mkinstaller=$root/dist/mkinstaller
[[ -x $mkinstaller ]] || mkinstaller=$B/native/mkinstaller/mkinstaller
uninst=$B/windows/app/uninst.exe
inst=$work/installers
mkdir -p "$inst"

ms_since() { echo $(( ($(date +%s%N) - $1) / 1000000 )); }
# An installer that carries the package (disk), or of its address with the
# package's digest (net).
make_installer() {  # type url package out
  local cfg=$inst/config.json
  printf '{"softname":"Bench","softversion":"1.0","urlremote":"%s","urlfull":"%s","framework":"",
"mainfile":"App.exe","installtype":"%s","companyname":"Bench","companyurl":"","protocol":""}\n' \
    "$2" "$2" "$1" > "$cfg"
  "$mkinstaller" build --config "$cfg" --stub "$setup" ${3:+--package "$3"} --out "$4" >>"$work/mkinstaller.log" 2>&1
}
# One click-to-finish install: prints "ms peak page files".
run_install() {  # installer target
  rm -rf "$2"
  local out files
  out=$(bash "$root/tools/wine-run.sh" "$winbench/install_win_bench.exe" install "$(winpath "$1")" \
    "$(winpath "$2")" 2>>"$work/install.log" | tr -d '\r')
  files=$(find "$2" -type f 2>/dev/null | wc -l)
  rm -rf "$2" "$(dirname "$1")/app.zip"
  echo "${out:-0 0 -1} $files"
}
mib() { awk -v b="$1" 'BEGIN {printf "%.1f", b / 1048576}'; }

if [[ -n $port ]] && want install; then
  rm -f "$work/display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >/dev/null 2>"$work/xvfb.log" &
  xvfb_pid=$!
  trap 'kill "$xvfb_pid" 2>/dev/null' EXIT
  for ((i = 0; i < 100; i++)); do [[ -s $work/display ]] && break; sleep 0.1; done
  export DISPLAY=:$(head -1 "$work/display")
  wineserver -k 2>/dev/null

  note "install of a 2,000-file / 200 MB package, disk and net ($install_rounds rounds)"
  pkg=$work/pkg-200.zip
  python3 "$root/bench/make_package.py" "$pkg" --files 2000 --megabytes 200 --uninst "$uninst"
  entries=$(unzip -Z1 "$pkg" | grep -vc '/$')
  cp "$pkg" "$www/pkg-200.zip"
  pkg_url=http://127.0.0.1:$port/pkg-200.zip
  make_installer disk "" "$pkg" "$inst/disk-setup.exe"
  make_installer net "$pkg_url" "$pkg" "$inst/net-setup.exe"  # the package gives the digest
  : > "$work/install-rounds.txt"
  for ((r = 0; r < install_rounds; r++)); do
    rm -rf "$work/unzip-out"; t0=$(date +%s%N)
    unzip -qo "$pkg" -d "$work/unzip-out"; t_unzip=$(ms_since "$t0")
    rm -rf "$work/unzip-out" "$work/dl.zip"; t0=$(date +%s%N)
    curl -s -o "$work/dl.zip" "$pkg_url" && unzip -qo "$work/dl.zip" -d "$work/unzip-out"; t_curl_unzip=$(ms_since "$t0")
    rm -rf "$work/unzip-out" "$work/dl.zip"
    read -r d_ms d_peak d_page d_files < <(run_install "$inst/disk-setup.exe" "$work/target-disk")
    read -r n_ms n_peak n_page n_files < <(run_install "$inst/net-setup.exe" "$work/target-net")
    # The package step alone, under Wine without a window: a copy of the
    # archive, which the step deletes.
    rm -rf "$work/target-step"; cp "$pkg" "$work/step.zip"
    read -r x_ms x_entries x_ok < <(bash "$root/tools/wine-run.sh" "$winbench/install_win_bench.exe" extract \
      "$(winpath "$work/step.zip")" "$(winpath "$work/target-step")" 2>>"$work/install.log" | tr -d '\r')
    rm -rf "$work/target-step" "$work/step.zip"
    [[ ${x_ok:-0} == 1 ]] || x_ms=0
    echo "$t_unzip $t_curl_unzip $d_ms $d_peak $d_page $d_files $n_ms $n_peak $n_page $n_files ${x_ms:-0}" >> "$work/install-rounds.txt"
  done
  rm -f "$www/pkg-200.zip"
  # Only rounds that reached the finish page with every file count.
  col() { awk -v c="$1" -v p="$2" -v f="$3" -v n="$entries" '$p == 3 && $f >= n {print $c / 1000}' "$work/install-rounds.txt" | stats; }
  peer() { awk -v c="$1" '{print $c / 1000}' "$work/install-rounds.txt" | stats; }
  read -r u_med u_min u_max < <(peer 1)
  read -r cu_med cu_min cu_max < <(peer 2)
  read -r di_med di_min di_max < <(col 3 5 6)
  read -r ni_med ni_min ni_max < <(col 7 9 10)
  ok_disk=$(awk -v n="$entries" '$5 == 3 && $6 >= n' "$work/install-rounds.txt" | wc -l)
  ok_net=$(awk -v n="$entries" '$9 == 3 && $10 >= n' "$work/install-rounds.txt" | wc -l)
  row "install, disk: click to finish page, 2,000 files / 200 MB (s; $ok_disk of $install_rounds rounds complete)" \
    "${di_med:-?} (${di_min:-?}-${di_max:-?})" "unzip: $u_med ($u_min-$u_max)" "$(ratio "${di_med:-0}" "$u_med")x" "<= 1.6x"
  row "install, net: click to finish page, same package (s; $ok_net of $install_rounds rounds complete)" \
    "${ni_med:-?} (${ni_min:-?}-${ni_max:-?})" "curl + unzip: $cu_med ($cu_min-$cu_max)" \
    "$(ratio "${ni_med:-0}" "$cu_med")x" "<= 1.6x"
  read -r x_med x_min x_max < <(awk '$11 > 0 {print $11 / 1000}' "$work/install-rounds.txt" | stats)
  row "install: the package step alone under Wine, no window (unpack_package; s)" "${x_med:-?} (${x_min:-?}-${x_max:-?})" \
    "unzip: $u_med" "$(ratio "${x_med:-0}" "$u_med")x" "<= 1.0x"

  net_peak=$(awk '{print $8}' "$work/install-rounds.txt" | sort -g | tail -1)
  note "peak working set: idle programs, and disk installs of $mem_sizes MB"
  floor=$(bash "$root/tools/wine-run.sh" "$winbench/install_win_bench.exe" idle "$(winpath "$winbench/minwin_win_bench.exe")" 2>>"$work/install.log" | tr -d '\r')
  idle_setup=$(bash "$root/tools/wine-run.sh" "$winbench/install_win_bench.exe" idle "$(winpath "$inst/disk-setup.exe")" 2>>"$work/install.log" | tr -d '\r')
  context="minimal Win32 window: $(mib "${floor:-0}"); the 200 MB disk installer idle: $(mib "${idle_setup:-0}")"
  peaks=()
  for mb in $mem_sizes; do
    # The archive, the installer that carries it and the installed files.
    need=$((mb * 3 * 1000000 + 1000000000))
    avail=$(df --output=avail -B1 "$work" | tail -1)
    if ((avail < need)); then
      note "skipping the $mb MB package: $((avail / 1000000)) MB free, $((need / 1000000)) MB needed"
      row "memory: peak working set, disk install of $mb MB (MiB)" "skipped: $((avail / 1000000)) MB free on disk, $((need / 1000000)) MB needed" "$context" "" "<= 48 MiB"
      continue
    fi
    files=$((mb < 200 ? 500 : mb < 750 ? 2000 : 4000))
    python3 "$root/bench/make_package.py" "$work/mem-$mb.zip" --files "$files" --megabytes "$mb" --big-share 0.25 --uninst "$uninst"
    make_installer disk "" "$work/mem-$mb.zip" "$inst/mem-setup.exe"
    rm -f "$work/mem-$mb.zip"
    read -r m_ms m_peak m_page m_files < <(run_install "$inst/mem-setup.exe" "$work/target-mem")
    rm -f "$inst/mem-setup.exe"
    if [[ $m_page == 3 ]]; then
      peaks+=("$m_peak")
      row "memory: peak working set, disk install of $mb MB, $files files, one of $((mb / 4)) MB (MiB)" \
        "$(mib "$m_peak") (install took $((m_ms / 1000)) s)" "$context" "$(ratio "$m_peak" 50331648) of 48 MiB" "<= 48 MiB, flat"
    else
      row "memory: disk install of $mb MB" "failed: page $m_page, $m_files files (see $work/install.log)" "$context" "" "<= 48 MiB, flat"
    fi
  done
  if ((${#peaks[@]} > 1)); then
    row "memory: growth from the smallest to the largest package" "$(mib "$((${peaks[-1]} - ${peaks[0]}))") MiB" "" \
      "$(ratio "${peaks[-1]}" "${peaks[0]}")x" "flat (1.00x)"
  fi
  row "memory: peak working set, net install of 200 MB (MiB; the install rounds above)" "$(mib "${net_peak:-0}")" "$context" \
    "$(ratio "${net_peak:-0}" 50331648) of 48 MiB" "<= 48 MiB"

  wineserver -k 2>/dev/null
  kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null
  unset DISPLAY
fi
python3 "$root/tests/servers/serve.py" stop "$state" >/dev/null 2>&1

# ---- components --------------------------------------------------------------------
components=""
want components || native_benches=()
for name in "${native_benches[@]}"; do
  note "component benchmark $name"
  components+=$'\n'"### $name"$'\n\n```\n'"$("$B/native/bench/$name" 2>&1 | tail -40)"$'\n```\n'
done

# ---- the table ---------------------------------------------------------------------
cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')
table=$(printf '%s\n' "| measure | installer (median, min-max) | peer, same run | ratio | aim |" \
  "|---|---|---|---|---|" "${rows[@]}")
echo "$table"
if [[ -n ${ONLY:-} ]]; then
  note "ONLY=$ONLY: docs/benchmarks.md left as it was"
  exit 0
fi
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
  echo "From a second link of setup.exe with a map file, without link-time optimisation, so each object shows (sizes of the code and data sections before alignment; the shipped file, optimised at link time, is smaller)."
  echo
  echo "$contributors"
  echo
  echo "## Component benchmarks"
  echo "$components"
  [[ -f $root/docs/benchmarks.notes.md ]] && cat "$root/docs/benchmarks.notes.md"
} > "$root/docs/benchmarks.md"
note "written to docs/benchmarks.md"
