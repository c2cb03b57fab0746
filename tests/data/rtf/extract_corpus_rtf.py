#!/usr/bin/python3
"""Extracts the decompressed RTF body and the plain-text body of .msg files.

Development aid for the RTF converters: writes NAME.rtf and NAME.body.txt (UTF-8) for each
message given, into the output folder. Only the top-level message is read.
Usage: extract_corpus_rtf.py OUTDIR FILE.msg...
"""
import os
import struct
import sys

import olefile

PREBUF = (b"{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss "
          b"\\fmodern \\fscript \\fdecor MS Sans SerifSymbolArialTimes New RomanCourier"
          b"{\\colortbl\\red0\\green0\\blue0\r\n\\par \\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx")


def decompress(data):
    if len(data) < 16:
        return b""
    compsize, rawsize, comptype, _crc = struct.unpack("<IIII", data[:16])
    if comptype == 0x414C454D:
        return data[16:16 + rawsize]
    if comptype != 0x75465A4C:
        return b""
    dic = bytearray(4096)
    dic[:len(PREBUF)] = PREBUF
    w = len(PREBUF)
    out = bytearray()
    src = data[16:min(len(data), compsize + 4)]
    i = 0
    while i < len(src):
        ctrl = src[i]
        i += 1
        for bit in range(8):
            if i >= len(src):
                break
            if ctrl & (1 << bit):
                if i + 1 >= len(src):
                    i = len(src)
                    break
                ref = (src[i] << 8) | src[i + 1]
                i += 2
                off, length = ref >> 4, (ref & 15) + 2
                if off == w:
                    return bytes(out)
                for k in range(length):
                    c = dic[(off + k) % 4096]
                    dic[w] = c
                    w = (w + 1) % 4096
                    out.append(c)
            else:
                c = src[i]
                i += 1
                dic[w] = c
                w = (w + 1) % 4096
                out.append(c)
    return bytes(out)


def main():
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    for path in sys.argv[2:]:
        name = os.path.splitext(os.path.basename(path))[0]
        try:
            ole = olefile.OleFileIO(path)
        except Exception:
            continue
        if ole.exists("__substg1.0_10090102"):
            rtf = decompress(ole.openstream("__substg1.0_10090102").read())
            with open(os.path.join(outdir, name + ".rtf"), "wb") as f:
                f.write(rtf)
        body = None
        if ole.exists("__substg1.0_1000001F"):
            body = ole.openstream("__substg1.0_1000001F").read().decode("utf-16-le", "replace")
        elif ole.exists("__substg1.0_1000001E"):
            body = ole.openstream("__substg1.0_1000001E").read().decode("cp1252", "replace")
        if body is not None:
            with open(os.path.join(outdir, name + ".body.txt"), "w", encoding="utf-8") as f:
                f.write(body.rstrip("\0"))
        ole.close()


if __name__ == "__main__":
    main()
