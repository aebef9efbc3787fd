"""How a test server talks to its test.

Usually by pipes: lines to stdout, and it serves until stdin closes. A
Windows test under Wine cannot hand a host program pipes, so there the test
names a folder as the server's second argument: the lines go to FOLDER/out
and the server serves while FOLDER/alive exists (and an hour at most, should
the test never come back to remove it).
"""
import os
import sys
import time


class Channel:
    def __init__(self, argv):
        self.folder = argv[2] if len(argv) > 2 else None

    def say(self, line):
        if self.folder is None:
            print(line, flush=True)
            return
        with open(os.path.join(self.folder, "out"), "a", encoding="utf-8") as f:
            f.write(line + "\n")

    def wait(self):
        if self.folder is None:
            sys.stdin.read()
            return
        end = time.monotonic() + 3600
        while os.path.exists(os.path.join(self.folder, "alive")) and time.monotonic() < end:
            time.sleep(0.1)
