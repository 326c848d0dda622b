"""A picture of a move: a lifter trace's set position, position and torque
over time, with the torque limit and the held ticks marked, or a gripper
trace's position and settle variance. Needs matplotlib (Debian's
python3-matplotlib), for plotting only."""

import math
import os

from ._trace import Trace, read_trace


def plot_trace(trace, output=None, torque_limit=None, title=None):
    """Draws ``trace`` (a ``Trace``, a device's ``trace``, or the path of a
    trace file) and returns the matplotlib figure; with ``output``, also
    writes it there (the format from the file's extension: .png, .svg,
    .pdf) and closes it. ``torque_limit`` overrides the trace's own."""
    import matplotlib

    if output is not None:
        matplotlib.use("Agg")  # a file, with or without a display
    from matplotlib import pyplot

    if isinstance(trace, (str, os.PathLike)):
        title = title or os.path.basename(os.fspath(trace))
        trace = read_trace(trace)
    if not isinstance(trace, Trace) or trace.kind not in ("lifter", "gripper"):
        raise TypeError("plot_trace takes a Trace (a device's trace, or read_trace's) or a trace file's path")
    if not trace:
        raise ValueError("the trace has no samples: nothing to draw")
    figure, (upper, lower) = pyplot.subplots(2, 1, sharex=True, figsize=(9, 6), constrained_layout=True)
    columns = trace.columns()
    seconds = columns["seconds"]
    if trace.kind == "lifter":
        _draw_lifter(upper, lower, seconds, columns, trace.torque_limit if torque_limit is None else torque_limit)
    else:
        _draw_gripper(upper, lower, seconds, columns)
    lower.set_xlabel("time since the command (s)")
    for axes in (upper, lower):
        axes.grid(True, alpha=0.3)
        axes.legend(loc="best", fontsize="small")
    dropped = f", first {trace.dropped} samples not kept" if trace.dropped else ""
    figure.suptitle(f"{title or trace.kind + ' trace'} ({len(trace)} samples{dropped})")
    if output is not None:
        figure.savefig(output, dpi=100)
        pyplot.close(figure)
    return figure


def _at(seconds, values, mask):
    return [t for t, keep in zip(seconds, mask) if keep], [v for v, keep in zip(values, mask) if keep]


def _draw_lifter(upper, lower, seconds, columns, torque_limit):
    upper.plot(seconds, columns["set_position"], label="set position", color="tab:blue", linestyle="--")
    upper.plot(seconds, columns["position"], label="position read", color="tab:green")
    upper.plot(*_at(seconds, columns["position"], columns["held"]), "o", color="tab:red", markersize=3,
               label="held (the torque hold kept the motor)")
    upper.set_ylabel("position (motor units)")
    lower.plot(seconds, columns["torque"], label="torque", color="tab:purple")
    if torque_limit is not None and math.isfinite(torque_limit):
        lower.axhline(torque_limit, color="tab:red", linestyle=":", label=f"torque limit {torque_limit:g}")
    lower.plot(*_at(seconds, columns["torque"], columns["held"]), "o", color="tab:red", markersize=3, label="held")
    if any(columns["unheld"]):
        lower.plot(*_at(seconds, columns["torque"], columns["unheld"]), "x", color="tab:orange",
                   label="past the limit, not held")
    failed = [bool(names) for names in columns["failed_calls"]]
    if any(failed):
        lower.plot(*_at(seconds, [0.0] * len(seconds), failed), "|", color="black", markersize=12,
                   label="a motor call failed")
    lower.set_ylabel("torque (motor units)")


def _draw_gripper(upper, lower, seconds, columns):
    upper.plot(seconds, columns["position"], label="position read", color="tab:green")
    upper.set_ylabel("position")
    lower.plot(seconds, columns["variance"], label="settle window's variance", color="tab:purple")
    if any(value > 0 for value in columns["variance"] if math.isfinite(value)):
        lower.set_yscale("log")
    lower.set_ylabel("variance")
    settled = [t for t, done in zip(seconds, columns["settled"]) if done]
    if settled:
        for axes in (upper, lower):
            axes.axvline(settled[0], color="tab:red", linestyle=":", label=f"settled at {settled[0]:.3f} s")
