#!/usr/bin/env bash
# make bench: builds what it needs, measures the installer against its peers
# side by side in one run, prints one table and writes it with the machine
# and date to docs/benchmarks.md.
# Each ratio is taken round by round: the installer and its peer run one
# after the other in every round (the order swapped every other round), on
# the same warm input files, and the table gives the median of the rounds'
# ratios with their spread (lowest-highest). The machine is shared: a round
# disturbed by other work disturbs both sides of its ratio alike.
#   ROUNDS   repetitions of each timed measurement (default 7)
#   STARTUP_ROUNDS  rounds of the start-up figures (default 40: one start is short and noisy)
#   DL_MB    size of the download benchmark's file in MB (default 200)
#   INSTALL_ROUNDS  rounds of the install benchmark (default 9, after one round that is not counted)
#   MEM_SIZES       "disk" package sizes in MB of the memory benchmark (default "50 200 750")
#   ONLY     a space-separated subset of: size startup download install close components
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
load_start=$(cut -d' ' -f1-3 /proc/loadavg)
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
# Ratios round by round, from lines "ours peer" (rounds where either is not
# above 0 are left out): "median lowest highest rounds".
round_ratios() {
  awk '$1 > 0 && $2 > 0 {print $1 / $2}' | sort -g |
    awk '{v[NR] = $1} END {if (NR == 0) {print "0 0 0 0"; exit}
         m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
         printf "%.2f %.2f %.2f %d\n", m, v[1], v[NR], NR}'
}
# "1.23x (1.10-1.40 over 5 rounds)" from round_ratios' line.
ratio_text() { read -r m lo hi n <<<"$1"; echo "${m}x (${lo}-${hi} over $n rounds)"; }
ratios=()  # "name median" of every round-by-round ratio, for the closing lines
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
startup_rounds=${STARTUP_ROUNDS:-40}
note "start-up under Wine and Xvfb ($startup_rounds rounds)"
bash "$root/tools/wine-prefix.sh" "$WINEPREFIX" >/dev/null 2>&1
wineserver -k 2>/dev/null
startup=$(xvfb-run -a -s "-screen 0 1280x1024x24" bash "$root/tools/wine-run.sh" \
  "$winbench/startup_win_bench.exe" "$startup_rounds" "$(winpath "$setup")" \
  "$(winpath "$winbench/minwin_win_bench.exe")" "$(winpath "$winbench/imports_win_bench.exe")" \
  2>"$work/startup.log" | tr -d '\r')
wineserver -k 2>/dev/null
read -r _ s_med s_min s_max < <(echo "$startup" | sed -n 1p)
read -r _ m_med m_min m_max < <(echo "$startup" | sed -n 2p)
read -r _ i_med i_min i_max < <(echo "$startup" | sed -n 3p)
per_round=$(echo "$startup" | awk '$1 == "round"')
r_sm=$(echo "$per_round" | awk '{print $2, $3}' | round_ratios)
r_im=$(echo "$per_round" | awk '{print $4, $3}' | round_ratios)
r_si=$(echo "$per_round" | awk '{print $2, $4}' | round_ratios)
ratios+=("start-up/minimal ${r_sm%% *}" "start-up/imports ${r_si%% *}")
row "start-up: process start to visible window (ms)" "${s_med:-?} (${s_min:-?}-${s_max:-?})" \
  "minimal Win32 window: ${m_med:-?} (${m_min:-?}-${m_max:-?})" "$(ratio_text "$r_sm")" "<= 1.5x"
row "start-up: the same minimal window with setup.exe's imports and manifest (ms)" \
  "${i_med:-?} (${i_min:-?}-${i_max:-?})" "minimal Win32 window: ${m_med:-?}" "$(ratio_text "$r_im")" \
  "(explains the above)"
