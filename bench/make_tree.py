#!/usr/bin/env python3
"""Writes a staged tree for the deployment benchmark: COUNT files of mixed sizes totalling TOTAL bytes,
spread over nested folders like an application package. Same arguments, same sizes and layout."""
import os
import random
import sys


def main(root, count, total):
    rng = random.Random(20240607)
    # Mostly small files, some medium, a few large, as in an application with resources.
    weights = [rng.lognormvariate(0, 1.6) for _ in range(count)]
    scale = total / sum(weights)
    sizes = [max(1, int(w * scale)) for w in weights]
    sizes[-1] += total - sum(sizes)
    if sizes[-1] < 1:
        raise SystemExit("size rounding went wrong")
    os.makedirs(root, exist_ok=True)
    for index, size in enumerate(sizes):
        folder = os.path.join(root, f"module{index % 20:02d}", f"part{(index // 20) % 10}")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, f"file{index:05d}.bin"), "wb") as out:
            out.write(os.urandom(size))


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]), int(sys.argv[3]))
