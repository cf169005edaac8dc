#!/usr/bin/env python3
"""Writes the hostile image files the vorn end-to-end tests feed to
`vorn render --input`: files cut short, headers that lie, files that are not
images at all. Each must be refused with exit status 2 and nothing written.
Files named ok_* are whole and must render; they check that the careful
readers still read good files of the same layouts. Run it in this folder."""
import struct
import zlib


def tiff(width, height, tiled, tile=16, deflate=False):
    """An 8-bit RGBA TIFF, little-endian, uncompressed or deflated: strips
    of 8 rows or tiles of `tile` x `tile` pixels."""
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
    if deflate:
        blocks = [zlib.compress(b, 9) for b in blocks]
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
               (259, 3, 1, 8 if deflate else 1), (262, 3, 1, 2), (277, 3, 1, 4), (284, 3, 1, 1),
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


def dpx(width, height, bits, claim=None, offset=None):
    """A big-endian RGB DPX of `bits` (8, 10 as filled 32-bit words, or 16)
    with the generator's pattern; `claim` and `offset` make the header lie."""
    values = []
    for y in range(height):
        for x in range(width):
            for b in ((x * 8) & 255, (y * 8) & 255, 128):
                values.append(round(b * ((1 << bits) - 1) / 255))
    if bits == 8:
        data = bytes(values)
    elif bits == 16:
        data = struct.pack(">%dH" % len(values), *values)
    else:
        data = b"".join(struct.pack(">I", (r << 22) | (g << 12) | (b << 2))
                        for r, g, b in zip(values[0::3], values[1::3], values[2::3]))
    w, h = claim or (width, height)
    at = 2048 if offset is None else offset
    head = bytearray(2048)
    struct.pack_into(">4sI8sI", head, 0, b"SDPX", at, b"V2.0", 2048 + len(data))
    struct.pack_into(">IIII", head, 20, 1, 1664, 384, 0)
    struct.pack_into(">HHII", head, 768, 0, 1, w, h)
    # Image element 1: RGB, linear transfer, filled method A for 10 bits.
    struct.pack_into(">IIfIfBBBBHHIII", head, 780, 0, 0, 0.0, (1 << bits) - 1, 2.047, 50, 2, 2,
                     bits, 1 if bits == 10 else 0, 0, at, 0, 0)
    return bytes(head) + data


def half(v):
    return struct.pack("<e", v)


