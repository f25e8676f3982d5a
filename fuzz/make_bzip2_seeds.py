#!/usr/bin/env python3
"""Writes the bzip2 fuzz target's seeds of several blocks to
fuzz/corpus/bzip2_fuzzer/. libbz2 fills blocks of 100-900 KB, too large for
the target's declared sizes (under 64 KiB), so these streams are stitched
from the single blocks of small streams: each block's bits from its magic
to the end magic, one after another, then the end magic and the combined
CRC over the block CRCs, as a compressor writes them.

  blocks3          three blocks of text
  blocks3_damaged  the same, one byte of the middle block changed
  false_magic      two blocks whose byte values make the block magic appear
                   in their header (see tests/archive/methods/bzip2_blocks_test.cpp)
  blocks2_slack    two blocks and bytes after the stream
"""
import bz2
import os
import struct

BLOCK_MAGIC = 0x314159265359
END_MAGIC = 0x177245385090
OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "bzip2_fuzzer")


def bits_of(data):
    return bin(int.from_bytes(data, "big"))[2:].zfill(len(data) * 8)


def one_block(plain):
    """The bits of the one block of plain's stream, and the block's CRC."""
    bits = bits_of(bz2.compress(plain, 1))
    end = bits.rfind(format(END_MAGIC, "048b"))
    block = bits[32:end]
    assert block.startswith(format(BLOCK_MAGIC, "048b"))
    return block, int(block[48:80], 2)


def stitch(plains, damage_at=None):
    bits, combined = "", 0
    for plain in plains:
        block, crc = one_block(plain)
        bits += block
        combined = ((combined << 1) | (combined >> 31)) & 0xFFFFFFFF ^ crc
    bits += format(END_MAGIC, "048b") + format(combined, "032b")
    bits += "0" * (-len(bits) % 8)
    data = bytearray(b"BZh1" + int(bits, 2).to_bytes(len(bits) // 8, "big"))
    if damage_at is not None:
        data[damage_at] ^= 0x55
    return bytes(data)


def seed(name, plains, packed):
    size = sum(len(p) for p in plains)
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(struct.pack("<H", size) + packed)


texts = [b"".join(b"line %d of block %d\n" % (i, k) for i in range(300)) for k in range(3)]
seed("blocks3", texts, stitch(texts))
first = len(stitch(texts[:1])) - 10
seed("blocks3_damaged", texts, stitch(texts, damage_at=first + 40))
alphabet = bytes([0x21, 0x23, 0x24, 0x27, 0x2A, 0x2D, 0x2E, 0x31, 0x33, 0x36, 0x37, 0x39,
                  0x3B, 0x3C, 0x3F, 0x70, 0x90, 0xF0])
crafted = [bytes(alphabet[(i * 7 + k) % len(alphabet)] for i in range(2000)) for k in range(2)]
seed("false_magic", crafted, stitch(crafted))
seed("blocks2_slack", texts[:2], stitch(texts[:2]) + b"slack")
