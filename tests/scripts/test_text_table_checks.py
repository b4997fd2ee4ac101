#!/usr/bin/env python3
"""The checks of the text table's rows (core/texts/LocRows.h): sound rows
compile, and each kind of faulty row stops the build with its reason.

Usage: test_text_table_checks.py <c++ compiler> <include dirs, ;-separated>
"""
import os
import subprocess
import sys
import tempfile
import unittest

COMPILER = sys.argv[1] if len(sys.argv) > 1 else "c++"
INCLUDES = [d for d in (sys.argv[2] if len(sys.argv) > 2 else "").split(";") if d]
SRC = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src")

PRELUDE = '#include "core/texts/LocRows.h"\nnamespace tlr {\n'


def compile_rows(rows):
    """Compiles the rows as the table's checks; returns (exit status, diagnostics)."""
    with tempfile.TemporaryDirectory(prefix="tlr-rows-") as tmp:
        path = os.path.join(tmp, "rows.cpp")
        with open(path, "w", encoding="utf-8") as f:
            f.write(PRELUDE + rows + "\n}  // namespace tlr\n")
        flags = ["-std=c++20", "-fsyntax-only", "-fPIC", "-I" + SRC] + ["-isystem" + d for d in INCLUDES]
        r = subprocess.run([COMPILER] + flags + [path], capture_output=True, text=True, timeout=300,
                           env=dict(os.environ, HOME=tmp, LC_ALL="C"))
        return r.returncode, r.stdout + r.stderr


class TextTableChecks(unittest.TestCase):
    def test_sound_rows_compile(self):
        status, out = compile_rows(r'''
TLR_LOC_CHECK_TEXT(plainRow, (), u"Restart", u"重启")
TLR_LOC_CHECK_TEXT(valuedRow, (QString name, LocInt32 pid, LocSeconds took), u"{1} {2} {3}", u"{3}{2}{1}")
TLR_LOC_CHECK_COUNTED(countedRow, (QString name, LocInt count), 2, u"{1}: {2} file", u"{1}: {2} files",
                      u"{1}：{2} 个文件")
TLR_LOC_CHECK_CHOOSE(chosenRow, (LocInt agents, LocInt places), FirstTwoCounts,
                     (u"{1} a {2} p", u"{1} a {2} ps", u"{1} as {2} p", u"{1} as {2} ps"), (u"{1} 个 {2} 处"))
TLR_LOC_CHECK_CHOOSE(eitherRow, (QString resource, LocInt value), FirstIsCpu,
                     (u"{1}: {2}%", u"{1}: {2} MB"), (u"{1}：{2}%", u"{1}：{2} MB"))
TLR_LOC_CHECK_TEXT(empty, (), u"", u"")
''')
        self.assertEqual(status, 0, out)

    def test_each_faulty_row_stops_the_build_with_its_reason(self):
        faults = {
            'TLR_LOC_CHECK_TEXT(noChinese, (), u"Restart", u"")':
                "text table, noChinese: a text in English and in Chinese",
            'TLR_LOC_CHECK_TEXT(oneLanguage, (), u"Restart")':
                "requires 4 arguments",
            'TLR_LOC_CHECK_TEXT(placeTooFar, (QString name), u"{1} {2}", u"{1}")':
                "text table, placeTooFar: its texts name only the values it carries",
            'TLR_LOC_CHECK_TEXT(strayBrace, (QString name), u"{1} }", u"{1}")':
                "text table, strayBrace: its texts name only the values it carries",
            'TLR_LOC_CHECK_TEXT(valueNotInChinese, (QString name, LocInt count), u"{1} {2}", u"{1}")':
                "text table, valueNotInChinese: every value appears in its English and in its Chinese text",
            'TLR_LOC_CHECK_COUNTED(countsAText, (QString name), 1, u"{1}", u"{1}s", u"{1}")':
                "text table, countsAText: the value that counts is a whole number",
            'TLR_LOC_CHECK_CHOOSE(tooFewForms, (LocInt a, LocInt b), FirstTwoCounts, (u"{1}{2}", u"{1}{2}"), (u"{1}{2}"))':
                "text table, tooFewForms: one form, or one for each case of its rule",
            'TLR_LOC_CHECK_TEXT(plainInt, (int count), u"{1}", u"{1}")':
                "a text's values are each a QString, LocInt, LocInt32 or LocSeconds",
            'TLR_LOC_CHECK_TEXT(fourValues, (LocInt a, LocInt b, LocInt c, LocInt d), u"{1}{2}{3}", u"{1}{2}{3}")':
                "a text carries at most three values",
        }
        status, out = compile_rows("\n".join(faults))
        self.assertNotEqual(status, 0, out)
        for row, reason in faults.items():
            with self.subTest(row=row):
                self.assertIn(reason, out)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
