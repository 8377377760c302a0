#!/usr/bin/env python3
"""docs/fault-matrix.md held to the operation list and the tests.

Every operation a row names (in backticks in its first column) is one of QMR_SYSTEM_OPERATIONS
in platform/system.h; every test a row names (`Suite.Test`) is a test of the tree; the
operations whose rows say the run ignores their failure are exactly the ones the test that
fails every listed operation lets the run succeed despite. An operation with no row has the
common outcome, which that test, named by the page, holds it to. Prints what is wrong and exits 1.
Usage: fault_matrix_check.py REPOSITORY
"""
import os
import re
import sys

# The test that fails every listed operation (iterating Op up to Op::kCount), and its set of the
# operations whose failure the run ignores.
EVERY_FAILURE_TEST = "EngineTest.EveryInjectedFailureEndsCleanly"
IGNORED_SET = re.compile(r"std::set<Op> ignored = \{([^}]*)\}")


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


def ignored_by_every_failure_test(root):
    """The operations the test lets fail with success, or None unless it fails every listed one."""
    text = open(os.path.join(root, "tests", "unit", "engine_test.cpp"), encoding="utf-8").read()
    body = text[text.index("TEST_F(EngineTest, EveryInjectedFailureEndsCleanly)"):]
    body = body[:body.find("\nTEST")]
    found = IGNORED_SET.search(body)
    if found is None or "Op::kCount" not in body:
        return None
    return set(re.findall(r"Op::k(\w+)", found.group(1)))


def matrix_rows(page):
    rows = []
    for line in page.splitlines():
        cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
        if line.startswith("|") and len(cells) == 4 and cells[0] not in ("Operation", "---"):
            rows.append(cells)
    return rows


def problems(root):
    operations = listed_operations(root)
    sources = "\n".join(test_sources(root))
    tests = set(re.findall(r"\bTEST(?:_F|_P)?\(\s*(\w+),\s*(\w+)\)", sources))
    tests = {f"{suite}.{name}" for suite, name in tests}
    page = open(os.path.join(root, "docs", "fault-matrix.md"), encoding="utf-8").read()
    rows = matrix_rows(page)
    wrong = [] if f"`{EVERY_FAILURE_TEST}`" in page else [f"the text does not name {EVERY_FAILURE_TEST}"]
    said_ignored = set()
    for operation, _, outcome, named_tests in rows:
        for op in re.findall(r"`(\w+)`", operation):
            if op not in operations:
                wrong.append(f"row '{operation}': {op} is not in QMR_SYSTEM_OPERATIONS")
            if outcome.startswith("ignored"):
                said_ignored.add(op)
        for test in re.findall(r"`(\w+\.\w+)`", named_tests):
            if test not in tests:
                wrong.append(f"row '{operation}': no test {test}")
    ignored = ignored_by_every_failure_test(root)
    if ignored is None:
        wrong.append(f"{EVERY_FAILURE_TEST}: no loop over every operation or no set of ignored ones")
    elif ignored != said_ignored:
        wrong.append(f"rows whose outcome is 'ignored' name {sorted(said_ignored)}, but "
                     f"{EVERY_FAILURE_TEST} ignores the failures of {sorted(ignored)}")
    if not rows:
        wrong.append("no rows found")
    return wrong


def main():
    wrong = problems(sys.argv[1] if len(sys.argv) > 1 else ".")
    for line in wrong:
        print("docs/fault-matrix.md: " + line, file=sys.stderr)
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
