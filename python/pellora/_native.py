# SPDX-License-Identifier: MIT
"""Loading the installed Pellora libraries and declaring their C functions.

libpellora.so (tags, recording) is loaded on first use; libdownloaders.so, which
brings libcurl with it, only when a download starts. The libraries are looked up
in the folders of PELLORA_LIBRARY_PATH (colon-separated), then where the
dynamic linker finds them, then in pkg-config's libdir for Pellora.
"""
from __future__ import annotations

import ctypes
import os
import subprocess
from ctypes import (CFUNCTYPE, POINTER, c_char_p, c_double, c_int, c_int32, c_int64, c_size_t,
                    c_uint8, c_void_p)
from typing import Any, Optional

_SONAMES = {"pellora": "libpellora.so.0", "downloaders": "libdownloaders.so.0"}
_loaded: dict[str, ctypes.CDLL] = {}


class LibraryNotFound(OSError):
    """The installed Pellora library could not be loaded."""


def _pkg_config_libdir() -> Optional[str]:
    try:
        out = subprocess.run(["pkg-config", "--variable=libdir", "pellora"], capture_output=True,
                             text=True, check=False)
    except OSError:
        return None
    return out.stdout.strip() or None


def _candidates(name: str) -> list[str]:
    soname = _SONAMES[name]
    folders = [f for f in os.environ.get("PELLORA_LIBRARY_PATH", "").split(":") if f]
    paths = [os.path.join(folder, soname) for folder in folders]
    paths += [os.path.join(folder, f"lib{name}.so") for folder in folders]
    paths.append(soname)
    return paths


def _load(name: str) -> ctypes.CDLL:
    errors = []
    candidates = _candidates(name)
    for attempt in range(2):
        for path in candidates:
            try:
                return ctypes.CDLL(path)
            except OSError as e:
                errors.append(str(e))
        libdir = _pkg_config_libdir() if attempt == 0 else None
        if not libdir:
            break
        candidates = [os.path.join(libdir, _SONAMES[name])]
    raise LibraryNotFound(f"cannot load {_SONAMES[name]} (set PELLORA_LIBRARY_PATH): " + "; ".join(errors))


def _declare(lib: ctypes.CDLL, table: dict[str, Any]) -> None:
    for fname, (restype, argtypes) in table.items():
        f = getattr(lib, fname)
        f.restype = restype
        f.argtypes = argtypes


_BUF = (c_char_p, c_size_t, POINTER(c_size_t))
_TAGS = {
    "pellora_tags_open": (c_int, [c_char_p, POINTER(c_void_p), POINTER(c_int)]),
    "pellora_tags_destroy": (None, [c_void_p]),
    "pellora_tags_refresh": (c_int, [c_void_p, POINTER(c_int)]),
    "pellora_tags_text_count": (c_int, []),
    "pellora_tags_text_name": (c_char_p, [c_int]),
    "pellora_tags_get_text": (c_int, [c_void_p, c_char_p, *_BUF]),
    "pellora_tags_set_text": (c_int, [c_void_p, c_char_p, c_char_p]),
    "pellora_tags_get_int": (c_int, [c_void_p, c_char_p, POINTER(c_int64)]),
    "pellora_tags_set_int": (c_int, [c_void_p, c_char_p, c_int64]),
    "pellora_tags_get_double": (c_int, [c_void_p, c_char_p, POINTER(c_double)]),
    "pellora_tags_frame_header": (c_int, [c_void_p, POINTER(c_uint8 * 3)]),
    "pellora_tags_vbr_toc": (c_int, [c_void_p, POINTER(c_uint8), c_size_t, POINTER(c_size_t)]),
    "pellora_tags_update": (c_int, [c_void_p]),
    "pellora_tags_strip": (c_int, [c_void_p]),
    "pellora_tags_os_error": (c_int, [c_void_p]),
    "pellora_tags_kept_copy": (c_int, [c_void_p, *_BUF]),
    "pellora_tags_genre_name": (c_int, [c_int32, *_BUF]),
    "pellora_tags_genre_id": (c_int, [c_char_p, POINTER(c_int32)]),
    "pellora_tags_error_text": (c_char_p, [c_int]),
}

