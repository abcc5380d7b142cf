# SPDX-License-Identifier: MIT
"""The Python package over the installed C API: tags read, written and stripped
on real files with mutagen as the independent reader, errors as exceptions, a
recording from `pellora station`, and downloads from a loopback HTTP server."""
import asyncio
import errno
import functools
import http.server
import os
import struct
import subprocess
import threading

import mutagen.id3
import mutagen.mp3
import pytest

import pellora

PELLORA_CLI = os.environ["PELLORA_CLI"]

# Every text property with a value beyond Latin-1 (digits where the tag holds a
# number), and the frame mutagen reads it from in an ID3v2.3 tag.
VALUES = {
    "Comments": ("COMM::eng", "Καλημέρα"), "Album": ("TALB", "Ålbüm 日本"), "BeatsPerMinute": ("TBPM", "120"),
    "Composer": ("TCOM", "Чайковский"), "Genre": ("TCON", "Κλασική"), "Copyright": ("TCOP", "© Łódź"),
    "EncodedBy": ("TENC", "エンコーダ"), "Lyricist": ("TEXT", "Пушкин"), "Title": ("TIT2", "Ωμέγα 🎵"),
    "InitialKey": ("TKEY", "C♯m"), "Languages": ("TLAN", "ελλ"), "OriginalAlbum": ("TOAL", "Ωριγινάλ"),
    "OriginalFileName": ("TOFN", "файл.mp3"), "OriginalLyricist": ("TOLY", "Šimon"),
    "OriginalArtist": ("TOPE", "Ωρφέας"), "OriginalReleaseYear": ("TORY", "1999"), "FileOwner": ("TOWN", "Øwner ☃"),
    "Artist": ("TPE1", "Björk Guðmundsdóttir ✓"), "Band": ("TPE2", "Βand"), "Conductor": ("TPE3", "Çonductor ∞"),
    "InterpretedBy": ("TPE4", "Ремикс"), "Publisher": ("TPUB", "出版社"), "InternetRadioStationName": ("TRSN", "Ράδιο"),
    "InternetRadioStationOwner": ("TRSO", "Ωwner"), "ISRC": ("TSRC", "ΧΧ0000000001"), "Year": ("TYER", "2024"),
    "Lyrics": ("USLT::eng", "Γραμμή ένα\nγραμμή δύο"), "CopyrightInfo": ("WCOP", "http://ex/©"),
    "AudioURL": ("WOAF", "http://ex/ω"), "AudioSourceURL": ("WOAS", "http://ex/ш"),
    "InternetRadioURL": ("WORS", "http://ex/радио"), "PaymentURL": ("WPAY", "http://ex/€"),
    "PublisherURL": ("WPUB", "http://ex/出"),
}
NUMBERS = {"DiscNumber": "1", "DiscsTotal": "2", "TrackNumber": "3", "TracksTotal": "12"}


@pytest.fixture()
def song(tmp_path):
    """One second of MPEG-1 Layer III at 64 kbit/s without tags, and its bytes."""
    path = tmp_path / "song.mp3"
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=duration=1", "-c:a", "libmp3lame",
                    "-b:a", "64k", "-id3v2_version", "0", "-write_id3v1", "0", "-write_xing", "0", str(path)],
                   check=True)
    return path, path.read_bytes()


def stored(name, value):
    """What the file holds of `value`: an address is ASCII, so its characters
    beyond ASCII are percent-encoded as UTF-8."""
    if not VALUES[name][0].startswith("W"):
        return value
    return "".join(c if ord(c) < 128 else "".join("%{:02X}".format(b) for b in c.encode()) for c in value)


def mutagen_text(tags, key):
    frame = tags[key]
    return frame.url if key.startswith("W") else str(frame)


