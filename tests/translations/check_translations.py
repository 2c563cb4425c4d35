#!/usr/bin/env python3
"""Checks each translation against the sources as they are now: every text that the
program shows is translated, none is left over from texts that are gone, and every
translation keeps its source's placeholders and has the plural forms of its language.

Usage: check_translations.py <lupdate> <source root> <folder>... -- <.ts file>...
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

PLURAL_FORMS = {"de": 2}  # as Qt counts them; a new language adds its own


def placeholders(text):
    return sorted(re.findall(r"%L?(?:\d{1,2}|n)", text or ""))


def problems(ts_path, lupdate, root, folders):
    with tempfile.TemporaryDirectory() as scratch:
        current = shutil.copy(ts_path, scratch)
        # As update_translations runs it, but keeping the texts that have gone from the sources.
        subprocess.run([lupdate, "-silent", "-locations", "none", "-I", root, *folders, "-ts", current], check=True)
        tree = ET.parse(current)
    language = tree.getroot().get("language", "").split("_")[0]
    if not ts_path.endswith("_%s.ts" % language):
        yield "the file name does not end in its language %r" % language
    for context in tree.iter("context"):
        for message in context.iter("message"):
            source, translation = message.findtext("source"), message.find("translation")
            label = "%s: %r" % (context.findtext("name"), source)
            texts = [form.text for form in translation.iter("numerusform")] or [translation.text]
            if translation.get("type") in ("vanished", "obsolete"):
                yield "%s is no longer in the sources (build update_translations)" % label
            elif translation.get("type") == "unfinished" or not all(text and text.strip() for text in texts):
                yield "%s is not translated" % label
            elif message.get("numerus") == "yes" and len(texts) != PLURAL_FORMS.get(language):
                yield "%s has %d plural forms, %s has %s" % (label, len(texts), language, PLURAL_FORMS.get(language))
            for text in texts:
                if text and placeholders(text) != placeholders(source):
                    yield "%s: %r has the placeholders %s" % (label, text, placeholders(text))


def main(argv):
    split = argv.index("--")
    lupdate, root, folders, ts_files = argv[1], argv[2], argv[3:split], argv[split + 1:]
    found = ["%s: %s" % (os.path.basename(ts), p) for ts in ts_files for p in problems(ts, lupdate, root, folders)]
    for problem in found or ([] if ts_files else ["no translation to check"]):
        print("FAIL: " + problem, file=sys.stderr)
    print("%d translation(s) checked" % len(ts_files))
    return 1 if found or not ts_files else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
