"""The exceptions of vorn_io. Each carries the library's message."""


class Error(Exception):
    """Base of every error vorn_io raises."""


class DescriptionError(Error, ValueError):
    """A description a device cannot be built from: YAML that does not parse,
    a value yaml-cpp cannot convert, a gripper description without its
    required keys, a description of the other kind of device, a missing
    section. ``account`` is the reader's account of the description, key by
    key, when there is one (else None)."""

    account = None


class MotorError(Error, RuntimeError):
    """The motor library failed while the device was being built."""


class RefusedError(Error):
    """The device refused a command; the message says why, in the library's
    words (``Lifter is busy, cmd rejected...``, ``Lifter cmd error: 7``)."""


class MoveTimeoutError(Error, TimeoutError):
    """A move had not ended when its time-out was up. The device goes on
    moving; close it (or leave its ``with`` block) to park it."""


class ClosedError(Error, ValueError):
    """The device was used after ``close()``, or closed while a call waited
    on it."""
