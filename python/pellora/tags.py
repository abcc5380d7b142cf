# SPDX-License-Identifier: MIT
"""The tag store: ID3v1, ID3v2 and Lyrics3 tags of a file and its first MPEG audio frame."""
from __future__ import annotations

import ctypes
import errno
import os
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Optional, Union

from . import _native

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

_OK, _BUFFER_TOO_SMALL, _NO_VALUE, _KEPT_COPY, _OUT_OF_RANGE = 0, -2, -23, -25, -26
_INT32 = range(-(1 << 31), 1 << 31)

# Text items in their declared order (the C API lists the same names).
TEXT_PROPERTIES: tuple[str, ...] = (
    "Comments", "Album", "BeatsPerMinute", "Composer", "Genre", "Copyright", "EncodedBy", "Lyricist", "Title",
    "InitialKey", "Languages", "OriginalAlbum", "OriginalFileName", "OriginalLyricist", "OriginalArtist",
    "OriginalReleaseYear", "FileOwner", "Artist", "Band", "Conductor", "InterpretedBy", "DiscNumber", "DiscsTotal",
    "Publisher", "TrackNumber", "TracksTotal", "InternetRadioStationName", "InternetRadioStationOwner", "ISRC",
    "Year", "Lyrics", "CopyrightInfo", "AudioURL", "AudioSourceURL", "InternetRadioURL", "PaymentURL",
    "PublisherURL")
_FLAGS = ("ID3v1Exists", "ID3v2Exists", "Lyrics3v1Exists", "Lyrics3v2Exists")


class TagError(OSError):
    """A tag operation failed. `code` is the C API's result code; `errno` (with
    `strerror` and `filename`) is the system's reason when there is one, else None
    (the message then says why)."""

    def __init__(self, code: int, message: str, filename: Optional[str] = None, os_error: int = 0):
        if os_error:
            super().__init__(os_error, message, filename)
        else:
            super().__init__(message)
        self.code = code


def _reason(code: int, os_error: int = 0) -> str:
    text: str = _native.pellora().pellora_tags_error_text(code).decode()
    return f"{text}: {os.strerror(os_error)}" if os_error else text


def _check(code: int, what: str, filename: Optional[str] = None, os_error: int = 0) -> None:
    if code != _OK:
        raise TagError(code, f"{what}: {_reason(code, os_error)}", filename, os_error)


def _utf8(text: str, what: str) -> bytes:
    """The text for the C API, which ends a text at NUL: a NUL inside is refused."""
    if "\0" in text:
        raise ValueError(f"{what} cannot hold a NUL character")
    return text.encode("utf-8")


def _fspath(path: PathLike) -> bytes:
    """The file name as the system has it (bytes); the C API would end it at a NUL,
    and so name another file, so a NUL inside is refused as os.open refuses it."""
    name = os.fsencode(path)
    if b"\0" in name:
        raise ValueError("embedded null byte in a file name")
    return name


def _get_text(call: Any, *args: Any) -> tuple[int, str]:
    size = ctypes.c_size_t(0)
    buffer = ctypes.create_string_buffer(256)
    code = call(*args, buffer, len(buffer), ctypes.byref(size))
    if code == _BUFFER_TOO_SMALL:
        buffer = ctypes.create_string_buffer(size.value + 1)
        code = call(*args, buffer, len(buffer), ctypes.byref(size))
    return code, buffer.raw[:size.value].decode("utf-8", "replace")


@dataclass(frozen=True)
class MpegInfo:
    """What the first MPEG audio frame between the tags says.

    Codes as the tag store gives them: `layer` 1 is Layer III, 2 Layer II, 3 Layer I;
    `version` 2 is MPEG-1, 3 MPEG-2, 0 MPEG-2.5; `channel_mode` 0 stereo, 1 joint
    stereo, 2 dual channel, 3 single channel. `found` is False for a file without
    MPEG audio (the other numbers then decode the last bytes the search looked
    at, or an all-zero header, and mean nothing). `vbr_toc` is the
    seek table of a Xing/Info or VBRI header as it stands in the file (empty when
    there is none); `vbri_toc_entries` and `vbri_toc_entry_size` describe a VBRI one.
    """
    found: bool
    layer: int
    version: int
    channel_mode: int
    padding: int
    sampling_rate: int
    frame_samples: int
    bit_rate: float
    frame_size: Optional[float]
    length: float
    is_vbr: bool
    vbr_frames: int
    vbr_bytes: int
    vbr_quality: int
    vbr_toc: bytes
    vbri_toc_entries: int
    vbri_toc_entry_size: int
    audio_start: int
    audio_size: int
    frame_header: bytes


