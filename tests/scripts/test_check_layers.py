#!/usr/bin/env python3
"""scripts/check-layers over small made-up source trees."""
import os
import subprocess
import sys
import tempfile
import unittest

CHECK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "check-layers")


class CheckLayers(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="tlr-layers-")
        self.root = self._tmp.name

    def tearDown(self):
        self._tmp.cleanup()

    def write(self, rel, text):
        path = os.path.join(self.root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)

    def run_check(self):
        env = dict(os.environ, HOME=self.root)
        r = subprocess.run([sys.executable, CHECK, "--root", self.root],
                           cwd=self.root, env=env, capture_output=True, text=True, timeout=60)
        return r.returncode, r.stdout + r.stderr

    def clean_tree(self):
        self.write("src/platform/Paths.h", "#pragma once\n#include <QString>\n")
        self.write("src/core/texts/Words.h", '#pragma once\n#include "platform/Paths.h"\n')
        self.write("src/core/stores/Store.h", '#pragma once\n#include "platform/Paths.h"\n#include "core/texts/Words.h"\n')
        self.write("src/core/stores/Store.cpp", '#include "core/stores/Store.h"\n#include "Store.moc"\n')
        self.write("src/core/installers/Installer.h", '#include "../stores/Store.h"\n#include "core/texts/Words.h"\n')
        self.write("src/watcher/Scanner.h", '#include "core/stores/Store.h"\n#include "../platform/Paths.h"\n')
        self.write("src/backup/Image.h", '#include "core/stores/Store.h"\n')
        self.write("src/ui/kit/Button.h", '#include <QWidget>\n#include "core/stores/Store.h"\n')
        self.write("src/ui/dashboard/View.h", '#include "ui/kit/Button.h"\n#include "watcher/Scanner.h"\n')
        self.write("src/ui/detail/Sheet.h", '#include "ui/kit/Button.h"\n#include "ui/detail/Sheet.h"\n')
        self.write("src/app/main.cpp", '#include "ui/dashboard/View.h"\n#include "ui/detail/Sheet.h"\n')

    def test_a_tree_whose_includes_point_down_passes(self):
        self.clean_tree()
        code, out = self.run_check()
        self.assertEqual(code, 0, out)
        self.assertIn("every include points down", out)

    def test_includes_up_or_sideways_are_each_listed_with_file_and_line(self):
        self.clean_tree()
        self.write("src/core/stores/Store.cpp", '#include "core/stores/Store.h"\n#include "watcher/Scanner.h"\n')
        self.write("src/core/stores/Other.cpp", '\n#include "../../backup/Image.h"\n')
        self.write("src/core/texts/Words.cpp", '#include "core/stores/Store.h"\n')
        self.write("src/core/netlog/Log.cpp", '#include "core/texts/Words.h"\n#include "../installers/Installer.h"\n')
        self.write("src/watcher/Restarter.cpp", '#include "backup/Image.h"\n')
        self.write("src/ui/detail/Sheet.cpp", '#include "ui/dashboard/View.h"\n')
        self.write("src/ui/kit/Row.cpp", '#include "ui/detail/Sheet.h"\n')
        code, out = self.run_check()
        self.assertEqual(code, 1, out)
        self.assertIn("src/core/stores/Store.cpp:2: includes \"watcher/Scanner.h\": points up", out)
        self.assertIn("src/core/stores/Other.cpp:2: includes \"../../backup/Image.h\": points up", out)
        self.assertIn("src/core/texts/Words.cpp:1: includes \"core/stores/Store.h\": points up", out)
        self.assertIn("src/core/netlog/Log.cpp:2: includes \"../installers/Installer.h\": points sideways", out)
        self.assertIn("src/watcher/Restarter.cpp:1: includes \"backup/Image.h\": points sideways", out)
        self.assertIn("src/ui/detail/Sheet.cpp:1: includes \"ui/dashboard/View.h\": points sideways", out)
        self.assertIn("src/ui/kit/Row.cpp:1: includes \"ui/detail/Sheet.h\": points up", out)
        self.assertIn("7 problem(s)", out)

    def test_a_folder_outside_the_layers_fails(self):
        self.clean_tree()
        self.write("src/extras/Thing.cpp", '#include "core/stores/Store.h"\n')
        self.write("src/core/Loose.h", '#pragma once\n')
        self.write("src/core/misc/Thing.h", '#pragma once\n')
        self.write("src/ui/widgets/Thing.cpp", '#include "ui/kit/Button.h"\n')
        code, out = self.run_check()
        self.assertEqual(code, 1, out)
        self.assertIn("src/extras/Thing.cpp: src/extras is in no layer", out)
        self.assertIn("src/ui/widgets/Thing.cpp: src/ui/widgets is neither kit nor an area", out)
        self.assertIn("src/core/Loose.h: src/core/ is no folder of core", out)
        self.assertIn("src/core/misc/Thing.h: src/core/misc is no folder of core", out)


if __name__ == "__main__":
    unittest.main(verbosity=2)
