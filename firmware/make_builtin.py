#!/usr/bin/env python3
"""Writes builtin.dfu: a deterministic synthetic firmware file in the DFU 1.1
file format, used as the tool's built-in image.

The body comes from a 32-bit xorshift generator with a fixed seed, so the file
is the same on every run. The 16-byte suffix carries bcdDevice 0xFFFF,
idProduct 0xFFFF, the device vendor ID, bcdDFU 0x0100, the "UFD" signature,
bLength 16 and the DFU CRC-32 over every byte before it.

Usage: make_builtin.py [OUTPUT] [--vendor-id 0x2F5A]
"""
import argparse
import struct
import zlib

FILE_SIZE = 865_856
SUFFIX_SIZE = 16
SEED = 0x1234ABCD


def synthetic_body(length, seed=SEED):
    state = seed
    body = bytearray(length)
    for i in range(0, length, 4):
        state ^= (state << 13) & 0xFFFFFFFF
        state ^= state >> 17
        state ^= (state << 5) & 0xFFFFFFFF
        body[i:i + 4] = struct.pack("<I", state)[: length - i]
    return bytes(body)


def dfu_suffix(preceding, vendor_id):
    head = struct.pack("<HHHH3sB", 0xFFFF, 0xFFFF, vendor_id, 0x0100, b"UFD", SUFFIX_SIZE)
    # DFU 1.1 CRC: the standard CRC-32 without its final inversion.
    crc = zlib.crc32(preceding + head) ^ 0xFFFFFFFF
    return head + struct.pack("<I", crc)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", nargs="?", default="builtin.dfu")
    parser.add_argument("--vendor-id", type=lambda text: int(text, 0), default=0x2F5A)
    args = parser.parse_args()
    body = synthetic_body(FILE_SIZE - SUFFIX_SIZE)
    with open(args.output, "wb") as out:
        out.write(body + dfu_suffix(body, args.vendor_id))


if __name__ == "__main__":
    main()
