"""Configuration at start-up: the first run without settings, and -config answered through a pipe."""
import os
import tempfile
import unittest

from harness import Client, prepare, unstamped


def read(client, name):
    with open(os.path.join(client.workdir, name), encoding="latin-1") as f:
        return f.read()


class FirstRun(unittest.TestCase):
    def test_without_user_id_writes_defaults_and_goes_round_the_configuration_loop(self):
        client = Client(["-verbosity", "4"], stdin_data=b"")
        try:
            self.assertTrue(client.wait_for("- Fatal: Could not get new user ID\n", timeout=30), client.output())
            out = unstamped(client.output())
            self.assertIn("Configuring Quorvane...\n\nUser name [Anonymous]? \nTeam Number[0]? \n", out)
            self.assertEqual(read(client, "client.cfg"),
                             "[settings]\nusername=Anonymous\nteam=0\nasknet=no\n\n"
                             "[http]\nactive=no\nhost=localhost\nport=8080\n\n")
            self.assertIn("User name: Anonymous<br>", read(client, "MyQuorvane.html"))
            self.assertIsNone(client.proc.poll(), "still configuring, not ended")
        finally:
            client.close()


class ConfigOption(unittest.TestCase):
    def workdir_with_page(self, page):
        tmp = tempfile.TemporaryDirectory(prefix="qvn-bb-")
        self.addCleanup(tmp.cleanup)
        prepare(tmp.name)
        with open(os.path.join(tmp.name, "MyQuorvane.html"), "w") as f:
            f.write(page)
        return tmp.name

    def test_answers_from_a_pipe_are_stored_and_the_page_rewritten(self):
        client = Client(["-config"], workdir=self.workdir_with_page("old page"), stdin_data=b"Bea\n12\nn\nn\nn\n")
        try:
            self.assertTrue(client.wait_for("+ Benchmarking ...\n", timeout=30), client.output())
            out = unstamped(client.output())
            self.assertIn("Quorvane User Configuration\n\n", out)
            self.assertIn("Configuring Quorvane...\n\nUser name [Volunteer]? Team Number[42]? "
                          "Ask before fetching/sending work [no] (yes/no)? Use proxy [no] (yes/no)? "
                          "Change advanced options [no] (yes/no)? ", out)
            self.assertIn("- User name: Bea (Team 12)\n", out)
            self.assertEqual(read(client, "client.cfg"),
                             "[settings]\nusername=Bea\nteam=12\nasknet=no\nmachineid=1\n\n"
                             "[http]\nactive=no\nhost=localhost\nport=8080\n\n")
            self.assertIn("User name: Bea<br>\nTeam number: 12<br>", read(client, "MyQuorvane.html"))
        finally:
            client.close()

    def test_existing_status_page_is_left_alone_without_configuration(self):
        client = Client(["-queueinfo"], workdir=self.workdir_with_page("kept"), stdin_data=b"")
        try:
            status, _ = client.finish(timeout=30)
            self.assertEqual(status, 0)
            self.assertEqual(read(client, "MyQuorvane.html"), "kept")
        finally:
            client.close()


if __name__ == "__main__":
    unittest.main()
