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

# Plural forms per language, as Qt counts them; a new language adds its line.
PLURAL_FORMS = {"de": 2}
PLACEHOLDER = re.compile(r"%L?(?:\d{1,2}|n)")


def placeholders(text):
    return sorted(PLACEHOLDER.findall(text or ""))


def check(ts_path, lupdate, root, folders):
    problems = []
    name = os.path.basename(ts_path)
    with tempfile.TemporaryDirectory() as scratch:
        current = os.path.join(scratch, name)
        shutil.copy(ts_path, current)
        # As update_translations runs it, but keeping what has gone from the sources.
        subprocess.run([lupdate, "-silent", "-locations", "none", "-I", root, *folders, "-ts", current],
                       cwd=root, check=True)
        tree = ET.parse(current)
    language = tree.getroot().get("language", "")
    if not name.endswith("_%s.ts" % language.split("_")[0]):
        problems.append("the file name does not end in its language %r" % language)
    forms = PLURAL_FORMS.get(language.split("_")[0])
    for context in tree.iter("context"):
        where = context.findtext("name")
        for message in context.iter("message"):
            source = message.findtext("source")
            translation = message.find("translation")
            label = "%s: %r" % (where, source)
            kind = translation.get("type")
            if kind in ("vanished", "obsolete"):
                problems.append("%s is no longer in the sources (build update_translations)" % label)
                continue
            if message.get("numerus") == "yes":
                texts = [form.text for form in translation.iter("numerusform")]
                if forms is None or len(texts) != forms:
                    problems.append("%s has %d plural forms, %s wants %s" % (label, len(texts), language, forms))
            else:
                texts = [translation.text]
            if kind == "unfinished" or not all(text and text.strip() for text in texts):
                problems.append("%s is not translated" % label)
                continue
            for text in texts:
                if placeholders(text) != placeholders(source):
                    problems.append("%s: %r has the placeholders %s instead of %s"
                                    % (label, text, placeholders(text), placeholders(source)))
    return ["%s: %s" % (name, problem) for problem in problems]


def main(argv):
    split = argv.index("--")
    lupdate, root, folders, ts_files = argv[1], argv[2], argv[3:split], argv[split + 1:]
    if not ts_files:
        print("FAIL: no translation to check", file=sys.stderr)
        return 1
    problems = [problem for ts in ts_files for problem in check(ts, lupdate, root, folders)]
    for problem in problems:
        print("FAIL: " + problem, file=sys.stderr)
    if not problems:
        print("%d translation(s) complete and valid" % len(ts_files))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
