#!/usr/bin/env bash
# Writes tests/util/sha256_vectors.txt: reference SHA-256 digests, computed by
# the system's sha256sum, of generated inputs of every length 0..1000 and of
# one input of several megabytes. The test regenerates the same inputs and
# compares its own digests with these lines ("length digest").
#
# Input of length n: n bytes from the generator x = x * 1664525 + 1013904223
# (mod 2^32) started at x = n, each byte being the top 8 bits of the new x.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

big_length=5242883
python3 - "$work" "$big_length" <<'PY'
import sys
folder, big = sys.argv[1], int(sys.argv[2])
for n in list(range(0, 1001)) + [big]:
    x = n
    out = bytearray(n)
    for i in range(n):
        x = (x * 1664525 + 1013904223) & 0xFFFFFFFF
        out[i] = x >> 24
    with open(f"{folder}/{n}", "wb") as f:
        f.write(out)
PY

{
  for n in $(seq 0 1000) "$big_length"; do
    digest=$(sha256sum "$work/$n" | cut -d' ' -f1)
    echo "$n $digest"
  done
} > "$here/sha256_vectors.txt"
