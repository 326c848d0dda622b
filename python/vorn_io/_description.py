"""Descriptions from Python: a dict, YAML text or a file, and the readers."""

import os
from collections.abc import Mapping

from . import _vorn_io


def load(description, node=None):
    """The YAML node of ``description`` and a name for messages about it.

    ``description`` is a mapping (the map a host builds in code), a ``str``
    of YAML text, or a path (``os.PathLike``, such as ``pathlib.Path``) of a
    YAML file. ``node`` picks the map under a key, ``"a/b"`` for nested keys.
    """
    if isinstance(description, os.PathLike):
        name = os.fspath(description)
        root = _vorn_io.Node.from_file(name)
    elif isinstance(description, str):
        name = "<text>"
        root = _vorn_io.Node.from_text(description, name)
    elif isinstance(description, Mapping):
        name = "<dict>"
        root = _vorn_io.Node.from_object(description)
    else:
        raise TypeError(
            "a description is a dict, YAML text (str) or a path (os.PathLike), "
            f"not {type(description).__name__}; for a file name use from_file()")
    if node is not None:
        root = root.select(node, name)
    return root, name


def read_lifter_description(description, node=None):
    """Reads a lifter description as ``Lifter`` does, without building it:
    a ``LifterReading`` with the settings the lifter runs with and an
    account of every key. Never raises for a bad description: ``error`` and
    the account say what is wrong."""
    return _vorn_io.read_lifter_description(load(description, node)[0])


def read_motor_description(description, node=None):
    """Reads the motor keys of a lifter description: a ``MotorReading``."""
    return _vorn_io.read_motor_description(load(description, node)[0])


def read_gripper_parameters(description, node=None):
    """Reads a gripper parameter map: a ``GripperReading``."""
    return _vorn_io.read_gripper_parameters(load(description, node)[0])


def read_gripper_file(description, node=None):
    """Reads a gripper file (parameters under the root key ``gripper``): a
    ``GripperFileReading``."""
    return _vorn_io.read_gripper_file(load(description, node)[0])


def read_motor_file(description, node=None):
    """Reads a motor file (a parameter map under each ``feetechmotor<N>``):
    a ``GripperFileReading`` with one section per motor."""
    return _vorn_io.read_motor_file(load(description, node)[0])


def tell_description_kind(description, node=None):
    """What a description describes, told from its keys: a ``KindEvidence``
    (``kind`` and the ``evidence`` in words), or None when the keys do not
    tell."""
    return _vorn_io.tell_description_kind(load(description, node)[0])
