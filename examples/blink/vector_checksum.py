#!/usr/bin/env python3
"""Writes into entry 7 of a program's vector table the value that makes the first eight
32-bit entries add up to 0 (the check the LPC111x boot ROM makes). Takes a flash image
(.bin) or an ELF executable, whose bytes for flash address 0 it finds through its
loadable segments; build blink.bin and blink.hex from the ELF afterwards."""
import struct
import sys


def table_offset(data):
    """The file offset of flash address 0: 0 for a flash image, else the PT_LOAD
    segment's bytes that are loaded there."""
    if data[:4] != b"\x7fELF":
        return 0
    phoff, = struct.unpack_from("<I", data, 28)
    entsize, count = struct.unpack_from("<HH", data, 42)
    for i in range(count):
        ptype, offset, _vaddr, paddr, filesz = struct.unpack_from("<5I", data, phoff + entsize * i)
        if ptype == 1 and paddr == 0 and filesz >= 32:
            return offset
    sys.exit("no loadable segment holds the vector table at address 0")


path = sys.argv[1]
with open(path, "r+b") as image:
    data = image.read()
    start = table_offset(data)
    head = data[start:start + 32]
    if len(head) < 32:
        sys.exit(f"{path}: shorter than a vector table")
    words = struct.unpack("<8I", head)
    entry7 = (-sum(words[:7])) & 0xFFFFFFFF
    image.seek(start + 28)
    image.write(struct.pack("<I", entry7))
