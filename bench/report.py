#!/usr/bin/env python3
"""Summarises the Wine benchmark's figures (scripts/bench.sh): the median and the spread
(smallest to largest) of every measurement at every size, the disk's speed as the plain
copy shows it, each goal (what is compared with what, its bound, and what was measured),
and on request a picture of time against record count, log-log, as SVG.

usage: report.py RESULTS.csv [--plot FILE.svg]
"""
import collections
import math
import statistics
import sys

COLUMNS = [
    ("start", "start to responsive"),
    ("keystroke", "keystroke"),
    ("keystroke_after_open", "keystroke, list filled"),
    ("open_list", "opening the list"),
    ("open_list_again", "opening it again"),
    ("add", "Add"),
    ("update", "Update"),
    ("delete", "Delete"),
    ("focus_after_edit", "focus after an edit"),
]
AFTER_EDITS = [
    ("open_list_again", "opening it again, no edit"),
    ("open_list_after_add", "opening it after Add"),
    ("open_list_after_update", "after Update"),
    ("open_list_after_delete", "after Delete"),
]
BASELINES = [
    ("baseline_start", "bare window start"),
    ("baseline_combo_fill", "bare combo fill"),
    ("baseline_combo_open", "bare combo, opening it filled"),
    ("baseline_copy", "plain file copy"),
]


def load(path):
    figures = collections.defaultdict(list)
    with open(path) as results:
        for line in results:
            parts = line.strip().split(",")
            if len(parts) == 3:
                figures[(int(parts[0]), parts[1])].append(float(parts[2]))
    return figures


def cell(values, unit="ms"):
    if not values:
        return "–"
    median = statistics.median(values)
    if len(values) == 1:
        return f"{median:,.1f} {unit}"
    return f"{median:,.1f} {unit} ({min(values):,.1f}–{max(values):,.1f})"


def table(figures, sizes, columns, unit="ms"):
    head = "| records | " + " | ".join(name for _, name in columns) + " |"
    rule = "|---" * (len(columns) + 1) + "|"
    rows = [head, rule]
    for size in sizes:
        rows.append(f"| {size:,} | " + " | ".join(cell(figures[(size, key)], unit)
                                                   for key, _ in columns) + " |")
    return "\n".join(rows)


def median(figures, size, key):
    values = figures.get((size, key))
    return statistics.median(values) if values else math.nan


BIG, SMALL = 1000000, 32767
EDITS = [("add", "Add"), ("update", "Update"), ("delete", "Delete")]

# The goals: (number, what is compared, the measured value as a function of the medians,
# the bound, whether the value is a time in ms rather than a ratio). A goal without a
# bound is shown for comparison only.
GOALS = [
    (1, "start at 1,000,000 / start at 0",
     lambda m: m(BIG, "start") / m(0, "start"), 5, False),
    (1, "start at 32,767, in ms", lambda m: m(SMALL, "start"), 560, True),
    (2, "keystroke at 1,000,000 / keystroke at 0",
     lambda m: m(BIG, "keystroke") / m(0, "keystroke"), 2, False),
    (3, "opening the list / bare combo fill, at 1,000,000",
     lambda m: m(BIG, "open_list") / m(BIG, "baseline_combo_fill"), 1.2, False),
    (3, "opening it again / opening a filled bare combo, at 1,000,000",
     lambda m: m(BIG, "open_list_again") / m(BIG, "baseline_combo_open"), None, False),
] + [
    (4, f"{name} / plain copy, at 1,000,000",
     lambda m, key=key: m(BIG, key) / m(BIG, "baseline_copy"), 1.5, False)
    for key, name in EDITS
] + [
    (4, "Add at 32,767, in ms", lambda m: m(SMALL, "add"), 50, True),
    (5, "peak memory / file size, at 1,000,000",
     lambda m: m(BIG, "peak_memory_mib") / m(BIG, "file_mib"), 2.5, False),
] + [
    (6, f"opening the list after {name} / bare combo fill, at 1,000,000",
     lambda m, key=key: m(BIG, f"open_list_after_{key}") / m(BIG, "baseline_combo_fill"), 0.05,
     False)
    for key, name in EDITS
] + [
    (6, "opening it again, no edit / bare combo fill, at 1,000,000",
     lambda m: m(BIG, "open_list_again") / m(BIG, "baseline_combo_fill"), None, False),
]


def goals(figures):
    m = lambda size, key: median(figures, size, key)  # noqa: E731
    out = ["| goal | compared | measured | bound | met |", "|---|---|---|---|---|"]
    for number, what, value_of, bound, is_time in GOALS:
        value = value_of(m)
        shown = f"{value:,.0f} ms" if is_time else f"{value:,.3f}"
        if bound is None:
            out.append(f"| {number} | {what} | {shown} | none | |")
            continue
        met = "–" if math.isnan(value) else ("yes" if value <= bound else "no")
        out.append(f"| {number} | {what} | {shown} | ≤ {bound:g}{' ms' if is_time else ''} "
                   f"| {met} |")
    return "\n".join(out)


