"""Names the first element at which two sets of raw kernel outputs differ:
first_difference.py DIR_A DIR_B, each holding <output>.bin files."""
import os
import struct
import sys


def main(a_dir, b_dir):
    for name in sorted(os.listdir(a_dir)):
        if not name.endswith(".bin") or not os.path.exists(os.path.join(b_dir, name)):
            continue
        a = open(os.path.join(a_dir, name), "rb").read()
        b = open(os.path.join(b_dir, name), "rb").read()
        if a == b:
            continue
        for i in range(0, min(len(a), len(b)), 4):
            if a[i:i + 4] != b[i:i + 4]:
                wa, wb = struct.unpack("<I", a[i:i + 4])[0], struct.unpack("<I", b[i:i + 4])[0]
                fa, fb = struct.unpack("<f", a[i:i + 4])[0], struct.unpack("<f", b[i:i + 4])[0]
                print(f"{name}: element {i // 4}: {wa:08x} ({fa!r}) vs {wb:08x} ({fb!r})")
                break
        else:
            print(f"{name}: sizes differ ({len(a)} vs {len(b)} bytes)")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