row "start-up: setup.exe against that window with its imports (ms)" "${s_med:-?}" "imports only: ${i_med:-?}" \
  "$(ratio_text "$r_si")" "<= 1.2x (the installer's own work)"
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
  # Three lines: the shipped downloader, a bare read loop with 10,240-byte
  # reads (the size it read before), the same loop with 64 KiB reads (its size now).
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
  row "download, a bare read loop with 10,240-byte reads, the size before (MB/s)" "${l_med:-?} (${l_min:-?}-${l_max:-?})" \
    "curl: $c_med" "$(ratio "${l_med:-0}" "$c_med")x" "(explains the above)"
  row "download, the same loop with 64 KiB reads, the size the downloader reads (MB/s)" "${w_med:-?} (${w_min:-?}-${w_max:-?})" \
    "curl: $c_med" "$(ratio "${w_med:-0}" "$c_med")x" "(explains the above)"
  rm -f "$www/bench.bin" "$work/curl.bin" "$work/ours.bin"
elif [[ -z $port ]]; then
  row "download" "not measured: the test servers did not start (see $work/servers.log)" "" "" ""
fi

# ---- install and memory ------------------------------------------------------------
# Installers made by the builder, driven under Wine by a program that clicks
# as a person does (bench/install_win_bench.cpp), all against one X display
# of our own; the peers run natively in the same rounds on the same disk.
install_rounds=${INSTALL_ROUNDS:-9}
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

# An X display of our own for the programs that click (and a fresh wine
# server on it), and its end.
start_display() {
  rm -f "$work/display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >/dev/null 2>"$work/xvfb.log" &
  xvfb_pid=$!
  trap 'kill "$xvfb_pid" 2>/dev/null' EXIT
  for ((i = 0; i < 100; i++)); do [[ -s $work/display ]] && break; sleep 0.1; done
  export DISPLAY=:$(head -1 "$work/display")
  wineserver -k 2>/dev/null
}
stop_display() {
  wineserver -k 2>/dev/null
  kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null
  unset DISPLAY
}

