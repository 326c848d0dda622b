"""``python3 -m vorn_io COMMAND``: tools around the library.

    python3 -m vorn_io version     the library's version line
"""

import argparse
import sys

import vorn_io


def _version(_arguments):
    print(vorn_io.version())
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m vorn_io", description="Tools around the vorn_io library.")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    commands.add_parser("version", help="print the library's version line").set_defaults(run=_version)
    arguments = parser.parse_args(argv)
    return arguments.run(arguments)


if __name__ == "__main__":
    sys.exit(main())