def test_every_text_property_round_trips_and_mutagen_reads_it(song):
    path, audio = song
    tags = pellora.Tags(path)
    for name, (_, value) in VALUES.items():
        setattr(tags, name, value)
    for name, value in NUMBERS.items():
        setattr(tags, name, value)
    tags.save()

    again = pellora.Tags(path).as_dict()
    assert {name: again[name] for name in VALUES} == {name: stored(name, v) for name, (_, v) in VALUES.items()}
    assert {name: again[name] for name in NUMBERS} == NUMBERS
    read = mutagen.id3.ID3(path, translate=False)
    assert read.version == (2, 3, 0)
    for name, (key, value) in VALUES.items():
        assert mutagen_text(read, key) == stored(name, value), name
    assert str(read["TPOS"]) == "1/2" and str(read["TRCK"]) == "3/12"
    assert path.read_bytes()[len(path.read_bytes()) - 128 - len(audio):-128] == audio


def test_reads_what_mutagen_writes_and_the_audio_it_finds(song):
    path, _ = song
    tag = mutagen.id3.ID3()
    tag.add(mutagen.id3.TIT2(encoding=3, text="Ünïcödé ✓"))
    tag.add(mutagen.id3.TRCK(encoding=3, text="7/9"))
    tag.save(path, v2_version=4)
    info = mutagen.mp3.MP3(path).info
    tags = pellora.Tags(path)
    assert (tags.Title, tags.TrackNumber, tags.TracksTotal, tags.ID3RevisionV2) == ("Ünïcödé ✓", "7", "9", 4)
    mpeg = tags.mpeg
    assert (mpeg.found, mpeg.layer, mpeg.version) == (True, 1, 2)  # Layer III, MPEG-1
    assert (mpeg.bit_rate, mpeg.sampling_rate) == (info.bitrate, info.sample_rate)
    assert mpeg.length == pytest.approx(info.length, abs=0.06)


def test_vbr_header_values_are_those_in_the_file(tmp_path):
    path = tmp_path / "vbr.mp3"
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=duration=2", "-c:a", "libmp3lame",
                    "-q:a", "4", "-id3v2_version", "0", "-write_id3v1", "0", str(path)], check=True)
    data = path.read_bytes()
    at = data.find(b"Xing") + 4  # flags, frames, bytes, then the 100-byte seek table
    flags, frames, size = struct.unpack(">III", data[at:at + 12])
    assert flags & 7 == 7
    mpeg = pellora.Tags(path).mpeg
    assert (mpeg.is_vbr, mpeg.vbr_frames, mpeg.vbr_bytes) == (True, frames, size)
    assert mpeg.vbr_toc == data[at + 12:at + 112]
    assert (mpeg.vbri_toc_entries, mpeg.vbri_toc_entry_size) == (0, 0)


def test_strip_leaves_the_audio_byte_for_byte(song):
    path, audio = song
    tags = pellora.Tags(path)
    tags.Title = "x" * 40  # long enough for a Lyrics3 block too
    tags.save()
    tags.refresh()
    assert tags.Lyrics3v2Exists and tags.ID3v2Exists
    tags.strip()
    assert path.read_bytes() == audio
    assert not tags.ID3v2Exists and tags.Title == ""