if [[ -n $port ]] && want install; then
  start_display

  note "install of a 2,000-file / 200 MB package, disk and net ($install_rounds rounds)"
  pkg=$work/pkg-200.zip
  python3 "$root/bench/make_package.py" "$pkg" --files 2000 --megabytes 200 --uninst "$uninst"
  entries=$(unzip -Z1 "$pkg" | grep -vc '/$')
  cp "$pkg" "$www/pkg-200.zip"
  pkg_url=http://127.0.0.1:$port/pkg-200.zip
  make_installer disk "" "$pkg" "$inst/disk-setup.exe"
  make_installer net "$pkg_url" "$pkg" "$inst/net-setup.exe"  # the package gives the digest
  # One line per round; within a round each pair runs back to back, the peer
  # first in even rounds and the installer first in odd ones. Before every
  # timed run: its output gone, the disk's writes flushed (sync), and its
  # input read once, so that both sides of a ratio read warm files.
  warm() { cat "$@" >/dev/null 2>&1; }
  settle() { rm -rf "$@"; sync; }
  t_unzip() {  # archive folder [-o over what is there]: ms
    local t0; t0=$(date +%s%N); unzip -qo "$1" -d "$2"; ms_since "$t0"
  }
  step() {  # archive target: "ms entries ok" of the package step alone
    bash "$root/tools/wine-run.sh" "$winbench/install_win_bench.exe" extract "$(winpath "$1")" "$(winpath "$2")" \
      2>>"$work/install.log" | tr -d '\r'
  }
  # One round first that is not counted: the first start of an installer
  # under this Wine server and the first unpacking pay what later ones do not.
  run_install "$inst/disk-setup.exe" "$work/target-disk" >/dev/null
  cp "$pkg" "$work/step.zip"; step "$work/step.zip" "$work/target-step" >/dev/null
  rm -rf "$work/target-step" "$work/unzip-out"; unzip -qo "$pkg" -d "$work/unzip-out"; rm -rf "$work/unzip-out"
  : > "$work/install-rounds.txt"
  for ((r = 0; r < install_rounds; r++)); do
    first_ours=$((r % 2))
    # disk: unzip of the archive against a click-to-finish install.
    for side in $((1 - first_ours)) $first_ours; do
      if ((side == 0)); then
        settle "$work/unzip-out"; warm "$pkg"; u_disk=$(t_unzip "$pkg" "$work/unzip-out")
      else
        settle "$work/target-disk"; warm "$inst/disk-setup.exe"
        read -r d_ms d_peak d_page d_files < <(run_install "$inst/disk-setup.exe" "$work/target-disk")
      fi
    done
    # net: curl + unzip against the "net" installer, the same file from nginx.
    for side in $((1 - first_ours)) $first_ours; do
      if ((side == 0)); then
        settle "$work/unzip-out" "$work/dl.zip"; warm "$www/pkg-200.zip"; t0=$(date +%s%N)
        curl -s -o "$work/dl.zip" "$pkg_url" && unzip -qo "$work/dl.zip" -d "$work/unzip-out"; cu=$(ms_since "$t0")
      else
        settle "$work/target-net"; warm "$www/pkg-200.zip" "$inst/net-setup.exe"
        read -r n_ms n_peak n_page n_files < <(run_install "$inst/net-setup.exe" "$work/target-net")
      fi
    done
    # The package step alone (no window) against unzip, into an empty folder;
    # the step deletes its archive, so it reads a fresh copy.
    for side in $((1 - first_ours)) $first_ours; do
      if ((side == 0)); then
        settle "$work/unzip-out"; warm "$pkg"; u_step=$(t_unzip "$pkg" "$work/unzip-out")
      else
        settle "$work/target-step"; cp "$pkg" "$work/step.zip"; warm "$work/step.zip"
        read -r x_ms _ x_ok < <(step "$work/step.zip" "$work/target-step")
        [[ ${x_ok:-0} == 1 ]] || x_ms=0
      fi
    done
    # An upgrade: the same package over an installation of it (every file
    # noted, the earlier one moved aside into the run's backups, deleted when
    # the run commits) against unzip -o over its own earlier output.
    settle "$work/target-up"; cp "$pkg" "$work/step.zip"; step "$work/step.zip" "$work/target-up" >/dev/null
    [[ -d $work/unzip-out ]] || unzip -qo "$pkg" -d "$work/unzip-out"
    for side in $((1 - first_ours)) $first_ours; do
      if ((side == 0)); then
        sync; warm "$pkg"; u_up=$(t_unzip "$pkg" "$work/unzip-out")
      else
        cp "$pkg" "$work/step.zip"; sync; warm "$work/step.zip"
        read -r up_ms _ up_ok < <(step "$work/step.zip" "$work/target-up")
        up_files=$(find "$work/target-up" -type f | wc -l)
        [[ ${up_ok:-0} == 1 && $up_files -ge $entries && ! -e $work/target-up/~setup-run ]] || up_ms=0
      fi
    done
    rm -rf "$work/unzip-out" "$work/dl.zip" "$work/target-step" "$work/target-up" "$work/step.zip"
    echo "$u_disk $cu ${d_ms:-0} ${d_peak:-0} ${d_page:--1} ${d_files:-0} ${n_ms:-0} ${n_peak:-0} ${n_page:--1} ${n_files:-0} ${x_ms:-0} $u_step ${up_ms:-0} $u_up" >> "$work/install-rounds.txt"
  done
  rm -f "$www/pkg-200.zip"
  # Only rounds that reached the finish page with every file count.
  col() { awk -v c="$1" -v p="$2" -v f="$3" -v n="$entries" '$p == 3 && $f >= n {print $c / 1000}' "$work/install-rounds.txt" | stats; }
  peer() { awk -v c="$1" '{print $c / 1000}' "$work/install-rounds.txt" | stats; }
  pairs() {  # ours peer [finish-page column, files column]
    awk -v o="$1" -v q="$2" -v p="${3:-0}" -v f="${4:-0}" -v n="$entries" \
      '(p == 0 || ($p == 3 && $f >= n)) {print $o, $q}' "$work/install-rounds.txt" | round_ratios
  }
  read -r u_med u_min u_max < <(peer 1)
  read -r cu_med cu_min cu_max < <(peer 2)
  read -r di_med di_min di_max < <(col 3 5 6)
  read -r ni_med ni_min ni_max < <(col 7 9 10)
  r_disk=$(pairs 3 1 5 6); r_net=$(pairs 7 2 9 10); r_step=$(pairs 11 12); r_up=$(pairs 13 14)
  ratios+=("disk ${r_disk%% *}" "net ${r_net%% *}" "step ${r_step%% *}" "upgrade ${r_up%% *}")
  ok_disk=$(awk -v n="$entries" '$5 == 3 && $6 >= n' "$work/install-rounds.txt" | wc -l)
  ok_net=$(awk -v n="$entries" '$9 == 3 && $10 >= n' "$work/install-rounds.txt" | wc -l)
  row "install, disk: click to finish page, 2,000 files / 200 MB (s; $ok_disk of $install_rounds rounds complete)" \
    "${di_med:-?} (${di_min:-?}-${di_max:-?})" "unzip: $u_med ($u_min-$u_max)" "$(ratio_text "$r_disk")" "<= 1.5x"
  row "install, net: click to finish page, same package (s; $ok_net of $install_rounds rounds complete)" \
    "${ni_med:-?} (${ni_min:-?}-${ni_max:-?})" "curl + unzip: $cu_med ($cu_min-$cu_max)" \
    "$(ratio_text "$r_net")" "<= 1.5x"
  read -r x_med x_min x_max < <(awk '$11 > 0 {print $11 / 1000}' "$work/install-rounds.txt" | stats)
  read -r us_med us_min us_max < <(awk '{print $12 / 1000}' "$work/install-rounds.txt" | stats)
  row "install: the package step alone under Wine, no window (journal begun, unpack_package, commit; s)" \
    "${x_med:-?} (${x_min:-?}-${x_max:-?})" "unzip: $us_med ($us_min-$us_max)" "$(ratio_text "$r_step")" "<= 1.0x"
  read -r up_med up_min up_max < <(awk '$13 > 0 {print $13 / 1000}' "$work/install-rounds.txt" | stats)
  read -r uu_med uu_min uu_max < <(awk '{print $14 / 1000}' "$work/install-rounds.txt" | stats)
  row "install: upgrade, the package step over an installation of the same package (journal, 2,000 backups, commit; s)" \
    "${up_med:-?} (${up_min:-?}-${up_max:-?})" "unzip -o over its own files: $uu_med ($uu_min-$uu_max)" \
    "$(ratio_text "$r_up")" "(measured; no aim)"

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

  stop_display
