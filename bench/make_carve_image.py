#!/usr/bin/env python3
"""Lays real files of many formats into a disk image between random runs and zero runs.

    make_carve_image.py FILES_DIR IMAGE MIB [COPIES]

Every file of FILES_DIR is written COPIES times (default 4) at sector boundaries, in a shuffled
order, with a random run or a zero run after each; the rest of the MIB MiB is filled with
alternating random and zero stretches. IMAGE.manifest gets one line per placed file:
"<sector> <length> <name>".
"""
import os
import random
import sys

SECTOR = 512


def main():
    files_dir, image, mib = sys.argv[1], sys.argv[2], int(sys.argv[3])
    copies = int(sys.argv[4]) if len(sys.argv) > 4 else 4
    size = mib << 20
    rng = random.Random(2026)
    names = sorted(os.listdir(files_dir))
    order = [name for name in names for _ in range(copies)]
    rng.shuffle(order)
    contents = {name: open(os.path.join(files_dir, name), "rb").read() for name in names}
    placed = []
    with open(image, "wb") as out:
        position = 0

        def gap():
            nonlocal position
            sectors = rng.randint(1, 600)
            if rng.random() < 0.5:
                out.write(rng.randbytes(sectors * SECTOR))
            else:
                out.write(bytes(sectors * SECTOR))
            position += sectors * SECTOR

        gap()
        for name in order:
            data = contents[name]
            if position + len(data) + 2 * SECTOR > size:
                break
            placed.append((position // SECTOR, len(data), name))
            out.write(data)
            position += len(data)
            # The tail of the last sector is random, as on a disk.
            tail = (SECTOR - position % SECTOR) % SECTOR
            out.write(rng.randbytes(tail))
            position += tail
            gap()
        # Fill the rest in 8 MiB stretches, random and zero alternating.
        stretch = 8 << 20
        random_turn = True
        while position < size:
            count = min(stretch, size - position)
            out.write(rng.randbytes(count) if random_turn else bytes(count))
            random_turn = not random_turn
            position += count
    with open(image + ".manifest", "w") as manifest:
        for sector, length, name in placed:
            manifest.write(f"{sector} {length} {name}\n")


if __name__ == "__main__":
    main()
