#!/usr/bin/env python3
"""The translation files and the sources each one covers, kept with Qt's lupdate.

  translations.py update LUPDATE ROOT   brings translations/*.ts up to date with the sources
  translations.py check LUPDATE ROOT    runs lupdate into a copy of each .ts and fails (exit 1)
                                        when an entry is unfinished, missing from the file, or
                                        marked obsolete although the sources use it

Texts are marked with tr() / QT_TR_NOOP / QT_TRANSLATE_NOOP in Qt code and with
QM_TRANSLATE_NOOP (base/language.h) in Qt-free code."""
import os
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

# One reading of lupdate's <byte> elements, shared with the table generator beside this script.
from ts_to_table import element_text

CORE_FOLDERS = ["platform", "base", "comm", "discovery", "params", "topology", "config", "backup",
                "diag", "pages", "plc", "report", "watch", "apps/quillmar-cli"]
EXTENSIONS = (".cpp", ".h")


def is_gui_path(relative):
    parts = relative.split(os.sep)
    return "ui" in parts or relative.startswith("apps" + os.sep + "quillmar" + os.sep)


def sources_of(root, folders, gui):
    found = []
    for folder in folders:
        for directory, subfolders, files in os.walk(os.path.join(root, folder)):
            subfolders.sort()
            for name in sorted(files):
                if not name.endswith(EXTENSIONS):
                    continue
                path = os.path.join(directory, name)
                if is_gui_path(os.path.relpath(path, root)) == gui:
                    found.append(path)
    return found


def translation_files(root):
    """(ts file, its sources): the core's texts, and the texts of the Qt screens."""
    core = sources_of(root, CORE_FOLDERS, gui=False)
    gui = sources_of(root, CORE_FOLDERS + ["ui", "apps/quillmar"], gui=True)
    files = [(os.path.join(root, "translations", "core_en.ts"), core)]
    gui_ts = os.path.join(root, "translations", "gui_en.ts")
    if os.path.exists(gui_ts):
        files.append((gui_ts, gui))
    return files


def run_lupdate(lupdate, sources, ts_file, root):
    with tempfile.NamedTemporaryFile("w", suffix=".lst", delete=False) as listing:
        listing.write("\n".join(sources) + "\n")
        listing_path = listing.name
    try:
        # The includes resolve from the root ("ui/ctab_dlg.h"), so that lupdate sees the classes'
        # namespaces: tr() in params::CMRegDlg has the context "params::CMRegDlg" at run time.
        command = [lupdate, "-silent", "-locations", "none", "-I", root,
                   "-source-language", "de_DE",
                   "-target-language", "en_GB", "-tr-function-alias",
                   "QT_TRANSLATE_NOOP+=QM_TRANSLATE_NOOP", "@" + listing_path, "-ts", ts_file]
        result = subprocess.run(command, capture_output=True, text=True)
        if result.returncode != 0:
            sys.stderr.write(result.stdout + result.stderr)
            raise SystemExit("lupdate failed on %s" % ts_file)
    finally:
        os.unlink(listing_path)


def messages(ts_file):
    """{(context, source): translation type ("" when finished)}"""
    found = {}
    for context in ET.parse(ts_file).getroot().findall("context"):
        name = context.findtext("name", default="")
        for message in context.findall("message"):
            translation = message.find("translation")
            kind = "unfinished" if translation is None else translation.get("type", "")
            if kind == "" and not element_text(translation).strip() and \
                    message.get("numerus") != "yes":
                kind = "empty"
            found[(name, element_text(message.find("source")) or "")] = kind
    return found


def check(lupdate, root):
    problems = []
    for ts_file, sources in translation_files(root):
        committed = messages(ts_file)
        with tempfile.TemporaryDirectory() as folder:
            copy = os.path.join(folder, os.path.basename(ts_file))
            shutil.copyfile(ts_file, copy)
            run_lupdate(lupdate, sources, copy, root)
            updated = messages(copy)
        short = os.path.relpath(ts_file, root)
        for (context, source), kind in sorted(updated.items()):
            if kind in ("obsolete", "vanished"):
                continue
            was = committed.get((context, source))
            if was is None:
                problems.append("%s: missing: %s / %r" % (short, context, source))
            elif was in ("obsolete", "vanished"):
                problems.append("%s: marked obsolete but used: %s / %r" % (short, context, source))
            elif kind in ("unfinished", "empty") or was in ("unfinished", "empty"):
                problems.append("%s: unfinished: %s / %r" % (short, context, source))
    for problem in problems:
        print(problem)
    if problems:
        print("%d translation problem(s); run tools/translations/translations.py update, "
              "then translate the unfinished entries" % len(problems))
        return 1
    print("translations complete")
    return 0


def main(argv):
    if len(argv) != 4 or argv[1] not in ("update", "check"):
        sys.stderr.write(__doc__)
        return 2
    lupdate, root = argv[2], os.path.abspath(argv[3])
    if argv[1] == "check":
        return check(lupdate, root)
    for ts_file, sources in translation_files(root):
        run_lupdate(lupdate, sources, ts_file, root)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
