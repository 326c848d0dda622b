"""Shared helpers of the vorn_io module's tests: descriptions of short
simulated moves and the records the library's lines become."""

import logging

import pytest

import vorn_io

# A move of 50 ticks of 10 ms on a simulated Damiao motor (which travels up
# to 5 units/s): about half a second.
SHORT_LIFTER = {"vendor": "damiao", "id": 1, "master_id": 17, "mode": 1, "dev_name": "test-lifter",
                "maxpos": 2.0, "freq": 100, "speed": 4.0}
# About 4 s: long enough to be caught moving.
LONG_LIFTER = dict(SHORT_LIFTER, speed=0.5)
GRIPPER = {"id": 1, "dev_name": "test-gripper", "baudrate": 1000000, "inverse": False}


def lifter_description(**changes):
    return dict(SHORT_LIFTER, **changes)


def wait_until(condition, timeout=10.0):
    """Polls `condition` until it holds; False when `timeout` passed first."""
    import time

    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.002)
    return condition()


class Records(logging.Handler):
    """Every record of the logger vorn_io, once the lines logged so far have
    been handed over."""

    def __init__(self):
        super().__init__(logging.DEBUG)
        self.records = []

    def emit(self, record):
        self.records.append(record)

    def taken(self):
        assert vorn_io.flush_log(5.0), "the library's lines did not reach logging"
        return list(self.records)

    def matching(self, text):
        return [record for record in self.taken() if text in record.getMessage()]


@pytest.fixture
def log_records():
    logger = logging.getLogger("vorn_io")
    handler = Records()
    old_level = logger.level
    logger.setLevel(logging.DEBUG)
    logger.addHandler(handler)
    vorn_io.flush_log(5.0)
    handler.records.clear()
    yield handler
    logger.removeHandler(handler)
    logger.setLevel(old_level)
