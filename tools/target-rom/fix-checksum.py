#!/usr/bin/python3
"""Sets the last byte of an option ROM image so that all its bytes sum to 0 (mod 256)."""
import sys

path = sys.argv[1]
with open(path, "r+b") as f:
    rom = bytearray(f.read())
    if len(rom) < 512 or len(rom) % 512 or rom[0:2] != b"\x55\xaa" or rom[2] * 512 != len(rom):
        sys.exit(f"{path}: not an option ROM image of whole 512-byte blocks")
    rom[-1] = (-sum(rom[:-1])) & 0xFF
    f.seek(0)
    f.write(rom)