def test_errors_are_exceptions_with_the_reason(tmp_path, song, monkeypatch):
    with pytest.raises(pellora.TagError, match="No such file") as missing:
        pellora.Tags(tmp_path / "missing.mp3")
    assert missing.value.errno == errno.ENOENT
    with pytest.raises(pellora.TagError, match="Is a directory"):
        pellora.Tags(tmp_path)
    os.mkfifo(tmp_path / "fifo")
    with pytest.raises(pellora.TagError, match="fifo: not a regular file$") as fifo:
        pellora.Tags(tmp_path / "fifo")
    assert fifo.value.errno is None
    path, audio = song
    tags = pellora.Tags(path)
    with pytest.raises(TypeError):
        tags.Title = 5
    with pytest.raises(ValueError, match="NUL"):
        tags.Title = "a\0b"
    with pytest.raises(ValueError, match="NUL"):
        pellora.genre_id("Rock\0junk")
    with pytest.raises(ValueError, match="null byte"):  # not the file named before the NUL
        pellora.Tags(f"{path}\0junk")
    for beyond in (1 << 40, 1 << 70, (1 << 64) + 17, -(1 << 64)):  # ctypes would wrap the last three
        with pytest.raises(pellora.TagError, match="out of range"):
            tags.GenreID = beyond
    assert tags.GenreID == 255 and tags.Title == "" and pellora.genre_name((1 << 32) + 17) is None
    with pytest.raises(AttributeError):
        tags.Layer = 1
    with pytest.raises(AttributeError):  # save() would still write the file it was made for
        tags.path = str(tmp_path / "other.mp3")

    # A second link sends the rewrite through the temporary folder, which is missing.
    os.link(path, tmp_path / "link.mp3")
    monkeypatch.setenv("TEMP", str(tmp_path / "missing"))
    tags.Title = "x"
    with pytest.raises(pellora.TagError, match="old content: No such file") as unchanged:
        tags.save()
    assert unchanged.value.errno == errno.ENOENT and path.read_bytes() == audio
    monkeypatch.delenv("TEMP")

    path.rename(tmp_path / "moved.mp3")  # no file holding the tags alone is made in its place
    with pytest.raises(pellora.TagError, match="no longer there") as gone:
        tags.save()
    assert gone.value.errno == errno.ENOENT and not path.exists()
    path.mkdir()  # the path became a folder: nothing can be written
    with pytest.raises(pellora.TagError, match="not a regular file") as folder:
        tags.save()
    assert folder.value.errno is None and folder.value.code < 0
    path.rmdir()
    os.mkfifo(path)  # read again, it says what opening it said
    with pytest.raises(pellora.TagError, match="song.mp3: not a regular file$") as fifo:
        tags.refresh()
    assert fifo.value.errno is None


def start_station(*args):
    station = subprocess.Popen([PELLORA_CLI, "station", "--port", "0", *args], stdout=subprocess.PIPE, text=True)
    line = station.stdout.readline()
    return station, line.split(" on ")[1].split(" ")[0]


def test_recording_from_the_demo_station_is_tagged(tmp_path):
    station, url = start_station("--title-seconds", "1", "--title", "First Ω", "--title", "Second")
    try:
        titles = []
        recorder = pellora.Recorder(url, tmp_path / "rec.mp3", tag=True, on_title=titles.append, seconds=3)
        pellora.run()
    finally:
        station.terminate()
        station.wait()
    assert recorder.error is None and titles[:2] == ["First Ω", "Second"]
    tags = pellora.Tags(tmp_path / "rec.mp3")
    assert tags.Title == "First Ω" and tags.ID3v2Exists
    mpeg = tags.mpeg  # the audio follows the tag at once: AudioStart is 5 after its end
    assert mpeg.bit_rate == 128000 and (tmp_path / "rec.mp3").stat().st_size - (mpeg.audio_start - 5) == \
        recorder.written_bytes > 0
    assert mutagen.mp3.MP3(tmp_path / "rec.mp3").info.bitrate == 128000


@pytest.fixture()
def http_server(tmp_path):
    (tmp_path / "site").mkdir()
    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass
    handler = functools.partial(Quiet, directory=str(tmp_path / "site"))
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    yield tmp_path / "site", f"http://127.0.0.1:{server.server_address[1]}"
    server.shutdown()


def test_downloads_blocking_and_under_asyncio(tmp_path, http_server):
    site, base = http_server
    payload = os.urandom(300_000)
    (site / "data.bin").write_bytes(payload)
    with pytest.raises(OSError, match="gopher://x/: Unsupported protocol"):  # no event would ever end it
        pellora.download("gopher://x/", tmp_path / "never.bin")
    seen = []
    done = pellora.download(base + "/data.bin", tmp_path / "a.bin", progress=lambda n, total: seen.append(total))
    pellora.run()
    assert done.result() == len(payload) and (tmp_path / "a.bin").read_bytes() == payload
    assert seen and set(seen) == {len(payload)}

    async def both():
        ok = pellora.download(base + "/data.bin", tmp_path / "b.bin")
        missing = pellora.download(base + "/absent", tmp_path / "c.bin")
        await asyncio.gather(pellora.run_async(), asyncio.sleep(0.01))
        return ok, missing

    ok, missing = asyncio.run(both())
    assert ok.result() == len(payload) and (tmp_path / "b.bin").read_bytes() == payload
    with pytest.raises(OSError, match="failed: the server answered HTTP status 404"):
        missing.result()
    assert not (tmp_path / "c.bin").exists()
