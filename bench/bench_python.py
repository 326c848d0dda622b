"""The Python module's figures, printed as FIGURE lines for scripts/bench:

- one poll of a lifter from Python (``lifter.status``), against the same poll
  in C++ (``UpdownLifter::getIoStatus``, measured by bench_devices and given
  with --cpp-poll-ns); the loop's own cost is measured apart and taken off;
- how fast a second Python thread runs while ``Lifter.move`` waits, against
  the same thread while the main thread sleeps: ``move`` lets go of the
  interpreter's lock, so the two should match.

Each is the median of several rounds. Run on the simulated motors:
    PYTHONPATH=<build>/python python3 bench/bench_python.py --cpp-poll-ns 2.5
"""

import argparse
import statistics
import threading
import time

import vorn_io

POLLS = 200_000
ROUNDS = 10
LIFTER = {"vendor": "damiao", "dev_name": "bench-python", "maxpos": 2.0, "freq": 100, "speed": 4.0}


def number(value):
    size = abs(value)
    return f"{value:.0f}" if size >= 100 or size == 0 else f"{value:.1f}" if size >= 10 else f"{value:.2f}"


def figure(what, value, unit, baseline, goal, met):
    ratio = number(value / baseline) if baseline else "-"
    base = f"{number(baseline)} {unit}" if baseline else "-"
    print(f"FIGURE|{what}|{number(value)} {unit}|{base}|{ratio}|{goal}|{'met' if met else 'MISSED'}", flush=True)


def poll_ns(lifter):
    """Nanoseconds per `lifter.status`, the loop's own cost taken off."""
    start = time.perf_counter_ns()
    for _ in range(POLLS):
        lifter.status
    polls = time.perf_counter_ns() - start
    start = time.perf_counter_ns()
    for _ in range(POLLS):
        pass
    loop = time.perf_counter_ns() - start
    return (polls - loop) / POLLS


def spin_rate(wait):
    """Loops per second of a second thread while this one runs `wait()`."""
    stop = threading.Event()
    count = [0]

    def spin():
        while not stop.is_set():
            count[0] += 1

    thread = threading.Thread(target=spin)
    thread.start()
    start = time.perf_counter()
    wait()
    seconds = time.perf_counter() - start
    stop.set()
    thread.join()
    return count[0] / seconds, seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cpp-poll-ns", type=float, default=None,
                        help="UpdownLifter::getIoStatus, one poll in C++, in ns (bench_devices)")
    arguments = parser.parse_args()

    with vorn_io.Lifter(LIFTER) as lifter:
        polls = [poll_ns(lifter) for _ in range(ROUNDS)]
        python_ns = statistics.median(polls)
        print(f"lifter.status from Python, ns per poll: {', '.join(number(p) for p in polls)}")
        figure("lifter.status from Python, one poll (C++ getIoStatus = baseline)", python_ns, "ns",
               arguments.cpp_poll_ns, "< 1000 ns", python_ns < 1000)

        moving, idle = [], []
        for round_ in range(5):
            rate, seconds = spin_rate(lambda: lifter.move(1 - round_ % 2, timeout=30))
            moving.append(rate)
            idle.append(spin_rate(lambda: time.sleep(seconds))[0])
        print(f"second thread, loops/s while move waits: {', '.join(f'{r:.0f}' for r in moving)}; "
              f"while the main thread sleeps: {', '.join(f'{r:.0f}' for r in idle)}")
        during, baseline = statistics.median(moving), statistics.median(idle)
        figure("second Python thread while move waits (main thread asleep = baseline)", during / 1e6, "M loops/s",
               baseline / 1e6, "ratio >= 0.8", during / baseline >= 0.8)


if __name__ == "__main__":
    main()
