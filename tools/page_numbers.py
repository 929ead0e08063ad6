#!/usr/bin/env python3
"""Writes web/numbers.js, the numbers that the page and the game must agree
on, from the game's sources, where each is defined once:

    tools/page_numbers.py           writes web/numbers.js
    tools/page_numbers.py --check   fails if web/numbers.js is not its output

CTest's page.numbers runs the check, as the assets are checked against
tools/make_assets.py.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
OUTPUT = ROOT / "web" / "numbers.js"
# Each name, in the file that defines it.
NUMBERS = {
    "src/rules/commands.h": ["FIELD_WIDTH", "FIELD_HEIGHT"],
    "src/replay/replayfile.h": ["MAX_REPLAY_FILE_BYTES"],
    "src/app/main.cpp": ["CUT_OFF_STATUS"],
    "src/net/link.h": ["MAX_PACKET_BYTES", "EARLY_PACKETS_KEPT", "UNSENT_LIMIT_BYTES"],
    "src/net/session.h": ["CONNECT_TIMEOUT_MS", "HANDSHAKE_REPEAT_MS"],
}


def defined(source, name):
    """The value of `constexpr TYPE NAME = N;`, N a number or a product of
    numbers (16L * 1024 * 1024)."""
    text = (ROOT / source).read_text()
    found = re.search(rf"^constexpr [\w:]+ {name} = ([\dL *]+);", text, re.MULTILINE)
    if not found:
        sys.exit(f"{source}: no 'constexpr ... {name} = <number>;'")
    value = 1
    for factor in found.group(1).split("*"):
        value *= int(factor.strip().rstrip("L"))
    return value


def page_numbers():
    lines = [
        "// The numbers that the page and the game must agree on, as the game's",
        "// sources define them. Written by tools/page_numbers.py: do not edit.",
    ]
    for header, names in NUMBERS.items():
        lines.append(f"// {header}")
        lines += [f"export const {name} = {defined(header, name)};" for name in names]
    return "\n".join(lines) + "\n"


def main():
    text = page_numbers()
    if sys.argv[1:] == ["--check"]:
        if OUTPUT.read_text() != text:
            sys.exit(f"{OUTPUT.relative_to(ROOT)} is not tools/page_numbers.py's output: run it")
        return
    OUTPUT.write_text(text)


if __name__ == "__main__":
    main()
