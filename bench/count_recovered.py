#!/usr/bin/env python3
"""Counts how many of the files laid into a carving image a carver gave back whole.

    count_recovered.py FILES_DIR MANIFEST OUTPUT_DIR

A placed file counts when some file below OUTPUT_DIR holds it byte for byte: exactly, or followed
by at most one sector of other bytes (a carver that ends a file on a sector boundary). Each
recovered file is matched once. Prints "<whole> <placed> <recovered files>" and, on stderr, the
placed files of each kind that were not given back.
"""
import collections
import os
import sys

SLACK = 512
KEY = 64


def main():
    files_dir, manifest, output = sys.argv[1:4]
    contents = {}
    placed = collections.Counter()
    with open(manifest) as lines:
        for line in lines:
            _, _, name = line.split(maxsplit=2)
            name = name.strip()
            placed[name] += 1
            if name not in contents:
                contents[name] = open(os.path.join(files_dir, name), "rb").read()
    by_key = collections.defaultdict(list)
    for name, data in contents.items():
        by_key[data[:KEY]].append(name)

    found = collections.Counter()
    recovered = 0
    for folder, _, names in os.walk(output):
        for file_name in names:
            path = os.path.join(folder, file_name)
            recovered += 1
            with open(path, "rb") as f:
                head = f.read(KEY)
                candidates = by_key.get(head, [])
                if not candidates:
                    continue
                f.seek(0)
                data = f.read()
            for name in candidates:
                original = contents[name]
                if (len(original) <= len(data) <= len(original) + SLACK
                        and data[:len(original)] == original
                        and found[name] < placed[name]):
                    found[name] += 1
                    break
    missing = collections.Counter()
    for name, count in placed.items():
        if found[name] < count:
            missing[os.path.splitext(name)[0]] += count - found[name]
    if missing:
        print("not given back whole: " + ", ".join(f"{k} x{v}" for k, v in sorted(missing.items())),
              file=sys.stderr)
    print(sum(found.values()), sum(placed.values()), recovered)


if __name__ == "__main__":
    main()
