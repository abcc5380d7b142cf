# SPDX-License-Identifier: MIT
"""Recording a stream (Torvane, in libpellora.so) and downloading a URL
(Downloader, in libdownloaders.so), driven by the loops of pellora.loop."""
from __future__ import annotations

import ctypes
import os
import time
from typing import Callable, Optional

from . import _native, loop
from .tags import PathLike, _fspath, _get_text, _utf8


class StreamError(OSError):
    """A recording failed: `err_type` and `err_code` as the stream control reports them."""

    def __init__(self, err_type: int, err_code: int, description: str):
        super().__init__(err_code, description)
        self.err_type = err_type
        self.err_code = err_code


class Recorder:
    """Records the stream at `url` into `path`, from its first title on.

    With `tag` the file gets ID3 tags from the stream (title, station name,
    genre, URL) before the audio. `on_title(title)` is called for every new
    title. The recording goes on while a loop runs (pellora.run_for ...) until
    stop(), or `seconds` of loop time when given, or an error (kept in `error`).
    """

    def __init__(self, url: str, path: PathLike, tag: bool = True,
                 on_title: Optional[Callable[[str], None]] = None, seconds: Optional[float] = None) -> None:
        self.url = url
        self.path = os.fsdecode(path)
        self._file = _fspath(path)
        address = _utf8(url, "a URL")
        self.title: Optional[str] = None
        self.error: Optional[StreamError] = None
        self._on_title = on_title
        self._writing = False
        self._written = 0
        self._deadline = None if seconds is None else time.monotonic() + seconds
        lib = _native.pellora()
        self._control = ctypes.c_void_p()
        if lib.pellora_torvane_create(ctypes.byref(self._control)) != 0:
            raise MemoryError("cannot create the stream control")
        self._events = _native.TorvaneEvents(
            None, _native.StateChanged(0), _native.MetaChanged(self._meta_changed),
            _native.ErrorEvent(self._error), _native.GotHeader(self._got_header), _native.BeforeStateChanged(0))
        lib.pellora_torvane_set_events(self._control, ctypes.byref(self._events))
        lib.pellora_torvane_set_write_id3_tag_to_file(self._control, int(tag))
        socket_error = ctypes.c_int32(0)
        if lib.pellora_torvane_connect(self._control, address, 1, ctypes.byref(socket_error)) != 0:
            self._release()
            raise StreamError(1, socket_error.value, f"cannot connect to {url}")
        loop._register(self)

    @property
    def active(self) -> bool:
        """True until stop(), an error, or the end of the given time."""
        if self._control and self._deadline is not None and time.monotonic() >= self._deadline:
            self.stop()
        return bool(self._control)

    @property
    def written_bytes(self) -> int:
        """Audio bytes written to the file so far."""
        if not self._control:
            return self._written
        value = ctypes.c_int64()
        _native.pellora().pellora_torvane_written_bytes_total(self._control, ctypes.byref(value))
        return value.value

    def stop(self) -> None:
        """Ends the connection and closes the file."""
        if self._control:
            self._written = self.written_bytes
            _native.pellora().pellora_torvane_disconnect(self._control)
            self._release()

    def _release(self) -> None:
        _native.pellora().pellora_torvane_destroy(self._control)
        self._control = ctypes.c_void_p()

    def _start_writing(self) -> None:
        if not self._writing and self._control:
            self._writing = True
            _native.pellora().pellora_torvane_start_writing(self._control, self._file, 0)

    def _got_header(self, _user: object, header: bytes, _length: int) -> None:
        # A stream without metadata has no titles to wait for.
        if b"icy-metaint:" not in header.lower():
            self._start_writing()

    def _meta_changed(self, _user: object, meta: bytes, _length: int) -> None:
        text = meta.decode("utf-8", "replace")
        start = text.find("StreamTitle='")
        if start < 0:
            return
        end = text.find("';", start + 13)
        self.title = text[start + 13:end if end >= 0 else None]
        self._start_writing()
        if self._on_title:
            self._on_title(self.title)

    def _error(self, _user: object, err_type: ctypes._Pointer[ctypes.c_int32],
               err_code: ctypes._Pointer[ctypes.c_int32], text: bytes, _length: int) -> None:
        self.error = StreamError(err_type[0], err_code[0], text.decode("utf-8", "replace"))
        self.stop()


