#!/usr/bin/env python3
"""A robot program's use of vorn_io from Python, in miniature: it builds its
devices from YAML files, moves each to state 1 with a time-out, and leaves
their ``with`` block, which parks their motors. The counterpart of host.cpp.

    python3 host.py LIFTER.yaml GRIPPER.yaml
    vorn-io sim -- python3 host.py LIFTER.yaml GRIPPER.yaml   # on the simulated motors

Exit codes as host.cpp's: 2 for devices that cannot be built, 1 for a
refused command, 3 for a time-out.
"""

import logging
import sys

import vorn_io


def main(argv):
    if len(argv) != 3:
        print(f"usage: {argv[0]} LIFTER.yaml GRIPPER.yaml", file=sys.stderr)
        return 2
    # The library's lines come through logging, under the logger "vorn_io".
    logging.basicConfig(level=logging.INFO, format="%(levelname)s %(name)s: %(message)s")
    print(vorn_io.version())

    try:
        with vorn_io.Lifter.from_file(argv[1]) as lifter, vorn_io.ServoGripper.from_file(argv[2]) as gripper:
            # Waits for the end of the move; other threads run meanwhile.
            outcome = lifter.move(1, timeout=30)
            print(f"host: lifter in state {lifter.status}" + (" (held on its torque)" if outcome.held_ticks else ""))
            motion = gripper.move(1, timeout=90)
            print(f"host: gripper settled after {motion.polls} polls")
    except (vorn_io.DescriptionError, vorn_io.MotorError, OSError) as error:
        print(f"cannot build the devices: {error}", file=sys.stderr)
        return 2
    except vorn_io.RefusedError as error:
        print(f"host: {error}", file=sys.stderr)
        return 1
    except vorn_io.MoveTimeoutError as error:
        print(f"host: {error}", file=sys.stderr)
        return 3
    # Leaving the block parked and disabled both motors.
    print("host: devices released")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
