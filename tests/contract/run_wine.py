"""The platform contract (WNCONTRACT) in the e2e prefix, once per ANSI code page,
each from a clean machine and its scratch folder removed before and after."""

import os
import unittest

import winenv
from facts import CP932_LANG
from machine import remove_path

env = None
setUpModule, tearDownModule = winenv.module_fixtures(globals())


class ContractTest(winenv.TestCase):
    def check(self, code_page, lang=None):
        remove_path(env.drive_c("wncontract"))
        code, out, err = env.run_program(os.environ["WNCONTRACT"], code_page, lang=lang, timeout=300)
        remove_path(env.drive_c("wncontract"))
        print(out.decode("utf-8", "replace"), flush=True)
        err = err.decode("utf-8", "replace")
        self.assertEqual((code, winenv.crash_lines(err)), (0, []), err[-2000:])

    def test_code_page_1252(self):
        self.check(1252)

    def test_code_page_932(self):
        self.check(932, CP932_LANG)


if __name__ == "__main__":
    unittest.main()
