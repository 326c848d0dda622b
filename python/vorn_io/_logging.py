"""The library's log lines in Python's ``logging``, under the logger
``vorn_io``.

A listener of the library's logger takes every line and a thread of this
module hands it to ``logging``; a lifter's tick or a log call never waits
for the interpreter. Each record carries the library's source location
(``pathname``, ``lineno``, ``funcName``) and, as ``vorn_io_number``, the
line's sequence number; the line that reports lines lost to a full buffer
has their count in ``vorn_io_dropped``.
"""

import logging
import os

from . import _vorn_io

logger = logging.getLogger("vorn_io")

# spdlog's levels, by number: trace, debug, info, warn, err, critical.
_TO_LOGGING = {
    0: logging.DEBUG,
    1: logging.DEBUG,
    2: logging.INFO,
    3: logging.WARNING,
    4: logging.ERROR,
    5: logging.CRITICAL,
}
_LEVEL_NAMES = {"trace": 0, "debug": 1, "info": 2, "warn": 3, "warning": 3, "error": 4, "critical": 5, "off": 6}
_FROM_LOGGING = ((logging.CRITICAL, 5), (logging.ERROR, 4), (logging.WARNING, 3), (logging.INFO, 2),
                 (logging.DEBUG, 1))

_bridge = None


def _emit(level, message, file, line, function, number, dropped):
    python_level = _TO_LOGGING.get(level, logging.ERROR)
    if not logger.isEnabledFor(python_level):
        return
    record = logger.makeRecord(logger.name, python_level, file, line, message, None, None, func=function,
                               extra={"vorn_io_number": number, "vorn_io_dropped": dropped})
    logger.handle(record)


def _spdlog_level(level):
    if isinstance(level, str):
        try:
            return _LEVEL_NAMES[level.lower()]
        except KeyError:
            raise ValueError(f"no log level {level!r}; one of {', '.join(_LEVEL_NAMES)}") from None
    for threshold, spdlog_level in _FROM_LOGGING:
        if level >= threshold:
            return spdlog_level
    return 0


def configure_logging(console=None, journal=None, level=None):
    """Changes the library's own outputs and level; None leaves a setting as
    it is. Returns the settings before, as a dict.

    Importing vorn_io turns the numbered console lines off, since the lines
    come through ``logging`` (unless ``SPDLOG_STDOUT=true`` is in the
    environment); ``console=True`` brings them back. ``journal``
    sends each line to the systemd journal. ``level`` ("trace", "debug",
    "info", "warning", "error", "critical", "off", or a ``logging`` level) is
    the library's: lines below it are not made at all, so no handler sees
    them, whatever the ``vorn_io`` logger's own level.
    """
    before = _vorn_io.configure_logger(console, journal, None if level is None else _spdlog_level(level))
    names = {number: name for name, number in _LEVEL_NAMES.items() if name != "warning"}
    return {"console": before[0], "journal": before[1], "level": names.get(before[2], before[2])}


def flush_log(timeout=1.0):
    """Waits until every line the library logged before the call has reached
    ``logging``; False if that took longer than ``timeout`` seconds, or at
    once when called from a handler of those lines."""
    return _bridge.flush(timeout) if _bridge is not None else True


def start():
    """Turns the console off, since the lines come through ``logging``
    (unless the environment asks for it: ``SPDLOG_STDOUT=true``), and starts
    the thread that hands the lines over."""
    global _bridge
    if _bridge is None:
        asked = os.environ.get("SPDLOG_STDOUT") == "true"
        _vorn_io.configure_logger(console=None if asked else False)
        _bridge = _vorn_io.LogBridge(_emit)


def stop():
    """Hands over what is waiting and ends the thread (at exit)."""
    global _bridge
    if _bridge is not None:
        _bridge.stop()
        _bridge = None
