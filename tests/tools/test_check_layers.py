"""The layer check passes on this tree and fails on any include that looks up."""
import pathlib
import subprocess
import sys
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
CHECK = ROOT / "tools" / "check_layers.py"


def run_check(root):
    return subprocess.run([sys.executable, str(CHECK), str(root)], capture_output=True, text=True, timeout=60)


class LayerCheck(unittest.TestCase):
    def test_this_tree_only_looks_down(self):
        result = run_check(ROOT)
        self.assertEqual(result.returncode, 0, result.stdout)

    def test_an_upward_include_fails_and_a_downward_one_passes(self):
        cases = [  # (file, include, fails)
            ("state/queue.cpp", "client/log.h", True),
            ("runtime/file.cpp", "base/log.h", True),
            ("net/packets.cpp", "cores/core.h", True),
            ("tests/state/queue_test.cpp", "net/packets.h", True),
            ("client/cycle.cpp", "state/queue.h", False),
            ("tests/net/http_test.cpp", "support/temp_dir.h", False),
            ("tools/stand_in.cpp", "client/cycle.h", False),
        ]
        for path, include, fails in cases:
            with self.subTest(path=path, include=include), tempfile.TemporaryDirectory() as tmp:
                target = pathlib.Path(tmp) / path
                target.parent.mkdir(parents=True)
                target.write_text(f'#include <cstdio>\n  #include "{include}"\n')
                result = run_check(tmp)
                self.assertEqual(result.returncode, 1 if fails else 0, result.stdout)
                if fails:
                    self.assertIn(path, result.stdout)


if __name__ == "__main__":
    unittest.main()
