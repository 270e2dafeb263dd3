#!/usr/bin/env python3
"""Turns a Qt translation file (.ts) into a C++ table of its finished translations, so that
programs without Qt translate the same texts: ts_to_table.py INPUT.ts OUTPUT.cpp

Unfinished, obsolete and vanished entries are left out (the source text is shown instead)."""
import sys
import xml.etree.ElementTree as ET


def element_text(element):
    """The text of a <source> or <translation>: lupdate writes control characters (the "\\r"
    of "\\n\\r") as <byte value="xd"/> elements."""
    if element is None:
        return None
    text = element.text or ""
    for child in element:
        if child.tag == "byte":
            value = child.get("value", "")
            text += chr(int(value[1:], 16) if value.startswith("x") else int(value))
        text += child.tail or ""
    return text


def c_literal(text):
    """A C string literal of the UTF-8 bytes; octal escapes never run into the next character."""
    out = []
    for byte in text.encode("utf-8"):
        char = chr(byte)
        if char == "\\" or char == '"':
            out.append("\\" + char)
        elif 0x20 <= byte < 0x7F and char != "?":  # "?" kept out of trigraph reach
            out.append(char)
        else:
            out.append("\\%03o" % byte)
    return '"' + "".join(out) + '"'


def entries(path):
    root = ET.parse(path).getroot()
    for context in root.findall("context"):
        name = context.findtext("name", default="")
        for message in context.findall("message"):
            if message.get("numerus") == "yes":
                continue
            source = element_text(message.find("source"))
            translation = message.find("translation")
            if source is None or translation is None:
                continue
            if translation.get("type") in ("unfinished", "obsolete", "vanished"):
                continue
            text = element_text(translation)
            if not text:
                continue
            yield name, source, text


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: ts_to_table.py INPUT.ts OUTPUT.cpp\n")
        return 2
    rows = list(entries(argv[1]))
    lines = [
        "// Generated from %s by tools/translations/ts_to_table.py: do not edit."
        % argv[1].rsplit("/", 1)[-1],
        '#include "base/translation_table.h"',
        "",
        "namespace base {",
        "",
        "const TranslationEntry kEnglishTranslations[] = {",
    ]
    for context, source, text in rows:
        lines.append("    {%s, %s, %s}," % (c_literal(context), c_literal(source), c_literal(text)))
    if not rows:
        lines.append("    {nullptr, nullptr, nullptr},")
    lines += [
        "};",
        "const size_t kEnglishTranslationCount = %d;" % len(rows),
        "",
        "}  // namespace base",
        "",
    ]
    content = "\n".join(lines)
    # Rewritten only when changed, so that an unchanged table does not rebuild the core.
    try:
        with open(argv[2], encoding="utf-8") as existing:
            if existing.read() == content:
                return 0
    except OSError:
        pass
    with open(argv[2], "w", encoding="utf-8") as output:
        output.write(content)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
