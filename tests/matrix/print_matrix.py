#!/usr/bin/env python3
"""Prints the matrix: display x scenario, from the GoogleTest JSON files that
the matrix suites wrote (one a display), as a Markdown table whose cells are
✔, ✗ or n/a, each ✗ and n/a with its reason below the table.

    print_matrix.py RESULTS_DIR...

Each RESULTS_DIR holds the JSON files and "displays.txt", the displays
expected there (one "file.json Column" a line): a display whose file is
missing fails every cell. Exits 1 when any cell failed, else 0.
"""
import json
import sys
from pathlib import Path


def read_expected(folder):
    listing = folder / "displays.txt"
    if not listing.exists():
        return [], f"{listing} is missing: the matrix was not configured there"
    rows = []
    for line in listing.read_text().splitlines():
        if line.strip():
            file, column = line.split(maxsplit=1)
            rows.append((column, folder / file))
    return rows, None


def cells_of(path):
    """{scenario: (mark, reason)} of one display's JSON, in the table's order."""
    data = json.loads(path.read_text())
    cells = {}
    for suite in data.get("testsuites", []):
        for test in suite.get("testsuite", []):
            scenario = test["name"].split("/", 1)[-1]
            if test.get("result") == "SKIPPED":
                reason = test.get("not_applicable")
                if reason:
                    cells[scenario] = ("n/a", reason)
                else:
                    # A skip that is not a fixed fact of the display is a fault.
                    cells[scenario] = ("✗", "skipped without a stated reason")
            elif test.get("failures"):
                first = test["failures"][0]["failure"].strip().splitlines()
                where = first[0].rsplit("/", 1)[-1] if first else ""
                detail = " ".join(line.strip() for line in first[1:] if line.strip() != "Failed")
                if len(detail) > 240:
                    detail = detail[:240] + "…"
                cells[scenario] = ("✗", f"{detail} ({where})".strip())
            elif test.get("status") != "RUN":
                cells[scenario] = ("✗", "did not run")
            else:
                cells[scenario] = ("✔", "")
    return cells


def main(folders):
    columns, results, problems = [], {}, []
    for folder in map(Path, folders):
        expected, problem = read_expected(folder)
        if problem:
            problems.append(problem)
        for column, path in expected:
            columns.append(column)
            if path.exists():
                results[column] = cells_of(path)
            else:
                results[column] = None
                problems.append(f"{column}: no results ({path.name} was not written)")
    scenarios = []
    for cells in results.values():
        for scenario in cells or {}:
            if scenario not in scenarios:
                scenarios.append(scenario)

    notes, failed = [], bool(problems)
    def note(text):
        if text not in notes:
            notes.append(text)
        return notes.index(text) + 1

    print("| scenario | " + " | ".join(columns) + " |")
    print("|---|" + "---|" * len(columns))
    counts = {"✔": 0, "✗": 0, "n/a": 0}
    for scenario in scenarios:
        row = []
        for column in columns:
            cells = results[column]
            if cells is None:
                mark, reason = "✗", f"{column} wrote no results"
            else:
                mark, reason = cells.get(scenario, ("✗", f"{column} has no such scenario"))
            counts[mark] += 1
            failed = failed or mark == "✗"
            row.append(mark + (f" ({note(reason)})" if reason else ""))
        print(f"| {scenario} | " + " | ".join(row) + " |")
    print()
    for number, text in enumerate(notes, 1):
        print(f"({number}) {text}")
    for problem in problems:
        print(f"✗ {problem}")
    print(f"matrix: {counts['✔']} ✔, {counts['✗']} ✗, {counts['n/a']} n/a")
    return 1 if failed else 0


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1:]))