def copy_speed(figures, sizes):
    """The disk's speed as the plain copy of the largest file shows it (MB/s)."""
    size = max(sizes)
    mib, ms = median(figures, size, "file_mib"), median(figures, size, "baseline_copy")
    if not ms or math.isnan(ms) or math.isnan(mib):
        return "–"
    return (f"{mib * 1.048576 / (ms / 1000):,.0f} MB/s (the {mib:,.0f} MiB file of {size:,} "
            f"records copied in {ms:,.0f} ms, median; "
            f"{cell(figures[(size, 'baseline_copy')])})")


def plot(figures, sizes, path):
    """Time against record count on log-log axes, one line per measurement."""
    sizes = [s for s in sizes if s > 0]
    if len(sizes) < 2:
        print(f"\nNo picture: it needs two sizes of records file or more.")
        return
    series = [("start", "start", "#1f77b4", ""), ("keystroke", "keystroke", "#2ca02c", ""),
              ("open_list", "opening the list", "#d62728", ""), ("add", "Add", "#9467bd", ""),
              ("baseline_start", "bare window start", "#1f77b4", "6,4"),
              ("baseline_combo_fill", "bare combo fill", "#d62728", "6,4"),
              ("baseline_copy", "plain file copy", "#9467bd", "6,4")]
    width, height, left, right, top, bottom = 780, 460, 90, 190, 30, 50
    x0, x1 = math.log10(min(sizes)), math.log10(max(sizes))
    values = [median(figures, s, key) for s in sizes for key, *_ in series]
    values = [v for v in values if v and v > 0 and not math.isnan(v)]
    y0, y1 = math.floor(math.log10(min(values))), math.ceil(math.log10(max(values)))
    px = lambda x: left + (math.log10(x) - x0) / (x1 - x0) * (width - left - right)  # noqa
    py = lambda y: top + (y1 - math.log10(y)) / (y1 - y0) * (height - top - bottom)  # noqa
    svg = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
           f'font-family="sans-serif" font-size="12">',
           f'<rect width="{width}" height="{height}" fill="white"/>']
    for e in range(y0, y1 + 1):
        y = py(10 ** e)
        svg.append(f'<line x1="{left}" y1="{y:.1f}" x2="{width - right}" y2="{y:.1f}" '
                   f'stroke="#ddd"/><text x="{left - 6}" y="{y + 4:.1f}" text-anchor="end">'
                   f'{10 ** e:,g} ms</text>')
    for s in sizes:
        x = px(s)
        svg.append(f'<line x1="{x:.1f}" y1="{top}" x2="{x:.1f}" y2="{height - bottom}" '
                   f'stroke="#ddd"/><text x="{x:.1f}" y="{height - bottom + 18}" '
                   f'text-anchor="middle">{s:,}</text>')
    svg.append(f'<text x="{(left + width - right) / 2}" y="{height - 12}" text-anchor="middle">'
               f'records (log scale)</text>')
    for index, (key, name, colour, dash) in enumerate(series):
        points = [(px(s), py(median(figures, s, key))) for s in sizes
                  if median(figures, s, key) > 0]
        if not points:
            continue
        path_d = " ".join(f"{x:.1f},{y:.1f}" for x, y in points)
        svg.append(f'<polyline points="{path_d}" fill="none" stroke="{colour}" stroke-width="2"'
                   + (f' stroke-dasharray="{dash}"' if dash else "") + "/>")
        ly = top + 16 * index + 8
        svg.append(f'<line x1="{width - right + 12}" y1="{ly}" x2="{width - right + 36}" '
                   f'y2="{ly}" stroke="{colour}" stroke-width="2"'
                   + (f' stroke-dasharray="{dash}"' if dash else "") + "/>")
        svg.append(f'<text x="{width - right + 42}" y="{ly + 4}">{name}</text>')
    svg.append("</svg>")
    with open(path, "w") as out:
        out.write("\n".join(svg) + "\n")


def main():
    figures = load(sys.argv[1])
    sizes = sorted({size for size, _ in figures})
    print("Perlwick (median, and smallest–largest, of each run):\n")
    print(table(figures, sizes, COLUMNS))
    print("\nBaselines, measured in the same runs:\n")
    print(table(figures, sizes, BASELINES))
    print("\nRecords file and Perlwick's peak memory:\n")
    print(table(figures, sizes, [("file_mib", "file"), ("peak_memory_mib", "peak memory")],
                "MiB"))
    print("\nOpening the list after an edit:\n")
    print(table(figures, sizes, AFTER_EDITS))
    print(f"\nThe disk's copy speed: {copy_speed(figures, sizes)}")
    print("\nGoals:\n")
    print(goals(figures))
    if "--plot" in sys.argv:
        plot(figures, sizes, sys.argv[sys.argv.index("--plot") + 1])


if __name__ == "__main__":
    main()
