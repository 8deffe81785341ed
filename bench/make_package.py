#!/usr/bin/env python3
"""Writes a package for the install and memory benchmarks: a ZIP archive of
deflated entries named "{app}/...", the same bytes for the same arguments.

The content is random bytes of which each bit is set one time in four (the
AND of two random bytes): deflate cannot shorten it by matching, only by
Huffman coding to about 84 %, so the archive is as large as the files make
it, and inflating it is real work.

Compressing gigabytes would take minutes, so each entry is put together from
a pool of blocks deflated once (each ends with a full flush, so its bytes
stand alone and pieces may follow one another in one stream). Blocks repeat
across entries, never within deflate's 32 KiB window.

  make_package.py OUT.zip --files N --megabytes M [--big-share F] [--uninst uninst.exe]

N files of varied sizes (a heavy-tailed draw with a fixed seed) adding up to
M x 1,000,000 bytes; with --big-share F one file holds that share of the
total, so that an extractor holding a whole entry in memory would show it.
"""
import argparse
import random
import struct
import zlib

BLOCK_SIZES = [1 << k for k in range(16, 9, -1)]  # 64 KiB down to 1 KiB
POOL = 16  # distinct blocks of each size


def skewed(rng, n):
    a = int.from_bytes(rng.randbytes(n), 'little')
    b = int.from_bytes(rng.randbytes(n), 'little')
    return (a & b).to_bytes(n, 'little')


def deflate_piece(data, final=False):
    c = zlib.compressobj(1, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush(zlib.Z_FINISH if final else zlib.Z_FULL_FLUSH)


class Pool:
    def __init__(self, rng):
        self.rng = rng
        self.blocks = {}
        for size in BLOCK_SIZES:
            raw = [skewed(rng, size) for _ in range(POOL)]
            self.blocks[size] = [(r, deflate_piece(r)) for r in raw]

    def entry(self, size):
        """(crc, compressed bytes) of `size` bytes of content."""
        crc, pieces, left = 0, [], size
        for block in BLOCK_SIZES:
            while left >= block:
                raw, packed = self.blocks[block][self.rng.randrange(POOL)]
                crc = zlib.crc32(raw, crc)
                pieces.append(packed)
                left -= block
        tail = skewed(self.rng, left)
        pieces.append(deflate_piece(tail, final=True))
        return zlib.crc32(tail, crc), b''.join(pieces)


def sizes_of(rng, files, total, big_share):
    big = int(total * big_share) if big_share > 0 else 0
    rest_files = files - (1 if big else 0)
    weights = [rng.paretovariate(1.2) for _ in range(rest_files)]
    scale = (total - big) / sum(weights)
    sizes = [max(1, int(w * scale)) for w in weights]
    sizes[0] += (total - big) - sum(sizes)  # exact total
    if sizes[0] < 1:
        raise SystemExit('make_package: too many files for the size')
    return ([big] if big else []) + sizes


class ZipOut:
    """Plain ZIP (no ZIP64: the benchmarks stay under 4 GiB)."""
    TIME, DATE = 0x6000, 0x5A21  # 2025-01-01 12:00:00

    def __init__(self, path):
        self.f = open(path, 'wb')
        self.central = []
        self.offset = 0

    def add(self, name, crc, size, packed, method=8):
        n = name.encode()
        if self.offset + len(packed) + 30 + len(n) >= 1 << 32 or size >= 1 << 32:
            raise SystemExit('make_package: too large for a plain ZIP archive')
        local = struct.pack('<IHHHHHIIIHH', 0x04034B50, 20, 0, method, self.TIME, self.DATE, crc, len(packed), size,
                            len(n), 0) + n
        self.central.append(struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, 20, 20, 0, method, self.TIME, self.DATE, crc,
                                        len(packed), size, len(n), 0, 0, 0, 0, 0, self.offset) + n)
        self.f.write(local)
        self.f.write(packed)
        self.offset += len(local) + len(packed)

    def close(self):
        start = self.offset
        directory = b''.join(self.central)
        self.f.write(directory)
        count = len(self.central)
        self.f.write(struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, count, count, len(directory), start, 0))
        self.f.close()


def main():
    p = argparse.ArgumentParser()
    p.add_argument('out')
    p.add_argument('--files', type=int, required=True)
    p.add_argument('--megabytes', type=int, required=True)
    p.add_argument('--big-share', type=float, default=0.0)
    p.add_argument('--uninst', default='')
    p.add_argument('--seed', type=int, default=20261207)
    a = p.parse_args()
    rng = random.Random(a.seed)
    pool = Pool(rng)
    z = ZipOut(a.out)
    for i, size in enumerate(sizes_of(rng, a.files, a.megabytes * 1000000, a.big_share)):
        folder = 'bin' if i == 0 else f'data/d{i % 40:02d}'
        crc, packed = pool.entry(size)
        z.add(f'{{app}}/{folder}/file{i:05d}.dat', crc, size, packed)
    main_file = b'MZ the main file of the package'
    z.add('{app}/App.exe', zlib.crc32(main_file), len(main_file), deflate_piece(main_file, final=True))
    if a.uninst:
        program = open(a.uninst, 'rb').read()
        z.add('{app}/uninst.exe', zlib.crc32(program), len(program), deflate_piece(program, final=True))
    z.close()


if __name__ == '__main__':
    main()
