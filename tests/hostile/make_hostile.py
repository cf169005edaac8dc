#!/usr/bin/env python3
"""Writes the hostile image files the vorn end-to-end tests feed to
`vorn render --input`: files cut short, headers that lie, files that are not
images at all. Each must be refused with exit status 2 and nothing written.
Files named ok_* are whole and must render; they check that the careful
readers still read good files of the same layouts. Run it in this folder."""
import struct
import zlib


def tiff(width, height, tiled, tile=16):
    """An uncompressed 8-bit RGBA TIFF, little-endian: strips of 8 rows or
    tiles of `tile` x `tile` pixels."""
    pixels = bytearray()
    for y in range(height):
        for x in range(width):
            pixels += bytes([(x * 8) & 255, (y * 8) & 255, 128, 255])
    row = width * 4
    blocks = []
    if tiled:
        for ty in range(0, height, tile):
            for tx in range(0, width, tile):
                b = bytearray()
                for y in range(ty, ty + tile):
                    for x in range(tx, tx + tile):
                        if y < height and x < width:
                            b += pixels[y * row + x * 4: y * row + x * 4 + 4]
                        else:
                            b += bytes(4)
                blocks.append(bytes(b))
    else:
        for y in range(0, height, 8):
            blocks.append(bytes(pixels[y * row: min(height, y + 8) * row]))
    # Header, directory, arrays, then the pixel data last, so that cutting
    # the file removes pixels and leaves the directory whole.
    count = len(blocks)
    n_entries = 12
    ifd_size = 2 + 12 * n_entries + 4
    bits_at = 8 + ifd_size
    offs_at = bits_at + 8
    counts_at = offs_at + 4 * count
    data_at = counts_at + 4 * count
    offsets, at = [], data_at
    for b in blocks:
        offsets.append(at)
        at += len(b)
    entries = [(256, 4, 1, width), (257, 4, 1, height), (258, 3, 4, bits_at),
               (259, 3, 1, 1), (262, 3, 1, 2), (277, 3, 1, 4), (284, 3, 1, 1),
               (338, 3, 1, 2)]
    if tiled:
        entries += [(322, 4, 1, tile), (323, 4, 1, tile), (324, 4, count, offs_at),
                    (325, 4, count, counts_at)]
    else:
        entries += [(273, 4, count, offs_at), (278, 4, 1, 8), (279, 4, count, counts_at)]
        entries.append((305, 2, 4, 0x00726F76))  # Software: "vor" + NUL, inline
    entries.sort()
    assert len(entries) == n_entries
    ifd = struct.pack("<H", len(entries))
    for tag, kind, n, value in entries:
        if kind == 3 and n == 1:
            ifd += struct.pack("<HHIHH", tag, kind, n, value, 0)
        else:
            ifd += struct.pack("<HHII", tag, kind, n, value)
    ifd += struct.pack("<I", 0)
    arrays = (struct.pack("<4H", 8, 8, 8, 8) + struct.pack("<%dI" % count, *offsets) +
              struct.pack("<%dI" % count, *[len(b) for b in blocks]))
    return b"II*\0" + struct.pack("<I", 8) + ifd + arrays + b"".join(blocks)


def png(width, height, claim=None):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    w, h = claim or (width, height)
    raw = b"".join(
        b"\0" + b"".join(bytes([(x * 4) & 255, (y * 4) & 255, 64, 255]) for x in range(width))
        for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 0)) + chunk(b"IEND", b""))


def write(name, data):
    with open(name, "wb") as f:
        f.write(data)


strips = tiff(40, 32, tiled=False)
tiles = tiff(40, 32, tiled=True)
whole_png = png(40, 32)
write("ok_strips.tif", strips)
write("ok_tiles.tif", tiles)
write("ok_plain.png", whole_png)
# Cut inside the pixel data: the rows after the cut are missing.
write("cut_strips.tif", strips[:len(strips) - 40 * 4 * 12])
write("cut_tiles.tif", tiles[:len(tiles) - 16 * 16 * 4 * 2])
write("cut_data.png", whole_png[:len(whole_png) // 2])
# Headers that promise what is not there.
write("lying_size.png", png(4, 4, claim=(40000, 40000)))
write("lying_offset.tif", b"II*\0" + struct.pack("<I", 0x7FFFFFF0) + bytes(64))
write("tiff_loop.tif", b"II*\0" + struct.pack("<I", 8) + struct.pack("<H", 0) + struct.pack("<I", 8))
write("dpx_garbage.dpx", b"SDPX" + bytes(2044))
write("jpeg_cut.jpg", b"\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00\xff\xdb")
# Not images: zeros, text, nothing.
write("zeros.png", bytes(4096))
write("zeros.bin", bytes(4096))
write("text.png", b"this is not a picture\n")
write("empty.exr", b"")
