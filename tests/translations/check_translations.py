#!/usr/bin/env python3
# Checks each translation against the sources as they are now: every text that the program
# shows is translated, none is left over from texts that are gone, and each keeps its source's
# placeholders (in every plural form).
# Usage: check_translations.py <lupdate> <source root> <folder>... -- <.ts file>...
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

lupdate, root, *rest = sys.argv[1:]
folders, ts_files = rest[: rest.index("--")], rest[rest.index("--") + 1 :]
marks = lambda text: sorted(re.findall(r"%L?(?:\d{1,2}|n)", text or ""))
problems = [] if ts_files else ["no translation to check"]
for ts in ts_files:
    with tempfile.TemporaryDirectory() as scratch:
        # As update_translations runs it, but keeping the texts that have gone from the sources.
        current = shutil.copy(ts, scratch)
        subprocess.run([lupdate, "-silent", "-locations", "none", "-I", root, *folders, "-ts", current], check=True)
        tree = ET.parse(current)
    for message in tree.iter("message"):
        source, translation = message.findtext("source"), message.find("translation")
        texts = [form.text for form in translation.iter("numerusform")] or [translation.text]
        # A type is "unfinished", or "vanished" or "obsolete" for a text gone from the sources.
        if translation.get("type") or not all(text and text.strip() and marks(text) == marks(source) for text in texts):
            problems.append("%s: %r: %r is unfinished, gone, or has other placeholders" % (ts, source, texts))
print("\n".join("FAIL: " + problem for problem in problems), file=sys.stderr)
sys.exit(1 if problems else 0)
