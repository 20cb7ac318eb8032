"""A build cannot trust a key anyone can sign with by accident: configuring with a key whose private half is
in the repository fails unless QVN_ALLOW_TEST_KEY is on, and a file that is no public key record fails too."""
import os
import pathlib
import subprocess
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
TEST_KEY = ROOT / "tests" / "runtime" / "fixtures" / "test_key.pub"


def configure(*options):
    with tempfile.TemporaryDirectory(prefix="qvn-keyguard-") as build:
        return subprocess.run(["cmake", "-S", str(ROOT), "-B", build, "-G", "Ninja"] + list(options),
                              capture_output=True, text=True, timeout=300)


class KeyGuard(unittest.TestCase):
    def test_the_repositorys_test_key_needs_the_explicit_option(self):
        result = configure("-DQVN_CORE_KEY_FILE=%s" % TEST_KEY)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("QVN_CORE_KEY_FILE is a test key", result.stderr)

    def test_a_copy_of_a_test_key_under_another_name_is_still_a_test_key(self):
        # the same modulus (so the repository's private half signs for it) with another name in its header,
        # in a file of another name elsewhere
        record = bytearray(TEST_KEY.read_bytes())
        record[32:48] = b"quorvane\0\0\0\0\0\0\0\0"
        with tempfile.TemporaryDirectory(prefix="qvn-keycopy-") as elsewhere:
            copy = pathlib.Path(elsewhere) / "release_public.key"
            copy.write_bytes(bytes(record))
            result = configure("-DQVN_CORE_KEY_FILE=%s" % copy)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("QVN_CORE_KEY_FILE is a test key", result.stderr)
        self.assertIn("test_key.private.json", result.stderr)

    def test_a_file_that_is_no_public_key_record_is_refused(self):
        with tempfile.NamedTemporaryFile(suffix=".key") as bogus:
            bogus.write(b"\x00\x0a" + bytes(174))  # a private key's type, the right size
            bogus.flush()
            result = configure("-DQVN_CORE_KEY_FILE=%s" % bogus.name)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("not a 1024-bit public key record", result.stderr)


if __name__ == "__main__":
    unittest.main()
