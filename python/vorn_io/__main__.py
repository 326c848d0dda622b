"""``python3 -m vorn_io COMMAND``: tools around the library.

    python3 -m vorn_io version                     the library's version line
    python3 -m vorn_io plot TRACE.csv [-o move.png]
                                                   a picture of a traced move
"""

import argparse
import os
import sys

import vorn_io


def _version(_arguments):
    print(vorn_io.version())
    return 0


def _plot(arguments):
    from ._plot import plot_trace

    output = arguments.output or os.path.splitext(arguments.trace)[0] + ".png"
    try:
        plot_trace(arguments.trace, output)
    except ImportError:
        print("python3 -m vorn_io plot: needs matplotlib (Debian: apt-get install python3-matplotlib)",
              file=sys.stderr)
        return 1
    except (OSError, ValueError) as error:
        print(f"python3 -m vorn_io plot: {error}", file=sys.stderr)
        return 1
    print(f"{output}: the trace of {arguments.trace}")
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m vorn_io", description="Tools around the vorn_io library.")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    commands.add_parser("version", help="print the library's version line").set_defaults(run=_version)
    plot = commands.add_parser("plot", help="draw a trace file (vorn-io ... --trace FILE) as a picture")
    plot.add_argument("trace", help="the trace file (CSV)")
    plot.add_argument("-o", "--output", help="the picture (.png, .svg, .pdf); default: the trace's name with .png")
    plot.set_defaults(run=_plot)
    arguments = parser.parse_args(argv)
    return arguments.run(arguments)


if __name__ == "__main__":
    sys.exit(main())
