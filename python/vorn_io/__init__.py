"""vorn_io from Python: the lifter, the servo gripper and the virtual
gripper, the description readers, ``Pid``, the version line, and the
library's log lines in ``logging`` (logger ``vorn_io``).

    import vorn_io

    with vorn_io.Lifter.from_file("lifter.yaml") as lifter:
        outcome = lifter.move(1, timeout=30)   # waits; other threads run meanwhile
        print(outcome.reached, outcome.held_ticks)
    # leaving the block parks the lifter and releases its motor

Programs run on the motor-driver library the loader finds; on a desk,
``vorn-io sim -- python3 script.py`` runs them on the simulated motors.
"""

import atexit

from . import _devices, _logging
from ._description import (
    read_gripper_file,
    read_gripper_parameters,
    read_lifter_description,
    read_motor_description,
    read_motor_file,
    tell_description_kind,
)
from ._devices import GripperMotion, Lifter, MoveOutcome, ParkOutcome, ServoGripper, VirtualGripper
from ._errors import ClosedError, DescriptionError, Error, MotorError, MoveTimeoutError, RefusedError
from ._logging import configure_logging, flush_log
from ._plot import plot_trace
from ._trace import GripperPoll, LifterTick, Trace, read_trace
from ._vorn_io import (
    DescriptionAccount,
    DescriptionKind,
    GripperFileReading,
    GripperReading,
    GripperSection,
    GripperSettings,
    KeyAccount,
    KeyOrigin,
    KindEvidence,
    LifterReading,
    LifterSettings,
    MotorReading,
    MotorSettings,
    MotorVendor,
    Pid,
    TextPosition,
    version,
)

__all__ = [
    "ClosedError", "DescriptionAccount", "DescriptionError", "DescriptionKind", "Error", "GripperFileReading",
    "GripperMotion", "GripperPoll", "GripperReading", "GripperSection", "GripperSettings", "KeyAccount", "KeyOrigin",
    "KindEvidence", "Lifter", "LifterReading", "LifterSettings", "LifterTick", "MotorError", "MotorReading",
    "MotorSettings", "MotorVendor", "MoveOutcome", "MoveTimeoutError", "ParkOutcome", "Pid", "RefusedError",
    "ServoGripper", "TextPosition", "Trace", "VirtualGripper", "configure_logging", "flush_log", "plot_trace",
    "read_gripper_file", "read_gripper_parameters", "read_lifter_description", "read_motor_description",
    "read_motor_file", "read_trace", "tell_description_kind", "version",
]

_logging.start()


@atexit.register
def _at_exit():
    # Devices first, while their last lines can still reach logging.
    _devices.close_open_devices()
    _logging.stop()
