#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Generates a library of tagged MP3 files for the tag-scan benchmark.

    make_tag_library.py OUT_DIR [COUNT]

Each file is an ID3v2.3 tag with ten text frames and 1 KiB of padding, 1 to 3 MB
of MPEG audio made by lame (constant bit rate with an Info header, variable bit
rate with a Xing header, or constant without either), and an ID3v1 record.
OUT_DIR/complete marks a finished library; a finished library is left alone.
"""
import os
import random
import struct
import subprocess
import sys


def synchsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def text_frame(frame_id, text):
    data = b"\x00" + text.encode("latin-1")
    return frame_id.encode() + struct.pack(">I", len(data)) + b"\x00\x00" + data


def id3v2(i):
    frames = [
        text_frame("TIT2", f"Track title number {i}"),
        text_frame("TPE1", f"Artist {i % 97}"),
        text_frame("TALB", f"Album {i % 31}"),
        text_frame("TYER", str(1970 + i % 50)),
        text_frame("TRCK", f"{i % 12 + 1}/12"),
        text_frame("TPOS", "1/1"),
        text_frame("TCON", f"({i % 80})"),
        text_frame("TCOM", f"Composer {i % 13}"),
        text_frame("TENC", "lame"),
        b"COMM" + struct.pack(">I", 4 + 17) + b"\x00\x00" + b"\x00eng\x00" + b"Benchmark file.\x00",
    ]
    body = b"".join(frames) + bytes(1024)
    return b"ID3\x03\x00\x00" + synchsafe(len(body)) + body


def id3v1(i):
    record = b"TAG" + f"Track title number {i}".encode().ljust(30, b"\0")
    record += f"Artist {i % 97}".encode().ljust(30, b"\0") + f"Album {i % 31}".encode().ljust(30, b"\0")
    record += str(1970 + i % 50).encode() + b"Benchmark".ljust(28, b"\0") + bytes([0, i % 12 + 1, i % 80])
    return record


def base_streams(work):
    """Three lame streams of about 1, 2 and 3 MB."""
    specs = [("cbr128_info", 66, "-b 128", "sine=frequency=440"),
             ("vbr_xing", 110, "-V 2", "anoisesrc=color=pink:amplitude=0.3"),
             ("cbr192", 126, "-b 192 -t", "sine=frequency=660")]
    streams = []
    for name, seconds, options, source in specs:
        path = os.path.join(work, name + ".mp3")
        if not os.path.exists(path):
            wav = os.path.join(work, name + ".wav")
            subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                            f"{source}:duration={seconds}", "-ac", "2", "-ar", "44100", wav], check=True)
            subprocess.run(["lame", "--quiet", *options.split(), wav, path], check=True)
            os.remove(wav)
        with open(path, "rb") as f:
            streams.append(f.read())
    return streams


def main():
    out = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    if os.path.exists(os.path.join(out, "complete")):
        return
    work = os.path.join(out, "base")
    os.makedirs(work, exist_ok=True)
    streams = base_streams(work)
    rng = random.Random(1000)
    for i in range(count):
        audio = streams[i % len(streams)]
        audio = audio[: len(audio) - rng.randrange(0, 100000)]  # vary the sizes a little
        with open(os.path.join(out, f"track{i:04d}.mp3"), "wb") as f:
            f.write(id3v2(i) + audio + id3v1(i))
    open(os.path.join(out, "complete"), "w").close()


if __name__ == "__main__":
    main()
