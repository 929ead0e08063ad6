#!/usr/bin/env python3
"""manual_lists_messages.py ROOT: the manual page's DIAGNOSTICS list the lines
the game prints (literals passed to puts, printf, fprintf and the online
screen's say in src/**/*.cpp;
%s, %d, ... match any text, as the manual's italic placeholders do), and
only those: an entry matches a message, or, for lines put together from
pieces (a replay file's problem), its words between placeholders and colons
are among the source's literals. Not messages: placeholders alone (the words
come from elsewhere), several lines (--help, which OPTIONS describes), and
the web build's lines (web/: the browser's console, not the installed game).
"""

import glob
import re
import sys

LITERAL = r'"(?:[^"\\]|\\.)*"'
CONVERSION = re.compile(r"%[-+ #0]*\d*(?:\.\d+)?[hlzjt]*[diouxXfeEgGcsp]")


def unescape(literal):
    return literal[1:-1].encode().decode("unicode_escape")


def source(root):
    """The messages, and every literal (adjacent ones joined, as C does)."""
    code = "".join(open(p).read() for p in glob.glob(root + "/src/**/*.cpp", recursive=True))
    calls = re.findall(r"\b(?:puts\(|printf\(|say\(|fprintf\(\s*\w+,)((?:%s|[^,)\"])*)" % LITERAL, code)
    groups = [re.findall(r"(?:%s\s*)+" % LITERAL, argument) for argument in calls]
    formats = ["".join(map(unescape, re.findall(LITERAL, g))) for gs in groups for g in gs]
    literals = [unescape(text) for text in re.findall(LITERAL, code)] + formats
    lines = [text[:-1] if text.endswith("\n") else text for text in formats]
    return [text for text in lines
            if "\n" not in text and re.search("[A-Za-z]", CONVERSION.sub("", text))], literals


def entries(root):
    """Each entry as (its text, its words outside placeholders)."""
    with open(root + "/dist/korrin-tavrel.6") as f:
        lines = f.read().split("\n.SH DIAGNOSTICS\n")[1].split("\n.SH ")[0].split("\n")
    for tag, line in zip(lines, lines[1:]):
        if tag in (".TP", ".TQ"):
            fonts, _, arguments = line[1:].replace("\\-", "-").partition(" ")
            words = [q or w for q, w in re.findall(r'"([^"]*)"|(\S+)', arguments)]
            if len(fonts) == 1:
                words = [" ".join(words)]
            parts = [(word, fonts[i % len(fonts)] == "I") for i, word in enumerate(words)]
            yield "".join(word for word, _ in parts), [
                run.strip(" .,:;()-") for word, italic in parts if not italic
                for run in word.split(": ")]


def main(root):
    messages, literals = source(root)
    listed = list(entries(root))
    pattern = lambda message: ".+".join(map(re.escape, CONVERSION.split(message)))
    problems = ["not in the manual page: " + message for message in messages
                if not any(re.fullmatch(pattern(message), text) for text, _ in listed)]
    problems += ["not printed by the game: " + text for text, runs in listed
                 if not any(re.fullmatch(pattern(message), text) for message in messages)
                 and not all(any(run in literal for literal in literals) for run in runs)]
    print("\n".join(problems) or "%d messages, %d entries agree" % (len(messages), len(listed)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
