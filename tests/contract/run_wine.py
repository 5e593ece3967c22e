"""Runs the platform contract (WNCONTRACT, its language module beside it)
under Wine in the e2e prefix, once in code page 1252 and once in 932, each
from a clean machine and without the scratch folder of the last; fails
when a run fails or crashes."""

import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from facts import CP932_LANG  # noqa: E402
from winenv import WineEnv, crash_lines  # noqa: E402


def main():
    env = WineEnv.from_environment().start()  # which points WNCONTRACT at the x64 tree where needed
    failed = []
    clean = lambda: (env.restore_state(), shutil.rmtree(env.drive_c("wncontract"), ignore_errors=True))  # noqa: E731
    try:
        for code_page, lang in ((1252, None), (932, CP932_LANG)):
            clean()
            code, out, err = env.run_program(os.environ["WNCONTRACT"], code_page, lang=lang, timeout=300)
            print("---- code page %d: exit %s\n%s" % (code_page, code, out.decode("utf-8", "replace")), flush=True)
            if code != 0 or crash_lines(err.decode("utf-8", "replace")):
                failed.append("code page %d: exit %s\n%s" % (code_page, code, err.decode("utf-8", "replace")[-2000:]))
        clean()
    finally:
        env.stop()
    print("".join("FAIL: %s\n" % f for f in failed), end="")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
