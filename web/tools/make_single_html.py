#!/usr/bin/env python3
"""Makes the self-contained player page: one HTML file with the style, the module
(wasm inside), the speech worker, the page's scripts and a message, that plays when
opened straight from disk.

usage: make_single_html.py SITE_DIR OUT.html [MESSAGE_FILE...]
       make_single_html.py --recorder SITE_DIR OUT.html

With --recorder it makes the recorder page instead, with its worker inside.
Without message files the page carries the built-in message. The message's files
and the logo sit between the markers MESSAGE_BEGIN and MESSAGE_END, two statements
(the files, then the logo), so that clipnote-decode html can put another message
and its logo in a copy of the page.
"""
import base64
import os
import re
import sys

MESSAGE_BEGIN = "/*clipnote-message-begin*/"
MESSAGE_END = "/*clipnote-message-end*/"
IMPORT = re.compile(r'^import\s+\{[^}]*\}\s+from\s+"\./([\w.]+)";\s*$', re.M)


def script_safe(text):
    """Text that cannot end or confuse the <script> element it is put in."""
    return re.sub(r"</(script)", r"<\\/\1", text, flags=re.I).replace("<!--", "<\\!--")


def module_order(site, entry):
    """The page's modules, each after the ones it imports."""
    order, seen = [], set()

    def visit(name):
        if name in seen:
            return
        seen.add(name)
        with open(os.path.join(site, name), encoding="utf-8") as f:
            text = f.read()
        for dependency in IMPORT.findall(text):
            visit(dependency)
        order.append((name, text))

    visit(entry)
    return order


def safe_name(name):
    return re.sub(r"[^A-Za-z0-9._-]", "_", os.path.basename(name)) or "message"


def message_statement(files):
    """The built-in files statement for (name, bytes) pairs."""
    entries = ", ".join(f'{{ name: "{safe_name(name)}", base64: "{base64.b64encode(data).decode()}" }}'
                        for name, data in files)
    return f"const builtInFiles = [{entries}];"


def bundle(site, files=None, entry="main.js"):
    parts = []
    for name, text in module_order(site, entry):
        text = IMPORT.sub("", text)
        text = re.sub(r"^export\s+", "", text, flags=re.M)
        if name == "default_message.js":
            statement = re.search(r"^const builtInFiles = \[.*?\];$", text, re.M | re.S)
            logo = re.compile(r'^const logoBase64 = "[^"]*";$', re.M).match(text, statement.end() + 1)
            if not logo:
                raise SystemExit("make_single_html: default_message.js has no logo after its files")
            replacement = message_statement(files) if files else statement.group(0)
            text = (text[:statement.start()] + MESSAGE_BEGIN + replacement + "\n" + logo.group(0) + MESSAGE_END +
                    text[logo.end():])
        parts.append(f"// --- {name}\n{text}")
    return "\n".join(parts)


STYLESHEET = re.compile(r'<link rel="stylesheet" href="([\w.]+)">')
# The page, its module script and the workers it starts (their script, element id).
PLAYER = ("index.html", "main.js", [("speech_worker.js", "clipnote-worker-source")])
RECORDER = ("recorder.html", "recorder.js", [("speech_worker.js", "clipnote-worker-source"),
                                             ("recorder_worker.js", "clipnote-recorder-worker-source")])


def single_page(site, files=None, kind=PLAYER):
    def read(name):
        with open(os.path.join(site, name), encoding="utf-8") as f:
            return f.read()

    html, entry, workers = kind
    page = read(html)
    page = STYLESHEET.sub(lambda m: f"<style>\n{read(m.group(1))}</style>", page)
    page = page.replace('<script src="clipnote_wasm.js"></script>\n', "")
    scripts = f'<script type="text/plain" id="clipnote-module-source">{script_safe(read("clipnote_wasm.js"))}</script>\n'
    for worker, element in workers:
        scripts += f'<script type="text/plain" id="{element}">{script_safe(read(worker))}</script>\n'
    scripts += f'<script type="module">\n{script_safe(bundle(site, files, entry))}\n</script>'
    marker = f'<script type="module" src="{entry}"></script>'
    if marker not in page:
        raise SystemExit(f"make_single_html: the page has no {entry} script")
    return page.replace(marker, scripts)


def main(argv):
    if len(argv) == 4 and argv[1] == "--recorder":
        with open(argv[3], "w", encoding="utf-8") as f:
            f.write(single_page(argv[2], kind=RECORDER))
        return 0
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    files = []
    for path in argv[3:]:
        with open(path, "rb") as f:
            files.append((os.path.basename(path), f.read()))
    text = single_page(argv[1], files or None)
    with open(argv[2], "w", encoding="utf-8") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
