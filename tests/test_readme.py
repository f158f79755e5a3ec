"""The README's sessions, run as written: what it shows a newcomer must be what the modules do."""

import os
import unittest

import util


class ReadmeTest(unittest.TestCase):
    def test_sessions_run_as_shown(self):
        """Every example session of the README must print what the README says it prints."""
        done = util.run_python("""
            import doctest, orvek_engine
            orvek_engine.clear_store()
            failed, tried = doctest.testfile(%r, module_relative=False)
            print(tried > 0, failed)
            """ % os.path.join(util.HERE, os.pardir, "README.md"))
        util.assert_printed(self, done, "True 0\n")
