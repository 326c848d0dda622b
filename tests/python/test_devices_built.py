"""Building devices from Python descriptions: what each kind of description
gives, and the errors a description the device cannot be built from raises."""

import math
import pathlib

import pytest
from conftest import GRIPPER, SHORT_LIFTER

import vorn_io

MOTOR_FILE = """\
feetechmotor1:
  id: 1
  dev_name: test-motors
feetechmotor2:
  id: 2
  dev_name: test-motors
"""


@pytest.mark.parametrize("build, error, message", [
    (lambda: vorn_io.Lifter("vendor: damiao\nid: [1, 2\n"), vorn_io.DescriptionError,
     r"^<text>: yaml-cpp: error at line"),
    (lambda: vorn_io.Lifter(dict(SHORT_LIFTER, id="abc")), vorn_io.DescriptionError, r"^<dict>: id: "),
    (lambda: vorn_io.Lifter({"gripper": GRIPPER}), vorn_io.DescriptionError,
     r"looks like a gripper file \(a root key \"gripper\"\), not a lifter"),
    (lambda: vorn_io.Lifter({"robot": SHORT_LIFTER}, node="robot/lifter"), vorn_io.DescriptionError,
     r'no key "lifter" \(from node "robot/lifter"\)'),
    (lambda: vorn_io.Lifter(42), TypeError, r"not int"),
    (lambda: vorn_io.Lifter(dict(SHORT_LIFTER, kp=object())), TypeError, r"not object"),
    (lambda: vorn_io.Lifter.from_file("/nonexistent/lifter.yaml"), FileNotFoundError, r"lifter\.yaml"),
    (lambda: vorn_io.Lifter.from_file("/"), vorn_io.DescriptionError, r"^/: is a directory"),
    (lambda: vorn_io.ServoGripper(SHORT_LIFTER), vorn_io.DescriptionError, r"looks like a lifter description"),
    (lambda: vorn_io.ServoGripper(MOTOR_FILE), vorn_io.DescriptionError, r"sections 1, 2: choose one with motor=N"),
    (lambda: vorn_io.ServoGripper(MOTOR_FILE, motor=3), vorn_io.DescriptionError,
     r"no section feetechmotor3 \(motor sections: 1, 2\)"),
    (lambda: vorn_io.ServoGripper({"id": 1}), vorn_io.DescriptionError, r"^<dict>: dev_name: "),
], ids=["syntax", "unconvertible", "gripper file for a lifter", "missing node", "no description", "odd value",
        "missing file", "directory", "lifter for a gripper", "motor file without motor", "absent motor", "required key"])
def test_a_description_the_device_cannot_be_built_from_raises(build, error, message):
    with pytest.raises(error, match=message):
        build()


def test_a_description_error_carries_the_readers_account():
    with pytest.raises(vorn_io.DescriptionError) as raised:
        vorn_io.Lifter(dict(SHORT_LIFTER, master_id="x"))
    assert raised.value.account.has_error
    assert raised.value.account.find("master_id").origin == vorn_io.KeyOrigin.ERROR


def test_a_throwing_motor_library_raises_motor_error(monkeypatch):
    monkeypatch.setenv("VORN_MOTOR_SIM_DAMIAO_THROW", "initMotor")
    with pytest.raises(vorn_io.MotorError, match="the motor library failed"):
        vorn_io.Lifter(SHORT_LIFTER)


@pytest.mark.parametrize("description, kwargs", [
    ({"gripper": GRIPPER}, {}),
    (MOTOR_FILE, {"motor": 2}),
    (GRIPPER, {}),
    ({"robot": {"hand": GRIPPER}}, {"node": "robot/hand"}),
], ids=["gripper file", "motor file section", "parameter map", "nested node"])
def test_a_gripper_is_built_from_each_kind_of_description(description, kwargs):
    with vorn_io.ServoGripper(description, **kwargs) as gripper:
        assert gripper.status in (0, 1)
    assert gripper.closed


def test_from_file_reads_the_map_under_node(tmp_path):
    path = tmp_path / "robot.yaml"
    path.write_text("robot:\n  lifter:\n" + "".join(f"    {key}: {value}\n" for key, value in SHORT_LIFTER.items()))
    for lifter in (vorn_io.Lifter.from_file(str(path), node="robot/lifter"),
                   vorn_io.Lifter(pathlib.Path(path), node="robot/lifter")):
        with lifter:
            assert lifter.move(1, timeout=30).reached


def test_a_gripper_move_polls_until_the_motion_rests(monkeypatch):
    # Closing on an object just ahead: the motion rests at once.
    monkeypatch.setenv("VORN_MOTOR_SIM_FEETECH_OBSTACLE", "0.05")
    with vorn_io.ServoGripper(GRIPPER) as gripper:
        motion = gripper.move(1, timeout=60)
        assert motion.polls > 400  # the settle test never reports before the 401st poll
        assert gripper.last_move == motion
        trace = gripper.trace
        assert len(trace) == motion.polls and trace[-1].settled and not trace[-2].settled
        assert math.isnan(trace[18].variance) and trace[19].variance >= 0.0


def test_a_gripper_move_that_has_not_settled_in_time_raises():
    with vorn_io.ServoGripper(GRIPPER) as gripper:
        with pytest.raises(vorn_io.MoveTimeoutError, match="the gripper has not settled"):
            gripper.move(1, timeout=0.05)


def test_a_refused_gripper_motion_raises_with_the_library_reason(monkeypatch):
    # The start-up motion behaves, the next one fails.
    monkeypatch.setenv("VORN_MOTOR_SIM_FEETECH_FAIL", "setGripperStatus@1")
    with vorn_io.ServoGripper(GRIPPER) as gripper:
        with pytest.raises(vorn_io.RefusedError,
                           match=r"^the gripper refused the motion to 1: The gripper motor refused the motion to 10"):
            gripper.move(1, timeout=60)


def test_a_virtual_gripper_accepts_everything_and_reports_nothing():
    with vorn_io.VirtualGripper() as gripper:
        assert gripper.set_io_status(7) == 0
        assert gripper.move(1) == vorn_io.GripperMotion(polls=0, seconds=0.0)
        assert gripper.status is None
    with pytest.raises(vorn_io.ClosedError):
        gripper.status
