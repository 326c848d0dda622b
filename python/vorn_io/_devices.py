"""The devices: ``Lifter``, ``ServoGripper`` and ``VirtualGripper``.

Each owns one device of the library. Calls that can wait (building, closing,
a command that waits for the lifter's lock, ``move``, the gripper's polls)
let other Python threads run meanwhile. ``close()``, leaving a ``with``
block, or deleting the object parks the device and releases its motor, as
deleting it does in C++; devices still open at exit are closed then.
"""

import pathlib
import threading
import weakref
from dataclasses import dataclass, field

from . import _description, _vorn_io
from ._errors import ClosedError
from ._trace import GripperPoll, LifterTick, Trace

# Every device still open, for closing at exit: while the interpreter still
# runs, so that their last log lines reach logging.
_open_devices = weakref.WeakSet()


@dataclass(frozen=True)
class MoveOutcome:
    """How a lifter's move ended.

    ``reached``: the move covered its travel and the lifter is in the
    commanded state. ``abandoned``: the move was given up on a failing
    motor; the lifter stopped between its states (``set_initial_status``
    declares where it is). ``held_ticks``: ticks on which the torque hold
    kept the motor where it stood (an obstacle). ``failed_calls``: motor
    calls of the move that failed, threw or gave an unusable reading.
    ``unheld_ticks``: ticks whose torque reached the limit in the direction
    the lifter does not hold in. ``ticks``, ``mean_tick_period``,
    ``greatest_lateness`` (seconds), ``late_ticks`` (late by more than a
    period), ``last_position`` and ``short_of_travel`` (the last usable
    position read and how far short of the travel's end it lies) and
    ``untraced_ticks`` (ticks the trace did not keep): the move's timing
    and end, as the library's ``MoveOutcome`` gives them.
    ``moved``: False when ``move`` found the lifter in that state already
    and nothing moved.
    """

    reached: bool = False
    abandoned: bool = False
    held_ticks: int = 0
    failed_calls: int = 0
    unheld_ticks: int = 0
    # The move's timing and end, which differ from run to run: not compared.
    ticks: int = field(default=0, compare=False)
    mean_tick_period: float = field(default=0.0, compare=False)
    greatest_lateness: float = field(default=0.0, compare=False)
    late_ticks: int = field(default=0, compare=False)
    last_position: float = field(default=0.0, compare=False)
    short_of_travel: float = field(default=0.0, compare=False)
    untraced_ticks: int = field(default=0, compare=False)
    moved: bool = True


@dataclass(frozen=True)
class ParkOutcome:
    """How a device's shutdown went (``close()``).

    ``had_motor``: there was a motor to shut down. ``finished``: the
    shutdown ran to its end; when not, ``hung_call`` names the motor call
    that had not returned (the motor library hangs). ``held``: the lifter
    held the motor where it stood. ``disable_taken``: the motor took the
    disable. ``disable_confirmed``: it then reported itself disabled.
    ``failed_calls``: calls of the shutdown that failed or threw.
    ``motor_may_be_enabled``: anything short of a confirmed disable.
    """

    had_motor: bool = False
    finished: bool = False
    held: bool = False
    disable_taken: bool = False
    disable_confirmed: bool = False
    failed_calls: int = 0
    hung_call: str = None

    @property
    def motor_may_be_enabled(self):
        return self.had_motor and not self.disable_confirmed


@dataclass(frozen=True)
class GripperMotion:
    """How a gripper's motion came to rest: after ``polls`` position
    readings, ``seconds`` after the command."""

    polls: int = 0
    seconds: float = 0.0


def _interruptible():
    # Only the main thread runs Python's signal handlers (Ctrl-C).
    return threading.current_thread() is threading.main_thread()


class _Device:
    """What every device shares: closing, the context manager, the status."""

    _device = None

    def _own(self, device):
        self._device = device
        _open_devices.add(self)

    def close(self):
        """Parks the device and releases its motor; returns when that is
        done (a lifter within a few seconds even when its motor library
        hangs), with the ``ParkOutcome`` of a lifter or a servo gripper.
        A ``move`` waiting in another thread raises ``ClosedError``; later
        calls do too. Closing again does nothing and returns None."""
        if self._device is not None:
            outcome = self._device.close()
            _open_devices.discard(self)
            return None if outcome is None else ParkOutcome(*outcome)
        return None

    @property
    def closed(self):
        """Whether ``close()`` has been called."""
        return self._device is None or self._device.closed

    def __enter__(self):
        return self

    def __exit__(self, exc_type, exc, traceback):
        # Parks the device whether or not the block raised, and lets the
        # exception through.
        self.close()
        return False

    def set_io_status(self, status):
        """Commands the device to position ``status`` (0 or 1) and returns at
        once: 0 when accepted (or nothing to do), -1 when refused, as
        ``VornIoInterface::setIoStatus``. ``move`` also waits for the end."""
        return self._device.set_io_status(status)


