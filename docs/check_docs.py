#!/usr/bin/env python3
"""Runs Doxygen over the public headers and fails on any warning, e.g. a
public class or member without a comment, or a comment Doxygen cannot read.

usage: check_docs.py DOXYGEN DOXYFILE
"""
import subprocess
import sys


def main():
    doxygen, doxyfile = sys.argv[1], sys.argv[2]
    run = subprocess.run([doxygen, doxyfile], capture_output=True, text=True)
    warnings = sorted({line for line in (run.stdout + run.stderr).splitlines()
                       if ': warning: ' in line or ': error: ' in line})
    for w in warnings:
        print(w)
    print(f'{len(warnings)} documentation warnings')
    if run.returncode != 0 and not warnings:
        print(run.stdout + run.stderr)
    return 1 if warnings or run.returncode != 0 else 0


if __name__ == '__main__':
    sys.exit(main())
