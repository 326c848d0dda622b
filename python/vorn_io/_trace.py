"""Traces: the samples a lifter records on each tick of a move and a servo
gripper on each poll of a motion, as Python records, read from a device or
from the CSV file ``vorn-io ... --trace FILE`` writes."""

import csv
import math
from dataclasses import dataclass, fields


@dataclass(frozen=True)
class LifterTick:
    """One tick of a lifter's move. Positions and torques are in the motor's
    units; a reading that failed or was unusable is NaN, and so is ``sent``
    on a tick that sent no position.

    ``seconds``: since the move was accepted. ``lateness``: seconds the tick
    started after its scheduled time. ``set_position``: the ramp's set
    position after the tick's step. ``held``: the torque hold kept the motor
    where it stood. ``unheld``: the torque was at or past the limit in the
    direction the lifter does not hold. ``failed_calls``: the names of the
    motor calls that failed on this tick.
    """

    seconds: float
    lateness: float
    set_position: float
    position: float
    torque: float
    sent: float
    held: bool
    unheld: bool
    failed_calls: tuple = ()


@dataclass(frozen=True)
class GripperPoll:
    """One poll of a gripper's motion: ``seconds`` since its command, the
    ``position`` read (NaN when unusable), the settle window's ``variance``
    (NaN until it holds 20 readings) and whether the motion had ``settled``."""

    seconds: float
    position: float
    variance: float
    settled: bool


class Trace(list):
    """The samples of one move or motion, oldest first: ``LifterTick`` or
    ``GripperPoll`` records.

    ``kind`` is ``"lifter"`` or ``"gripper"``; ``torque_limit`` the lifter's
    (None for a gripper, or where unknown); ``dropped`` the samples of a
    long move that were not kept (the first ones). ``to_numpy()`` gives a
    structured array where NumPy is installed.
    """

    def __init__(self, kind, samples=(), torque_limit=None, dropped=0):
        super().__init__(samples)
        self.kind = kind
        self.torque_limit = torque_limit
        self.dropped = dropped

    def columns(self):
        """Each field's values in a list of its own, by field name."""
        record = LifterTick if self.kind == "lifter" else GripperPoll
        return {field.name: [getattr(sample, field.name) for sample in self] for field in fields(record)}

    def to_numpy(self):
        """The samples as a NumPy structured array, one field per record
        field (``failed_calls`` joined by ``+``). Needs NumPy."""
        import numpy

        columns = self.columns()
        if "failed_calls" in columns:
            columns["failed_calls"] = ["+".join(names) for names in columns["failed_calls"]]

        def dtype(name, values):
            if name == "failed_calls":
                return (name, "U" + str(max([len(value) for value in values] + [1])))
            return (name, bool if name in ("held", "unheld", "settled") else float)

        array = numpy.empty(len(self), dtype=[dtype(name, values) for name, values in columns.items()])
        for name, values in columns.items():
            array[name] = values
        return array


# The files' columns, by record field; the limit is a column of its own.
_LIFTER_COLUMNS = {"seconds": "time_s", "lateness": "lateness_s", "set_position": "set_position",
                   "position": "position", "torque": "torque", "sent": "sent_position", "held": "held",
                   "unheld": "unheld", "failed_calls": "failed_calls"}
_GRIPPER_COLUMNS = {"seconds": "time_s", "position": "position", "variance": "variance", "settled": "settled"}


def _number(cell):
    return math.nan if cell == "" else float(cell)


def read_trace(path):
    """Reads a trace file the tool wrote (``--trace FILE``) into a ``Trace``.
    Raises ``ValueError`` for a file that is not such a trace."""
    with open(path, newline="", encoding="utf-8") as file:
        rows = csv.DictReader(file)
        header = set(rows.fieldnames or ())
        if set(_LIFTER_COLUMNS.values()) <= header:
            kind, columns, record = "lifter", _LIFTER_COLUMNS, LifterTick
        elif set(_GRIPPER_COLUMNS.values()) <= header:
            kind, columns, record = "gripper", _GRIPPER_COLUMNS, GripperPoll
        else:
            raise ValueError(f"{path}: not a trace of vorn-io (header {', '.join(rows.fieldnames or ())})")
        trace = Trace(kind)
        for line, row in enumerate(rows, start=2):
            try:
                values = {}
                for name, column in columns.items():
                    cell = row[column]
                    if name in ("held", "unheld", "settled"):
                        values[name] = cell == "1"
                    elif name == "failed_calls":
                        values[name] = tuple(cell.split("+")) if cell else ()
                    else:
                        values[name] = _number(cell)
                if kind == "lifter" and trace.torque_limit is None and row.get("torque_limit"):
                    trace.torque_limit = float(row["torque_limit"])
            except (TypeError, ValueError) as error:
                raise ValueError(f"{path}:{line}: {error}") from None
            trace.append(record(**values))
    return trace
