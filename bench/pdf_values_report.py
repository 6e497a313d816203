#!/usr/bin/env python3
"""Summarises build/pdf_values output (bench/pdf_values.sh): one table a file of lines, then the
files nearest their budgets. Columns: path, file bytes, decoded bytes, values, values reached,
how reading stopped, value budget, budget of values reached."""
import statistics
import sys


def rows(path):
    for line in open(path, encoding="utf-8", errors="replace"):
        f = line.rstrip("\n").split("\t")
        if len(f) < 8:
            continue
        yield {"path": f[0], "bytes": int(f[1]), "decoded": int(f[2]), "values": int(f[3]),
               "reached": int(f[4]), "stopped": f[5], "budget": int(f[6]),
               "reachedBudget": int(f[7])}


def quantile(values, q):
    values = sorted(values)
    return values[min(len(values) - 1, int(q * len(values)))] if values else 0


def describe(title, files):
    read = [r for r in files if r["bytes"] > 0 and not r["stopped"].startswith(("declined",
                                                                                 "unreadable"))]
    refused = [r for r in files if r["values"] > r["budget"] or r["reached"] > r["reachedBudget"]
               or r["stopped"].startswith("refused")]
    print(f"## {title}: {len(files)} files, {len(read)} read, "
          f"{sum(1 for r in files if r['stopped'].startswith('declined'))} declined, "
          f"{len(refused)} refused by the budgets or limits")
    if not read:
        return
    print("| measure | median | 99th percentile | largest | file with the largest |")
    print("|---|---|---|---|---|")
    measures = [
        ("values / file byte", lambda r: r["values"] / r["bytes"]),
        ("values reached / file byte", lambda r: r["reached"] / r["bytes"]),
        ("values reached / decoded byte",
         lambda r: r["reached"] / r["decoded"] if r["decoded"] else 0),
        ("values reached", lambda r: r["reached"]),
        ("values", lambda r: r["values"]),
        ("values reached / budget", lambda r: r["reached"] / r["reachedBudget"]),
        ("values / budget", lambda r: r["values"] / r["budget"]),
    ]
    for name, measure in measures:
        values = [measure(r) for r in read]
        top = max(read, key=measure)
        fmt = (lambda v: f"{v:,.0f}") if "/" not in name else (lambda v: f"{v:.3f}")
        print(f"| {name} | {fmt(statistics.median(values))} | {fmt(quantile(values, 0.99))} | "
              f"{fmt(measure(top))} | {top['path']} ({top['bytes']:,} bytes) |")
    print()
    print("Nearest their budgets:")
    nearest = sorted(read, key=lambda r: -max(r["reached"] / r["reachedBudget"],
                                              r["values"] / r["budget"]))[:8]
    for r in nearest:
        print(f"  {r['path']}: {r['bytes']:,} bytes, {r['values']:,} values "
              f"(budget {r['budget']:,}), {r['reached']:,} reached (budget "
              f"{r['reachedBudget']:,}), {r['decoded']:,} bytes decoded")
    for r in refused[:20]:
        print(f"  REFUSED {r['path']}: {r['bytes']:,} bytes, {r['values']:,} values, "
              f"{r['reached']:,} reached; {r['stopped']}")
    print()


def main():
    titles = ["PDFs as Debian ships them", "the same written again by qpdf with object streams",
              "files built to exhaust a reader"]
    for title, path in zip(titles, sys.argv[1:]):
        describe(title, list(rows(path)))


main()