class Lifter(_Device):
    """An up/down lifter on one motor (``UpdownLifter``).

    Built from a description: a dict with the lifter's keys and its motor's
    side by side (``{"vendor": "damiao", "maxpos": 12.0, ...}``), YAML text,
    or a path (``pathlib.Path``); ``node`` picks the map under a key
    (``"a/b"`` for nested ones). ``Lifter.from_file(path, node=None)`` reads
    a file. A description the lifter cannot be built from raises
    ``DescriptionError``, a failing motor library ``MotorError``.

    Status 0 and 1 are its two end positions; ``status`` is -1 while a move
    is in progress. Any thread may command and poll it.
    """

    def __init__(self, description, node=None):
        root, name = _description.load(description, node)
        self._own(_vorn_io.Lifter(root, name))

    @classmethod
    def from_file(cls, path, node=None):
        """Builds the lifter from a YAML file, or from the map under ``node``
        in it."""
        return cls(pathlib.Path(path), node)

    def move(self, to, timeout=None):
        """Moves the lifter to state ``to`` (0 or 1) and waits until the move
        has ended; returns its ``MoveOutcome``.

        Raises ``RefusedError`` when the lifter refuses the command (a move
        in progress, a state other than 0 or 1, no working motor), with the
        library's reason, and ``MoveTimeoutError`` when the move has not
        ended after ``timeout`` seconds (None: no limit); the lifter then
        goes on moving. A move that ends held on its torque or abandoned on
        a failing motor is no exception: the outcome says so. Ctrl-C in the
        main thread ends the wait with ``KeyboardInterrupt``.
        """
        outcome, moved = self._device.move(to, timeout, _interruptible())
        return MoveOutcome(*outcome, moved=moved)

    @property
    def status(self):
        """The lifter's state: 0 or 1, or -1 while a move is in progress."""
        return self._device.status

    @property
    def last_move(self):
        """The ``MoveOutcome`` of the last move that ended (all False and 0
        before the first)."""
        return MoveOutcome(*self._device.last_move)

    @property
    def trace(self):
        """The ``Trace`` of the move in progress or of the last one: a
        ``LifterTick`` per tick, with the lifter's torque limit; empty before
        the first move. Taking it never waits for the motor. Draw it with
        ``vorn_io.plot_trace``, or take ``trace.to_numpy()``."""
        rows = self._device.trace
        limit = rows[-1][9] if rows else None
        dropped = self.last_move.untraced_ticks if rows and self.status != -1 else 0
        return Trace("lifter", (LifterTick(*row[:9]) for row in rows), torque_limit=limit, dropped=dropped)

    def set_initial_status(self, status):
        """Declares the state the lifter is in (it starts in 0); after an
        abandoned move this is how it is re-homed."""
        self._device.set_initial_status(status)


class ServoGripper(_Device):
    """A gripper on one Feetech bus servo (``ServoGripper``).

    Built from a description: a gripper file (parameters under the root key
    ``gripper``), a motor file with ``motor`` naming its section
    ``feetechmotor<motor>``, or a parameter map, as a dict, YAML text or a
    path; ``node`` picks the map under a key. ``ServoGripper.from_file(path,
    motor=None, node=None)`` reads a file. A description without the keys a
    gripper needs raises ``DescriptionError`` (with the reader's account)
    before any motor is created.

    Status 0 opens it, any other status closes it. It reports 1 once its
    motion has come to rest; each ``status`` is one position reading. Its
    calls are serialised, so any thread may use it.
    """

    def __init__(self, description, motor=None, node=None):
        root, name = _description.load(description, node)
        where = "root map" if node is None else f"key {node}"
        self._own(_vorn_io.ServoGripper(root, motor, name, where))
        self._last_move = None

    @classmethod
    def from_file(cls, path, motor=None, node=None):
        """Builds the gripper from a YAML file: section ``motor`` of a motor
        file, or the map under ``node``."""
        return cls(pathlib.Path(path), motor, node)

    def move(self, to, timeout=None):
        """Opens (0) or closes (1) the gripper and polls it until the motion
        has come to rest, which is never before the 401st poll; returns a
        ``GripperMotion``.

        Raises ``RefusedError`` when the servo refuses the motion, with the
        library's reason, and ``MoveTimeoutError`` when it has not come to
        rest after ``timeout`` seconds (None: no limit).
        """
        polls, seconds = self._device.move(to, timeout, _interruptible())
        self._last_move = GripperMotion(polls, seconds)
        return self._last_move

    @property
    def status(self):
        """One poll: 1 once the last motion has come to rest, else 0."""
        return self._device.status

    @property
    def last_move(self):
        """The ``GripperMotion`` of the last ``move``, or None."""
        return self._last_move

    @property
    def trace(self):
        """The ``Trace`` of the motion since the last command: a
        ``GripperPoll`` per poll."""
        return Trace("gripper", (GripperPoll(*row) for row in self._device.trace))

    def set_motion(self, target, torque):
        """Sends one motion command (a target position and torque limit) and
        restarts the settle test: 0, or -1 when the servo refused it."""
        return self._device.set_motion(target, torque)


class VirtualGripper(_Device):
    """A gripper without hardware (``VirtualGripper``): it accepts every
    command and reports nothing, for a robot whose description names a
    gripper that is not fitted."""

    def __init__(self):
        self._own(_vorn_io.VirtualGripper())

    def move(self, to, timeout=None):
        """Accepts the command; there is nothing to wait for."""
        self._device.set_io_status(to)
        return GripperMotion()

    @property
    def status(self):
        """None: a virtual gripper reports nothing."""
        if self._device.closed:
            raise ClosedError("the virtual gripper is closed")
        return None

    @property
    def last_move(self):
        """None: a virtual gripper does not move."""
        return None


def close_open_devices():
    """Closes every device still open (at exit), the last built first."""
    for device in reversed(list(_open_devices)):
        device.close()