StateChanged = CFUNCTYPE(None, c_void_p)
MetaChanged = CFUNCTYPE(None, c_void_p, c_char_p, c_size_t)
ErrorEvent = CFUNCTYPE(None, c_void_p, POINTER(c_int32), POINTER(c_int32), c_char_p, c_size_t)
GotHeader = CFUNCTYPE(None, c_void_p, c_char_p, c_size_t)
BeforeStateChanged = CFUNCTYPE(None, c_void_p, POINTER(c_int))


class TorvaneEvents(ctypes.Structure):
    _fields_ = [("user_data", c_void_p), ("state_changed", StateChanged), ("meta_changed", MetaChanged),
                ("error", ErrorEvent), ("got_header", GotHeader), ("before_state_changed", BeforeStateChanged)]


_TORVANE = {
    "pellora_loop_run_for": (c_int64, [c_int32]),
    "pellora_loop_poll": (c_int64, []),
    "pellora_torvane_create": (c_int, [POINTER(c_void_p)]),
    "pellora_torvane_destroy": (None, [c_void_p]),
    "pellora_torvane_set_events": (c_int, [c_void_p, POINTER(TorvaneEvents)]),
    "pellora_torvane_connect": (c_int, [c_void_p, c_char_p, c_int, POINTER(c_int32)]),
    "pellora_torvane_disconnect": (c_int, [c_void_p]),
    "pellora_torvane_start_writing": (c_int, [c_void_p, c_char_p, c_int]),
    "pellora_torvane_set_write_id3_tag_to_file": (c_int, [c_void_p, c_int]),
    "pellora_torvane_get_header": (c_int, [c_void_p, c_char_p, *_BUF, POINTER(c_int)]),
    "pellora_torvane_written_bytes_total": (c_int, [c_void_p, POINTER(c_int64)]),
}

Progress = CFUNCTYPE(None, c_void_p, POINTER(c_int32), POINTER(c_int32), c_char_p)
DownloadError = CFUNCTYPE(None, c_void_p, c_char_p)
DownloadComplete = CFUNCTYPE(None, c_void_p, POINTER(c_int32), c_char_p)
MessageBox = CFUNCTYPE(c_int, c_void_p, c_char_p, c_int, c_char_p)


class DownloaderEvents(ctypes.Structure):
    _fields_ = [("user_data", c_void_p), ("download_progress", Progress), ("download_error", DownloadError),
                ("download_complete", DownloadComplete)]


_DOWNLOADERS = {
    "downloaders_loop_run_for": (c_int64, [c_int32]),
    "downloaders_loop_poll": (c_int64, []),
    "downloaders_downloader_create": (c_int, [POINTER(c_void_p)]),
    "downloaders_downloader_destroy": (None, [c_void_p]),
    "downloaders_downloader_set_events": (c_int, [c_void_p, POINTER(DownloaderEvents)]),
    "downloaders_downloader_begin_download": (c_int, [c_void_p, c_char_p, c_char_p]),
    "downloaders_downloader_last_error": (c_int, [c_void_p, c_char_p, c_size_t, POINTER(c_size_t)]),
    "downloaders_set_message_box": (c_int, [MessageBox, c_void_p]),
}


def pellora() -> ctypes.CDLL:
    """libpellora.so with the tag store and Torvane functions declared."""
    if "pellora" not in _loaded:  # kept only once declared: undeclared calls would misread results
        lib = _load("pellora")
        _declare(lib, _TAGS)
        _declare(lib, _TORVANE)
        _loaded["pellora"] = lib
    return _loaded["pellora"]


def downloaders() -> ctypes.CDLL:
    """libdownloaders.so with the Downloader functions declared (loads libcurl)."""
    if "downloaders" not in _loaded:
        lib = _load("downloaders")
        _declare(lib, _DOWNLOADERS)
        _loaded["downloaders"] = lib
    return _loaded["downloaders"]


def is_loaded(name: str) -> bool:
    return name in _loaded