class Tags:
    """The tags of one file, read when the object is made.

    Every text property is an attribute (``tags.Title``, ``tags.Artist`` ...) of type
    ``str``; ``GenreID`` is an ``int``. Setting attributes changes only the object;
    ``save()`` writes them into the file, ``strip()`` removes every tag from it.
    Errors raise :class:`TagError` with the reason.

    >>> t = Tags("song.mp3"); t.Title = "Ωμέγα"; t.save()
    """

    __slots__ = ("_handle", "_path")

    if TYPE_CHECKING:  # the attributes __getattr__ and __setattr__ serve, for type checkers
        Comments: str
        Album: str
        BeatsPerMinute: str
        Composer: str
        Genre: str
        Copyright: str
        EncodedBy: str
        Lyricist: str
        Title: str
        InitialKey: str
        Languages: str
        OriginalAlbum: str
        OriginalFileName: str
        OriginalLyricist: str
        OriginalArtist: str
        OriginalReleaseYear: str
        FileOwner: str
        Artist: str
        Band: str
        Conductor: str
        InterpretedBy: str
        DiscNumber: str
        DiscsTotal: str
        Publisher: str
        TrackNumber: str
        TracksTotal: str
        InternetRadioStationName: str
        InternetRadioStationOwner: str
        ISRC: str
        Year: str
        Lyrics: str
        CopyrightInfo: str
        AudioURL: str
        AudioSourceURL: str
        InternetRadioURL: str
        PaymentURL: str
        PublisherURL: str
        GenreID: int
        ID3RevisionV2: int  # read-only, as are the four flags
        ID3v1Exists: bool
        ID3v2Exists: bool
        Lyrics3v1Exists: bool
        Lyrics3v2Exists: bool

    def __init__(self, path: PathLike) -> None:
        self._path = os.fsdecode(path)
        self._handle = ctypes.c_void_p()
        os_error = ctypes.c_int(0)
        lib = _native.pellora()
        code = lib.pellora_tags_open(_fspath(path), ctypes.byref(self._handle), ctypes.byref(os_error))
        self._check_scan(code, os_error.value)

    @property
    def path(self) -> str:
        """The file's name as given (read-only: the object stays with its file)."""
        return self._path

    def _check_scan(self, code: int, os_error: int) -> None:
        if code == _OK:
            return
        if os_error == errno.EOPNOTSUPP:  # what the C API says of a FIFO or a device
            raise TagError(code, f"cannot read {self.path}: not a regular file", self.path)
        reason = os.strerror(os_error) if os_error else _reason(code)
        raise TagError(code, f"cannot read {self.path}: {reason}", self.path, os_error)

    def __del__(self) -> None:
        self.close()

    def close(self) -> None:
        """Frees the native handle (also done when the object goes)."""
        handle = getattr(self, "_handle", None)
        if handle:
            _native.pellora().pellora_tags_destroy(handle)
            self._handle = ctypes.c_void_p()

    def __enter__(self) -> "Tags":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def _live(self) -> ctypes.c_void_p:
        if not self._handle:
            raise ValueError("the Tags object is closed")
        return self._handle

    def __getattr__(self, name: str) -> Any:
        if name in TEXT_PROPERTIES:
            code, value = _get_text(_native.pellora().pellora_tags_get_text, self._live(), name.encode())
            _check(code, name)
            return value
        if name == "GenreID" or name in _FLAGS or name == "ID3RevisionV2":
            number = self._int(name)
            return bool(number) if name in _FLAGS else number
        raise AttributeError(name)

    def __setattr__(self, name: str, value: Any) -> None:
        if name in TEXT_PROPERTIES:
            if not isinstance(value, str):
                raise TypeError(f"{name} takes str, not {type(value).__name__}")
            _check(_native.pellora().pellora_tags_set_text(self._live(), name.encode(), _utf8(value, name)), name)
        elif name == "GenreID":
            if not isinstance(value, int) or isinstance(value, bool):
                raise TypeError("GenreID takes int")
            if value not in _INT32:  # ctypes would wrap it silently
                _check(_OUT_OF_RANGE, name)
            _check(_native.pellora().pellora_tags_set_int(self._live(), b"GenreID", value), name)
        elif name in Tags.__slots__:
            object.__setattr__(self, name, value)
        else:
            raise AttributeError(f"{name} cannot be set")

    def _int(self, name: str) -> int:
        value = ctypes.c_int64()
        _check(_native.pellora().pellora_tags_get_int(self._live(), name.encode(), ctypes.byref(value)), name)
        return value.value

    def _double(self, name: str) -> Optional[float]:
        value = ctypes.c_double()
        code = _native.pellora().pellora_tags_get_double(self._live(), name.encode(), ctypes.byref(value))
        if code == _NO_VALUE:
            return None
        _check(code, name)
        return value.value

    @property
    def mpeg(self) -> MpegInfo:
        """The first MPEG audio frame's values (see :class:`MpegInfo`)."""
        header = (ctypes.c_uint8 * 3)()
        _check(_native.pellora().pellora_tags_frame_header(self._live(), ctypes.byref(header)), "FrameHeader")
        start = self._int("AudioStart")
        toc_length = ctypes.c_size_t()
        code = _native.pellora().pellora_tags_vbr_toc(self._live(), None, 0, ctypes.byref(toc_length))
        _check(_OK if code == _BUFFER_TOO_SMALL else code, "VbrToc")
        toc = (ctypes.c_uint8 * max(toc_length.value, 1))()
        _check(_native.pellora().pellora_tags_vbr_toc(self._live(), toc, toc_length.value, ctypes.byref(toc_length)),
               "VbrToc")
        return MpegInfo(
            found=start != 0, layer=self._int("Layer"), version=self._int("MPEGVersion"),
            channel_mode=self._int("ChannelMode"), padding=self._int("Padding"),
            sampling_rate=self._int("SamplingRateFrequency"), frame_samples=self._int("FrameSamples"),
            bit_rate=self._double("BitRate") or 0.0, frame_size=self._double("FrameSize"),
            length=self._double("length") or 0.0, is_vbr=bool(self._int("IsVbr")),
            vbr_frames=self._int("VbrFrames"), vbr_bytes=self._int("VbrBytes"), vbr_quality=self._int("VbrQuality"),
            vbr_toc=bytes(toc[:toc_length.value]), vbri_toc_entries=self._int("VbriTocEntries"),
            vbri_toc_entry_size=self._int("VbriTocEntrySize"),
            audio_start=start, audio_size=self._int("AudioSize"), frame_header=bytes(header))

    def as_dict(self) -> dict[str, Any]:
        """Every text property, GenreID, the four flags and ID3RevisionV2 by name."""
        out: dict[str, Any] = {name: getattr(self, name) for name in TEXT_PROPERTIES}
        out["GenreID"] = self._int("GenreID")
        for name in _FLAGS:
            out[name] = bool(self._int(name))
        out["ID3RevisionV2"] = self._int("ID3RevisionV2")
        return out

    def save(self) -> None:
        """Writes the values into the file: a new ID3v2 tag before the unchanged
        audio, and a Lyrics3 block and ID3v1 record where the values call for them.
        The file holds its old content after a failure. A file moved or deleted
        since the object was made is not created anew: TagError (errno ENOENT)."""
        self._finish(_native.pellora().pellora_tags_update(self._live()), "save")

    def strip(self) -> None:
        """Removes every tag from the file, leaving the audio byte for byte."""
        self._finish(_native.pellora().pellora_tags_strip(self._live()), "strip")

    def refresh(self) -> None:
        """Reads the file again; values set since are lost."""
        os_error = ctypes.c_int(0)
        code = _native.pellora().pellora_tags_refresh(self._live(), ctypes.byref(os_error))
        self._check_scan(code, os_error.value)

    def _finish(self, code: int, what: str) -> None:
        os_error = _native.pellora().pellora_tags_os_error(self._live()) if code != _OK else 0
        if code == _KEPT_COPY:
            _, copy = _get_text(_native.pellora().pellora_tags_kept_copy, self._live())
            raise TagError(code, f"{what} {self.path}: writing failed midway; the new content is in {copy}",
                           self.path, os_error)
        _check(code, f"{what} {self.path}", self.path, os_error)

    def __repr__(self) -> str:
        return f"Tags({self.path!r})"


def genre_name(genre_id: int) -> Optional[str]:
    """The genre table's name of a genre number, or None."""
    if genre_id not in _INT32:
        return None
    code, name = _get_text(_native.pellora().pellora_tags_genre_name, genre_id)
    return name if code == _OK else None


def genre_id(text: str) -> int:
    """The genre number of a free text (12 "Other" when nothing matches, 255 for blank)."""
    value = ctypes.c_int32()
    _check(_native.pellora().pellora_tags_genre_id(_utf8(text, "genre"), ctypes.byref(value)), "genre")
    return value.value