def exr(width, height, tiled=False, zip_lines=0, tile=16):
    """An RGBA half EXR (uncompressed, or ZIP with `zip_lines` 1 or 16 lines
    a block) of the generator's pattern as linear values: red 8x, green 8y,
    blue 128 once encoded as sRGB. Returns the header with its offset table
    left out, and the blocks: (chunk header, data)."""
    def linear(b):
        e = b / 255
        return e / 12.92 if e <= 0.04045 else ((e + 0.055) / 1.055) ** 2.4

    def attr(name, kind, data):
        return name + b"\0" + kind + b"\0" + struct.pack("<i", len(data)) + data
    channels = b"".join(c + b"\0" + struct.pack("<iB3xii", 1, 0, 1, 1) for c in [b"A", b"B", b"G", b"R"])
    box = struct.pack("<4i", 0, 0, width - 1, height - 1)
    compression = {0: 0, 1: 2, 16: 3}[zip_lines]
    header = (attr(b"channels", b"chlist", channels + b"\0") +
              attr(b"compression", b"compression", bytes([compression])) +
              attr(b"dataWindow", b"box2i", box) + attr(b"displayWindow", b"box2i", box) +
              attr(b"lineOrder", b"lineOrder", b"\0") +
              attr(b"pixelAspectRatio", b"float", struct.pack("<f", 1.0)) +
              attr(b"screenWindowCenter", b"v2f", struct.pack("<2f", 0, 0)) +
              attr(b"screenWindowWidth", b"float", struct.pack("<f", 1.0)))
    if tiled:
        header += attr(b"tiles", b"tiledesc", struct.pack("<IIB", tile, tile, 0))
    header = b"\x76\x2f\x31\x01" + struct.pack("<I", 2 | (0x200 if tiled else 0)) + header + b"\0"

    def line(y, x0, x1):
        ch = {b"R": lambda x: linear((x * 8) & 255), b"G": lambda x: linear((y * 8) & 255),
              b"B": lambda x: linear(128), b"A": lambda x: 1.0}
        return b"".join(half(ch[c](x)) for c in [b"A", b"B", b"G", b"R"] for x in range(x0, x1))

    def packed(raw):
        if not zip_lines:
            return raw
        t = bytearray(raw[0::2] + raw[1::2])
        for i in range(len(t) - 1, 0, -1):
            t[i] = (t[i] - t[i - 1] + 128) & 255
        z = zlib.compress(bytes(t), 9)
        return z if len(z) < len(raw) else raw
    blocks = []
    if tiled:
        for ty in range(0, (height + tile - 1) // tile):
            for tx in range(0, (width + tile - 1) // tile):
                x0, x1 = tx * tile, min(width, tx * tile + tile)
                raw = b"".join(line(y, x0, x1)
                               for y in range(ty * tile, min(height, ty * tile + tile)))
                blocks.append((struct.pack("<4i", tx, ty, 0, 0), packed(raw)))
    else:
        step = zip_lines or 1
        for y in range(0, height, step):
            raw = b"".join(line(yy, 0, width) for yy in range(y, min(height, y + step)))
            blocks.append((struct.pack("<i", y), packed(raw)))
    return header, blocks


def exr_file(header, blocks, sizes=None, offsets=None):
    """Joins an EXR: offset table, then each block with its data size;
    `sizes` and `offsets` replace the true ones where given."""
    at = len(header) + 8 * len(blocks)
    table, body = [], b""
    for i, (head, data) in enumerate(blocks):
        table.append(at + len(body))
        size = len(data) if sizes is None else sizes[i]
        body += head + struct.pack("<i", size) + data
    if offsets:
        table = [offsets[i] if i in offsets else t for i, t in enumerate(table)]
    return header + struct.pack("<%dQ" % len(table), *table) + body


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

# DPX of every depth: whole, cut in the header, inside the pixels and one
# byte short, with an image data offset past the end, and with a size the
# data cannot hold.
for bits in (8, 10, 16):
    whole = dpx(40, 32, bits)
    write("ok_%dbit.dpx" % bits, whole)
    for name, end in (("header", 1000), ("half", 2048 + (len(whole) - 2048) // 2),
                      ("last", len(whole) - 1)):
        write("dpx%d_cut_%s.dpx" % (bits, name), whole[:end])
    write("dpx%d_offset_past_end.dpx" % bits, dpx(40, 32, bits, offset=0x7FFFFFF0))
    write("dpx%d_lying_size.dpx" % bits, dpx(40, 32, bits, claim=(16384, 16384)))
# EXR scanlines (uncompressed, ZIP of 1 and 16 lines) and tiles: whole, cut
# at several places, blocks of size 0, offsets past the end or into the
# header, and a size no block holds.
for kind, tiled, lines in (("lines", False, 0), ("zips", False, 1), ("zip", False, 16),
                           ("tiles", True, 0)):
    header, blocks = exr(24, 20, tiled=tiled, zip_lines=lines)
    whole = exr_file(header, blocks)
    write("ok_%s.exr" % kind, whole)
    table_end = len(header) + 8 * len(blocks)
    for name, end in (("header", len(header) // 2), ("table", table_end - 4),
                      ("half", (table_end + len(whole)) // 2), ("last", len(whole) - 1)):
        write("exr_%s_cut_%s.exr" % (kind, name), whole[:end])
    sizes = [len(d) for _, d in blocks]
    sizes[len(blocks) // 2] = 0
    write("exr_%s_zero_block.exr" % kind, exr_file(header, blocks, sizes=sizes))
    write("exr_%s_zero_blocks.exr" % kind, exr_file(header, blocks, sizes=[0] * len(blocks)))
    write("exr_%s_offset_past_end.exr" % kind,
          exr_file(header, blocks, offsets={len(blocks) - 1: 1 << 40}))
    write("exr_%s_offset_in_header.exr" % kind, exr_file(header, blocks, offsets={1: 8}))
    # The first block twice: the second block's rows are never in the file.
    write("exr_%s_block_twice.exr" % kind,
          exr_file(header, blocks, offsets={1: table_end}))
# 8192 x 8192 declared, every block empty and all at one place (a few kB).
header, blocks = exr(8192, 1, zip_lines=16)
header = header.replace(struct.pack("<4i", 0, 0, 8191, 0), struct.pack("<4i", 0, 0, 8191, 8191))
blocks = [(struct.pack("<i", y), b"") for y in range(0, 8192, 16)]
at = len(header) + 8 * len(blocks)
write("exr_lying_size.exr", header + struct.pack("<%dQ" % len(blocks), *[at] * len(blocks)) +
      struct.pack("<ii", 0, 0))
# A few bytes declaring 16384 x 16384, exactly the pixel limit: refused before
# anything of that size is made.
write("png_lying_size.png", png(0, 0, claim=(16384, 16384)))
write("png_cut_header.png", whole_png[:30])
write("png_cut_last.png", whole_png[:len(whole_png) - 20])
# TIFF: cut in the directory, a strip past the end, strips of no bytes, and a
# size the strips cannot hold.
write("tiff_cut_directory.tif", strips[:60])


def patched(data, at, value):
    return data[:at] + struct.pack("<I", value) + data[at + 4:]


# The strip arrays of tiff(40, 32): four offsets at 166, four counts at 182.
write("tiff_strip_past_end.tif", patched(strips, 166 + 12, 1 << 30))
# A strip count of 0 with the strip whole in the file: the reader works the
# count out from the layout, and every pixel is read from the file.
write("ok_strip_count_zero.tif", patched(strips, 182 + 4, 0))
write("tiff_lying_size.tif", patched(patched(strips, 18, 16384), 30, 16384))
write("tiff_tile_past_end.tif", patched(tiles, 166 + 20, 1 << 30))
write("tiff_lying_tiles.tif", patched(patched(tiles, 18, 16384), 30, 16384))
# Deflate named as the compression: a 16384 x 16384 picture needs more
# than a few kB even so.
lying = patched(patched(strips, 18, 16384), 30, 16384)
write("tiff_zip_lying_size.tif", lying[:54] + struct.pack("<H", 8) + lying[56:])


def jpeg(width, height, blocks):
    """A baseline grey JPEG whose every 8 x 8 block is flat mid-grey: one
    Huffman code of one bit for DC 0 and one for the end of block, so two
    bits a block; `blocks` of them are in the file, padded to a byte."""
    def segment(marker, data):
        return b"\xff" + bytes([marker]) + struct.pack(">H", len(data) + 2) + data
    table = bytes([1] + [0] * 15 + [0])  # one code of length 1, for symbol 0
    bits = "00" * blocks
    bits += "1" * (-len(bits) % 8)
    scan = bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))
    return (b"\xff\xd8" + segment(0xDB, b"\x00" + bytes([1] * 64)) +
            segment(0xC0, struct.pack(">BHHB", 8, height, width, 1) + b"\x01\x11\x00") +
            segment(0xC4, b"\x00" + table) + segment(0xC4, b"\x10" + table) +
            segment(0xDA, b"\x01\x01\x00\x00\x3f\x00") + scan + b"\xff\xd9")


flat = jpeg(64, 64, 64)
write("jpeg_cut_scan.jpg", flat[:len(flat) - 12])
write("jpeg_lying_size.jpg", jpeg(16384, 16384, 64))
# Deflated strips: whole, one strip of no bytes, one cut short.
zipped = tiff(40, 32, tiled=False, deflate=True)
write("ok_zip_strips.tif", zipped)
write("tiff_zip_strip_empty.tif", patched(zipped, 182 + 4, 0))
write("tiff_zip_strip_cut.tif", zipped[:len(zipped) - 30])
