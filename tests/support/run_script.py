"""Runs a Python script for a Windows test under Wine, which can neither
hand a host program pipes nor see it end: the script's exit code goes to
RESULT (written whole, by a rename) once it ends.
Usage: run_script.py RESULT SCRIPT ARGS..."""
import os
import subprocess
import sys

code = subprocess.call([sys.executable] + sys.argv[2:])
with open(sys.argv[1] + ".part", "w", encoding="ascii") as f:
    f.write(str(code))
os.replace(sys.argv[1] + ".part", sys.argv[1])
