#!/usr/bin/env python3
"""Writes the hostile files of tests/data/bad that the shared collection lacks: zero-byte and
random files for GIF and PFM, and for every extension we read a file that starts with the
signature of another format and continues with random bytes, so that a reader chosen by the
contents and one chosen by the name both meet data they cannot decode.
Random bytes are a SHA-256 stream, as in the shared collection, so the files are reproducible."""
import hashlib
import pathlib
import sys


def stream(label, size):
    out = b""
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(f"{label}:{counter}".encode()).digest()
        counter += 1
    return out[:size]


SIGNATURES = {  # extension: (name of the other format, its signature)
    "bmp": ("png", b"\x89PNG\r\n\x1a\n"),
    "gif": ("jpeg", b"\xff\xd8\xff\xe0"),
    "jpg": ("png", b"\x89PNG\r\n\x1a\n"),
    "png": ("gif", b"GIF89a"),
    "tif": ("exr", b"\x76\x2f\x31\x01"),
    "hdr": ("tiff", b"II*\x00"),
    "exr": ("radiance", b"#?RADIANCE\n"),
    "pfm": ("bmp", b"BM"),
}


def main(folder):
    bad = pathlib.Path(folder)
    for ext in ("gif", "pfm"):
        (bad / f"zero_bytes.{ext}").write_bytes(b"")
        (bad / f"random_bytes.{ext}").write_bytes(stream(f"random.{ext}", 4096))
    for ext, (other, magic) in SIGNATURES.items():
        name = f"{other}_signature_named_as.{ext}"
        (bad / name).write_bytes(magic + stream(name, 2048 - len(magic)))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "tests/data/bad")
