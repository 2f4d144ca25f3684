# Converts a 24/32-bit ZPixmap xwd dump to PNG with Python's own modules:
# the screenshots of tests/gui/click_through.sh.
#   python3 xwd2png.py IN.xwd OUT.png
import struct, sys, zlib
data = open(sys.argv[1], 'rb').read()
h = struct.unpack('>25I', data[:100])
header_size, version, fmt, depth, width, height = h[0], h[1], h[2], h[3], h[4], h[5]
byte_order, bpp, bpl, ncolors = h[7], h[11], h[12], h[19]
off = header_size + ncolors * 12
rows = []
for y in range(height):
    line = data[off + y * bpl: off + y * bpl + width * 4]
    out = bytearray()
    for x in range(width):
        b, g, r = line[4*x], line[4*x+1], line[4*x+2]
        if byte_order == 1:  # MSB first: xRGB
            r, g, b = line[4*x+1], line[4*x+2], line[4*x+3]
        out += bytes((r, g, b))
    rows.append(b'\x00' + bytes(out))
def chunk(t, d): return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0)) + chunk(b'IDAT', zlib.compress(b''.join(rows), 6)) + chunk(b'IEND', b'')
open(sys.argv[2], 'wb').write(png)