fi

# ---- close -------------------------------------------------------------------------
# "确定" in the close question to the process's end, on the home page, while
# a download is cancelled (its bytes arriving steadily, so that the cancel is
# seen at the next read) and on the finish page; beside it the minimal window
# closed with WM_CLOSE.
fault_port=$(sed -n 's/^fault_port=//p' "$state/servers.txt" 2>/dev/null)
if [[ -n $fault_port ]] && want close; then
  note "close after 确定: home page, download cancelled, finish page ($rounds rounds)"
  bash "$root/tools/wine-prefix.sh" "$WINEPREFIX" >/dev/null 2>&1
  start_display
  python3 "$root/bench/make_package.py" "$work/pkg-close.zip" --files 50 --megabytes 4 --uninst "$uninst"
  make_installer disk "" "$work/pkg-close.zip" "$inst/close-disk-setup.exe"
  # 16 MB at 8 KB every 10 ms: still arriving when the close is answered.
  make_installer net "http://127.0.0.1:$fault_port/trickle?chunks=2000&chunk=8192&interval=10" "$work/pkg-close.zip" \
    "$inst/close-net-setup.exe"
  close_ms() {  # installer page: "window-gone-ms end-ms exit-code", or nothing
    rm -rf "$work/target-close"
    bash "$root/tools/wine-run.sh" "$winbench/install_win_bench.exe" close "$(winpath "$1")" "$2" \
      "$(winpath "$work/target-close")" 2>>"$work/close.log" | tr -d '\r'
  }
  : > "$work/close-rounds.txt"
  for ((r = 0; r < rounds; r++)); do
    read -r _ home _ < <(close_ms "$inst/close-disk-setup.exe" home)
    read -r _ dl dl_code < <(close_ms "$inst/close-net-setup.exe" download)
    read -r _ fin fin_code < <(close_ms "$inst/close-disk-setup.exe" finish)
    read -r _ peer _ < <(bash "$root/tools/wine-run.sh" "$winbench/install_win_bench.exe" closewin \
      "$(winpath "$winbench/minwin_win_bench.exe")" 2>>"$work/close.log" | tr -d '\r')
    # A cancelled run ends with 1, a completed one with 0; anything else is no figure.
    [[ ${dl_code:-} == 1 ]] || dl=""
    [[ ${fin_code:-} == 0 ]] || fin=""
    echo "${home:--} ${dl:--} ${fin:--} ${peer:--}" >> "$work/close-rounds.txt"
  done
  rm -rf "$work/pkg-close.zip" "$work/target-close" "$inst/close-disk-setup.exe" "$inst/close-net-setup.exe"
  stop_display
  close_col() { awk -v c="$1" '$c != "-" {print $c}' "$work/close-rounds.txt" | stats; }
  close_n() { awk -v c="$1" '$c != "-"' "$work/close-rounds.txt" | wc -l; }
  read -r p_med p_min p_max < <(close_col 4)
  for page in "1 home page" "2 during a download, which it cancels and takes back first" "3 finish page"; do
    read -r c what <<<"$page"
    read -r c_med c_min c_max < <(close_col "$c")
    row "close: 确定 in the close question to the process's end, $what (ms; $(close_n "$c") of $rounds rounds)" \
      "${c_med:-?} (${c_min:-?}-${c_max:-?})" "minimal Win32 window, WM_CLOSE to its end: ${p_med:-?} (${p_min:-?}-${p_max:-?})" \
      "$(ratio "${c_med:-0}" 500) of 500 ms" "< 500 ms"
  done
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
# This run's round-by-round ratios beside the last full run's on this machine
# (build/bench/ratios.last): how far one run can be believed.
comparison=""
if ((${#ratios[@]} > 0)); then
  printf '%s\n' "${ratios[@]}" > "$work/ratios.new"
  if [[ -f $work/ratios.last ]]; then
    comparison=$(awk 'NR == FNR {last[$1] = $2; next}
      ($1 in last) && last[$1] > 0 && $2 > 0 {d = ($2 / last[$1] - 1) * 100
        printf "| %s | %.2fx | %.2fx | %+.0f %% | %s |\n", $1, last[$1], $2, d, (d > 15 || d < -15 ? "no" : "yes")}' \
      "$work/ratios.last" "$work/ratios.new")
    comparison=$(printf '%s\n' "Against the previous full run on this machine ($(cat "$work/ratios.last.when" 2>/dev/null)):" "" \
      "| ratio | previous run | this run | change | within 15 % |" "|---|---|---|---|---|" "$comparison")
    echo "$comparison"
  fi
fi
if [[ -n ${ONLY:-} ]]; then
  note "ONLY=$ONLY: docs/benchmarks.md left as it was"
  exit 0
fi
mkdir -p "$root/docs"
{
  echo "# Benchmarks"
  echo
  echo "Written by \`make bench\` (tools/bench.sh) on $(date -u '+%Y-%m-%d %H:%M UTC'): $cpu, $(nproc) cores," \
    "load average $load_start at the start and $(cut -d' ' -f1-3 /proc/loadavg) at the end (other work on the machine meanwhile), $(wine --version 2>/dev/null), $rounds rounds."
  echo "The machine is shared and noisy: every ratio is the median of ratios taken round by round (the installer and its peer back to back in each round, on the same warm input), with the lowest and highest round; the times beside them are medians (lowest-highest) over the rounds."
  echo
  echo "$table"
  echo
  if [[ -n $comparison ]]; then
    echo "$comparison"
    echo
  fi
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
if [[ -f $work/ratios.new ]]; then
  mv "$work/ratios.new" "$work/ratios.last"
  date -u '+%Y-%m-%d %H:%M UTC' > "$work/ratios.last.when"
fi
note "written to docs/benchmarks.md"
