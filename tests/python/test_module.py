"""The module's own pieces: the version line, Pid, and the library's log
lines in logging, also at exit."""

import logging
import os
import pathlib
import re
import subprocess
import sys

import pytest
from conftest import SHORT_LIFTER, lifter_description

import vorn_io


def test_version_is_the_library_line():
    assert re.match(r"^vorn_io version: 1\.0\.0\.[0-9a-f]{7}, compile time: ", vorn_io.version())
    run = subprocess.run([sys.executable, "-m", "vorn_io", "version"], capture_output=True, text=True, check=True)
    assert run.stdout == vorn_io.version() + "\n"


def test_pid_takes_its_limits_upper_first():
    assert vorn_io.Pid(kp=1.0, ki=0.0, kd=0.0, out_max=0.5, out_min=-0.25).calc(2.0, 0.01) == 0.5
    assert vorn_io.Pid(1.0, 0.0, 0.0, 0.5, -0.25).calc(error=-2.0, sample_time=0.01) == -0.25
    pid = vorn_io.Pid(1.0, 0.0, 0.0, 10.0, -10.0)
    assert pid.calc(2.0, 0.0) == 0.0  # rejected: a zero sample time
    pid.update_parameters(kp=3.0, ki=0.0, kd=0.0)
    assert pid.calc(2.0, 0.01) == 6.0


def test_log_lines_reach_logging_with_their_levels(log_records):
    with vorn_io.Lifter(lifter_description(freq=0)) as lifter:
        lifter.set_io_status(7)
    for text, level in [("id: 1; master_id: 17; mode: 1; strdev: test-lifter; maxpos: 2.00", logging.INFO),
                        ("Lifter cmd error: 7", logging.WARNING),
                        ("Invalid freq: 0, use 10", logging.ERROR)]:
        records = log_records.matching(text)
        assert [record.levelno for record in records] == [level], text
        record = records[0]
        assert record.name == "vorn_io" and record.getMessage() == text  # without the line's "\r\n"
        assert record.pathname.endswith(".cpp") and record.lineno > 0 and record.funcName
        assert isinstance(record.vorn_io_number, int) and record.vorn_io_dropped == 0


@pytest.mark.parametrize("level, name", [("error", "error"), (logging.WARNING, "warn"), ("off", "off")])
def test_the_library_level_is_set_by_name_or_logging_level(level, name):
    before = vorn_io.configure_logging(level=level)
    assert vorn_io.configure_logging(level=before["level"])["level"] == name


def test_configuring_an_unknown_level_raises():
    with pytest.raises(ValueError, match="no log level 'loud'"):
        vorn_io.configure_logging(level="loud")


@pytest.mark.parametrize("after_build", ["", "lifter.set_io_status(1)\n"], ids=["idle", "moving"])
def test_devices_left_open_are_parked_at_exit_with_their_lines_in_logging(after_build):
    # A failing position read makes the shutdown log its skipped hold.
    script = (
        "import logging, sys, vorn_io\n"
        "logging.basicConfig(stream=sys.stdout, level=logging.INFO, format='%(levelname)s %(message)s')\n"
        f"lifter = vorn_io.Lifter({SHORT_LIFTER!r})\n" + after_build)
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60,
                         env=dict(os.environ, VORN_MOTOR_SIM_DAMIAO_FAIL="getPosition"))
    assert run.returncode == 0, run.stderr
    assert "ERROR No usable position to hold at shutdown" in run.stdout
    assert "Traceback" not in run.stderr and "Fatal" not in run.stderr


def test_the_example_host_moves_both_devices():
    examples = pathlib.Path(__file__).resolve().parents[2] / "examples"
    run = subprocess.run([sys.executable, str(examples / "host.py"), str(examples / "lifter.yaml"),
                          str(examples / "gripper.yaml")], capture_output=True, text=True, timeout=120,
                         env=dict(os.environ, VORN_MOTOR_SIM_FEETECH_OBSTACLE="0.5"))
    assert run.returncode == 0, run.stderr
    lines = run.stdout.splitlines()
    assert lines[0] == vorn_io.version()
    assert lines[1] == "host: lifter in state 1"
    assert re.fullmatch(r"host: gripper settled after \d+ polls", lines[2])
    assert lines[3:] == ["host: devices released"]
    assert "INFO vorn_io: Allocate Motor: damiao" in run.stderr


def test_a_handler_that_flushes_the_log_does_not_wait_for_itself(log_records):
    results = []
    emit = log_records.emit
    log_records.emit = lambda record: (results.append(vorn_io.flush_log(timeout=60)), emit(record))
    try:
        vorn_io.Lifter(lifter_description()).close()
        assert log_records.matching("Allocate Motor: damiao")  # within the 5 s, not after 60
    finally:
        log_records.emit = emit
    assert results and not any(results)
