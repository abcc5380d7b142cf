# SPDX-License-Identifier: MIT
"""Running the libraries' event loops: blocking, for a time, or inside asyncio.

Recordings and downloads make progress only while a loop runs. Each library has
its own loop on the calling thread; these functions drive whichever are in use.
"""
from __future__ import annotations

import asyncio
import time
from typing import Protocol

from . import _native

_SLICE_MS = 20


class _Activity(Protocol):
    @property
    def active(self) -> bool: ...


_activities: "list[_Activity]" = []


def _register(activity: _Activity) -> None:
    _activities.append(activity)


def _busy() -> bool:
    _activities[:] = [a for a in _activities if a.active]
    return bool(_activities)


def _poll(wait_ms: int) -> None:
    """Runs ready handlers of every loaded library, waiting up to `wait_ms` in one."""
    downloads = _native.is_loaded("downloaders")
    if _native.is_loaded("pellora"):
        lib = _native.pellora()
        lib.pellora_loop_run_for(wait_ms // 2 if downloads else wait_ms) if wait_ms else lib.pellora_loop_poll()
    if downloads:
        lib = _native.downloaders()
        lib.downloaders_loop_run_for(wait_ms // 2) if wait_ms else lib.downloaders_loop_poll()


def run() -> None:
    """Runs until every recording and download started here has ended."""
    while _busy():
        _poll(_SLICE_MS)


def run_for(seconds: float) -> None:
    """Runs for `seconds`, or less when nothing is left to do."""
    deadline = time.monotonic() + seconds
    while _busy():
        left = deadline - time.monotonic()
        if left <= 0:
            return
        _poll(max(1, min(_SLICE_MS, int(left * 1000))))


async def run_async(interval: float = 0.005) -> None:
    """Like run(), but yields to the asyncio loop between short polls, so that
    recordings and downloads go on beside other tasks:

        await asyncio.gather(pellora.run_async(), other_work())
    """
    while _busy():
        _poll(0)
        await asyncio.sleep(interval)
