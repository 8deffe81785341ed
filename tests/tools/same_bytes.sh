#!/usr/bin/env bash
# The two copies of the builder, the Linux one (dist/mkinstaller, as `make
# build` leaves it) and the Windows one run under Wine, build the same
# installer from the same inputs byte for byte: logos of 8 and 16 bits a
# sample, scaled to 256 x 256 and written again (not square), carried as
# given (square), and the icons made from each.
# Usage: same_bytes.sh LINUX_MKINSTALLER WINDOWS_MKINSTALLER.exe STUB.exe WINE_RUN.sh WORK_DIR
set -euo pipefail
linux=$(realpath "$1") windows=$(realpath "$2") stub=$(realpath "$3") wine_run=$(realpath "$4") work=$5
rm -rf "$work"
mkdir -p "$work"
cd "$work"
cp "$stub" stub.exe
printf '{"softname": "同样的字节", "softversion": "1.0", "installtype": "disk"}\n' >app.json
# RGBA logos of 8 and 16 bits a sample: a gradient with a soft transparent edge.
python3 - <<'PY'
import struct, zlib
def png(name, w, h, depth):
    rows = []
    for y in range(h):
        row = b"\0"
        for x in range(w):
            r, g, b = (x * 65535 // w), (y * 65535 // h), ((x * y * 7919) % 65536)
            a = min(65535, min(x, y, w - 1 - x, h - 1 - y) * 6553)
            px = (r, g, b, a)
            row += struct.pack(">HHHH", *px) if depth == 16 else bytes(v >> 8 for v in px)
        rows.append(row)
    def chunk(t, d):
        return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d) & 0xffffffff)
    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, depth, 6, 0, 0, 0))
    data += chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b"")
    open(name, "wb").write(data)
for depth in (8, 16):
    png(f"wide{depth}.png", 300, 180, depth)
    png(f"square{depth}.png", 96, 96, depth)
PY
status=0
for logo in wide8 wide16 square8 square16; do
  mkdir -p "linux-$logo" "windows-$logo"
  args="build --config app.json --logo $logo.png --stub stub.exe --allow-empty --scope machine"
  "$linux" $args --out "linux-$logo/setup.exe" >/dev/null 2>linux.err || { cat linux.err >&2; exit 1; }
  bash "$wine_run" "$windows" $args --out "windows-$logo/setup.exe" >/dev/null 2>windows.err || { cat windows.err >&2; exit 1; }
  if cmp -s "linux-$logo/setup.exe" "windows-$logo/setup.exe"; then
    echo "same bytes: $logo.png"
  else
    echo "FAIL: $logo.png: the two copies built different installers ($(cmp -l "linux-$logo/setup.exe" "windows-$logo/setup.exe" | wc -l) bytes differ)" >&2
    status=1
  fi
done
exit $status