def _begin(lib: ctypes.CDLL, control: ctypes.c_void_p, url: bytes, path: bytes) -> Optional[str]:
    """Starts the download; the reason it was refused, or None. A download that
    cannot even start (an unsupported scheme, a malformed URL) gets no event: the
    library only shows a warning box, which is caught here for its reason."""
    shown: list[str] = []

    def message_box(_user: object, text: bytes, _style: int, _title: bytes) -> int:
        shown.append(text.decode("utf-8", "replace"))
        return 1  # OK

    box = _native.MessageBox(message_box)
    lib.downloaders_set_message_box(box, None)
    try:
        code = lib.downloaders_downloader_begin_download(control, url, path)
    finally:
        lib.downloaders_set_message_box(_native.MessageBox(0), None)  # NULL: the default again
    if code != 0:
        return f"result {code}"
    if shown:
        return shown[-1].rpartition("Error Description: ")[2] or shown[-1]
    return None


class Download:
    """A download started by pellora.download(); `done`, `ok`, `size` tell how it went."""

    def __init__(self, url: str, path: PathLike, progress: Optional[Callable[[int, int], None]]) -> None:
        self.url = url
        self.path = os.fsdecode(path)
        address, file = _utf8(url, "a URL"), _fspath(path)
        self.done = False
        self.ok = False
        self.size = 0
        self._progress = progress
        lib = _native.downloaders()
        self._control = ctypes.c_void_p()
        if lib.downloaders_downloader_create(ctypes.byref(self._control)) != 0:
            raise MemoryError("cannot create the download control")
        self._events = _native.DownloaderEvents(None, _native.Progress(self._on_progress),
                                                _native.DownloadError(self._on_error),
                                                _native.DownloadComplete(self._on_complete))
        lib.downloaders_downloader_set_events(self._control, ctypes.byref(self._events))
        self._failed = False
        self._reason = ""
        refusal = _begin(lib, self._control, address, file)
        if refusal is not None:
            lib.downloaders_downloader_destroy(self._control)
            self._control = ctypes.c_void_p()
            raise OSError(f"cannot start downloading {url}: {refusal}")
        loop._register(self)

    @property
    def active(self) -> bool:
        return not self.done

    def _on_progress(self, _user: object, current: ctypes._Pointer[ctypes.c_int32],
                     maximum: ctypes._Pointer[ctypes.c_int32], _file: bytes) -> None:
        if self._progress:
            self._progress(current[0], maximum[0])

    def _on_error(self, _user: object, _file: bytes) -> None:
        self._failed = True
        _, self._reason = _get_text(_native.downloaders().downloaders_downloader_last_error, self._control)

    def _on_complete(self, _user: object, size: ctypes._Pointer[ctypes.c_int32], _file: bytes) -> None:
        self.done, self.ok, self.size = True, not self._failed, size[0]

    def result(self) -> int:
        """The size downloaded; raises OSError with the reason (the server's status,
        the network's reason, or the file that could not be written) when the
        download failed."""
        if not self.done:
            raise RuntimeError("the download is still running; run the loop first")
        if not self.ok:
            raise OSError(f"download of {self.url} into {self.path} failed: {self._reason}")
        return self.size

    def __del__(self) -> None:
        if getattr(self, "_control", None):
            _native.downloaders().downloaders_downloader_destroy(self._control)


def download(url: str, path: PathLike, progress: Optional[Callable[[int, int], None]] = None) -> Download:
    """Starts downloading `url` (http, https, file) into `path` and returns at once;
    run a loop (pellora.run()) to carry it out. The file holds its old content or
    the whole new one. `progress(bytes_so_far, total)` is called as data comes.
    A download that cannot start (an unsupported scheme, a malformed URL) raises
    OSError with the reason."""
    return Download(url, path, progress)
