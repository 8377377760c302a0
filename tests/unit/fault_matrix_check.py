#!/usr/bin/env python3
"""docs/fault-matrix.md held to the operation list and the tests.

Every operation a row names (in backticks in its first column) is one of QMR_SYSTEM_OPERATIONS
in platform/system.h; every listed operation that a test fails (Op::k<name>) has a row; every
test a row names (`Suite.Test`) is a test of the tree. Prints what is wrong and exits 1.
Usage: fault_matrix_check.py REPOSITORY
"""
import os
import re
import sys


def listed_operations(root):
    text = open(os.path.join(root, "platform", "system.h"), encoding="utf-8").read()
    block = text[text.index("#define QMR_SYSTEM_OPERATIONS(X)"):]
    block = block[:block.index("\n\n")]
    return re.findall(r"X\((\w+),", block)


def test_sources(root):
    for top in ("tests", "bench"):
        for parent, _, files in os.walk(os.path.join(root, top)):
            for name in files:
                if name.endswith((".cpp", ".h")):
                    yield open(os.path.join(parent, name), encoding="utf-8", errors="replace").read()


def matrix_rows(root):
    rows = []
    for line in open(os.path.join(root, "docs", "fault-matrix.md"), encoding="utf-8"):
        cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
        if line.startswith("|") and len(cells) == 4 and cells[0] not in ("Operation", "---"):
            rows.append(cells)
    return rows


def problems(root):
    operations = listed_operations(root)
    sources = "\n".join(test_sources(root))
    tests = set(re.findall(r"\bTEST(?:_F|_P)?\(\s*(\w+),\s*(\w+)\)", sources))
    tests = {f"{suite}.{name}" for suite, name in tests}
    failed_by_tests = {op for op in operations if re.search(rf"Op::k{op}\b", sources)}
    rows = matrix_rows(root)
    wrong = []
    named = set()
    for operation, _, _, named_tests in rows:
        for op in re.findall(r"`(\w+)`", operation):
            named.add(op)
            if op not in operations:
                wrong.append(f"row '{operation}': {op} is not in QMR_SYSTEM_OPERATIONS")
        for test in re.findall(r"`(\w+\.\w+)`", named_tests):
            if test not in tests:
                wrong.append(f"row '{operation}': no test {test}")
    for op in sorted(failed_by_tests - named):
        wrong.append(f"{op}: a test fails it (Op::k{op}), but no row of the matrix names it")
    if not rows:
        wrong.append("docs/fault-matrix.md: no rows found")
    return wrong


def main():
    wrong = problems(sys.argv[1] if len(sys.argv) > 1 else ".")
    for line in wrong:
        print("docs/fault-matrix.md: " + line, file=sys.stderr)
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
