"""Trace files read back, and drawn: what a technician opens after a move."""

import math
import subprocess
import sys

import pytest

import vorn_io

LIFTER_CSV = """time_s,lateness_s,set_position,position,torque,torque_limit,sent_position,held,unheld,failed_calls
0.01,2e-05,-0.04,-0.0399,0.5,3.5,-0.04,0,0,
0.02,1.5e-05,-0.08,-0.06,3.6,3.5,-0.06,1,0,
0.03,3e-05,-0.12,,,3.5,,0,0,getTorque+getPosition
"""
GRIPPER_CSV = "time_s,position,variance,settled\n0.001,9.5,,0\n0.002,9.9,1e-06,0\n0.003,10,0,1\n"


@pytest.fixture
def lifter_file(tmp_path):
    path = tmp_path / "move.csv"
    path.write_text(LIFTER_CSV)
    return path


def test_a_lifter_trace_file_reads_back(lifter_file):
    trace = vorn_io.read_trace(lifter_file)
    assert (trace.kind, trace.torque_limit, len(trace)) == ("lifter", 3.5, 3)
    assert trace[1] == vorn_io.LifterTick(0.02, 1.5e-05, -0.08, -0.06, 3.6, -0.06, True, False, ())
    assert math.isnan(trace[2].position) and math.isnan(trace[2].sent)
    assert trace[2].failed_calls == ("getTorque", "getPosition")
    array = trace.to_numpy()
    assert list(array["held"]) == [False, True, False]
    assert list(array["failed_calls"]) == ["", "", "getTorque+getPosition"]


def test_a_file_that_is_no_trace_is_refused(tmp_path):
    path = tmp_path / "other.csv"
    path.write_text("a,b\n1,2\n")
    with pytest.raises(ValueError, match="not a trace"):
        vorn_io.read_trace(path)
    path.write_text(GRIPPER_CSV + "x,1,2,0\n")
    with pytest.raises(ValueError, match="other.csv:5"):
        vorn_io.read_trace(path)


def test_the_plot_marks_the_limit_and_the_held_ticks(lifter_file, tmp_path):
    pytest.importorskip("matplotlib")
    figure = vorn_io.plot_trace(lifter_file)
    upper, lower = figure.axes
    labels = {line.get_label(): line for line in upper.lines + lower.lines}
    assert list(labels["held"].get_xdata()) == [0.02]
    assert list(labels["torque limit 3.5"].get_ydata()) == [3.5, 3.5]
    assert "a motor call failed" in labels
    gripper = tmp_path / "motion.csv"
    gripper.write_text(GRIPPER_CSV)
    picture = tmp_path / "motion.png"
    done = subprocess.run([sys.executable, "-m", "vorn_io", "plot", str(gripper), "-o", str(picture)],
                          capture_output=True, text=True, check=False)
    assert done.returncode == 0, done.stderr
    assert picture.read_bytes().startswith(b"\x89PNG")
