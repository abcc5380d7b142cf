# SPDX-License-Identifier: MIT
"""Pellora from Python: ID3 tags, internet-radio recording and downloads.

    import pellora
    tags = pellora.Tags("song.mp3")
    print(tags.Title, tags.mpeg.bit_rate, tags.mpeg.length)
    tags.Album = "Live"
    tags.save()

The package calls the C API of an installed Pellora (libpellora.so, and
libdownloaders.so for downloads) through ctypes.
"""
from .activities import Download, Recorder, StreamError, download
from .loop import run, run_async, run_for
from .tags import TEXT_PROPERTIES, MpegInfo, TagError, Tags, genre_id, genre_name

__all__ = ["Tags", "TagError", "MpegInfo", "TEXT_PROPERTIES", "genre_name", "genre_id", "Recorder", "StreamError",
           "download", "Download", "run", "run_for", "run_async"]
__version__ = "0.1.0"
