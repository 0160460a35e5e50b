#!/usr/bin/env python3
"""Summarises the Wine benchmark's figures (scripts/bench.sh): the median and the spread
(smallest to largest) of every measurement at every size, with the processor time (user +
kernel) and page faults of the process that did the work; the edits at 1,000,000 records
beside the plain copy made just before each, in both sessions; the start beside a bare
read of the file; the bare writes; each goal (what is compared with what, its bound, and
what was measured), and on request a picture of time against record count, log-log, as SVG.

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
    """The figures by (records, what): times (or MiB); and under (records, what + USAGE)
    the processor time and page faults, as (user ms, kernel ms, page faults)."""
    figures = collections.defaultdict(list)
    with open(path) as results:
        for line in results:
            parts = line.strip().split(",")
            if len(parts) in (3, 6):
                figures[(int(parts[0]), parts[1])].append(float(parts[2]))
            if len(parts) == 6:
                figures[(int(parts[0]), parts[1] + USAGE)].append(tuple(map(float, parts[3:])))
    return figures


USAGE = "/usage"


def usage_cell(values):
    """Median processor time, user + kernel, and median page faults."""
    if not values:
        return "–"
    user, kernel, faults = (statistics.median(v[i] for v in values) for i in range(3))
    return f"{user + kernel:,.0f} ms ({user:,.0f} + {kernel:,.0f}), {faults:,.0f} faults"


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


def usage_table(figures, sizes, columns):
    head = "| records | " + " | ".join(name for _, name in columns) + " |"
    rows = [head, "|---" * (len(columns) + 1) + "|"]
    for size in sizes:
        rows.append(f"| {size:,} | " + " | ".join(usage_cell(figures[(size, key + USAGE)])
                                                   for key, _ in columns) + " |")
    return "\n".join(rows)


def median(figures, size, key):
    values = figures.get((size, key))
    return statistics.median(values) if values else math.nan


BIG, SMALL = 1000000, 32767
EDITS = [("add", "Add"), ("update", "Update"), ("delete", "Delete")]
# The two ways an edit is saved: a new file that takes the records file's place, and,
# where the folder refuses new files, the records file rewritten in place after a copy of
# the new content in the private folder; the bound of each against its plain copy.
PATHS = [("", "new file moved in", 1.5), ("in_place_", "rewritten in place", 2.5)]
# The states of memory an edit and its copy are measured in: both after a pause, and both
# right after memory was warmed up.
STATES = [("", "after a pause"), ("warm_", "warm")]


def paired_ratio(figures, size, key, yardstick):
    """The median, over the runs, of each run's figure over the yardstick measured just
    before it in the same run."""
    values, bases = figures.get((size, key), []), figures.get((size, yardstick), [])
    ratios = [v / b for v, b in zip(values, bases) if b > 0]
    return statistics.median(ratios) if ratios else math.nan

# The goals: (number, what is compared, the measured value as a function of the medians,
# the bound, whether the value is a time in ms rather than a ratio). A goal without a
# bound is shown for comparison only.
GOALS = [
    (1, "start at 1,000,000 / start at 0",
     lambda m: m(BIG, "start") / m(0, "start"), 2.5, False),
    (1, "bare read of the file into fresh memory at 1,000,000 / start at 0",
     lambda m: m(BIG, "bare_read") / m(0, "start"), None, False),
    (1, "start at 32,767, in ms", lambda m: m(SMALL, "start"), 560, True),
    (2, "keystroke at 1,000,000 / keystroke at 0",
     lambda m: m(BIG, "keystroke") / m(0, "keystroke"), 2, False),
    (3, "opening the list / bare combo fill, at 1,000,000",
     lambda m: m(BIG, "open_list") / m(BIG, "baseline_combo_fill"), 1.2, False),
    (3, "opening it again / opening a filled bare combo, at 1,000,000",
     lambda m: m(BIG, "open_list_again") / m(BIG, "baseline_combo_open"), None, False),
] + [
    (4, f"{name} / the plain copy just before it, at 1,000,000, {path}, {state}",
     lambda m, prefix=prefix + warm, key=key: m.paired(BIG, prefix + key,
                                                       f"{prefix}copy_before_{key}"),
     bound, False)
    for prefix, path, bound in PATHS for warm, state in STATES for key, name in EDITS
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


class Medians:
    def __init__(self, figures):
        self.figures = figures

    def __call__(self, size, key):
        return median(self.figures, size, key)

    def paired(self, size, key, yardstick):
        return paired_ratio(self.figures, size, key, yardstick)


def goals(figures):
    m = Medians(figures)
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


def edits_table(figures):
    """Each edit at 1,000,000 records beside the plain copy made just before it, in both
    sessions."""
    rows = ["| saved as | memory | edit | plain copy just before | its CPU, page faults "
            "| the edit | its CPU, page faults | edit / copy (median of the runs) |",
            "|---|---|---|---|---|---|---|---|"]
    for path_prefix, path, _ in PATHS:
        for warm, state in STATES:
            for key, name in EDITS:
                prefix = path_prefix + warm
                copy = f"{prefix}copy_before_{key}"
                if not figures.get((BIG, prefix + key)):
                    continue
                rows.append(f"| {path} | {state} | {name} | {cell(figures[(BIG, copy)])} "
                            f"| {usage_cell(figures[(BIG, copy + USAGE)])} "
                            f"| {cell(figures[(BIG, prefix + key)])} "
                            f"| {usage_cell(figures[(BIG, prefix + key + USAGE)])} "
                            f"| {paired_ratio(figures, BIG, prefix + key, copy):.2f} |")
    return "\n".join(rows)


def start_table(figures):
    rows = ["| what | time | CPU (user + kernel), page faults |", "|---|---|---|"]
    for size, key, name in [(0, "start", "start at 0 records"),
                            (0, "baseline_start", "bare window start"),
                            (BIG, "start", "start at 1,000,000 records"),
                            (BIG, "in_place_start", "the same, ordinary account"),
                            (BIG, "bare_read", "bare read of the file into fresh memory")]:
        if figures.get((size, key)):
            rows.append(f"| {name} | {cell(figures[(size, key)])} "
                        f"| {usage_cell(figures[(size, key + USAGE)])} |")
    return "\n".join(rows)


def bare_writes_table(figures):
    """The file's bytes written by a bare program, then flushed: after a pause (cold) and
    right after another such write (warm)."""
    rows = ["| from | pieces | fill of the fresh buffer | write, cold | flush, cold "
            "| write, warm | flush, warm |", "|---|---|---|---|---|---|---|"]
    for source, source_name in [("held", "a buffer held since the run began"),
                                ("fresh", "a fresh buffer, filled just before")]:
        for mib in (1, 16):
            name = f"{source}_{mib}mib"
            cells = []
            for what in [f"bare_fill_{name}_cold", f"bare_write_{name}_cold",
                         f"bare_flush_{name}_cold", f"bare_write_{name}_warm",
                         f"bare_flush_{name}_warm"]:
                values = figures.get((BIG, what))
                cells.append(f"{cell(values)}; {usage_cell(figures[(BIG, what + USAGE)])}"
                             if values else "–")
            rows.append(f"| {source_name} | {mib} MiB | " + " | ".join(cells) + " |")
    return "\n".join(rows)


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
    print("\nPerlwick's processor time, user + kernel, and page faults (medians):\n")
    print(usage_table(figures, sizes, COLUMNS))
    print("\nBaselines, measured in the same runs:\n")
    print(table(figures, sizes, BASELINES))
    print("\nThe baselines' processor time and page faults (medians):\n")
    print(usage_table(figures, sizes, BASELINES))
    print("\nRecords file and Perlwick's peak memory:\n")
    print(table(figures, sizes, [("file_mib", "file"), ("peak_memory_mib", "peak memory")],
                "MiB"))
    print("\nOpening the list after an edit:\n")
    print(table(figures, sizes, AFTER_EDITS))
    print(f"\nThe disk's copy speed: {copy_speed(figures, sizes)}")
    if BIG in sizes:
        print(f"\nThe edits at {BIG:,} records, each beside a plain copy made just before it "
              "in the same state of memory:\n")
        print(edits_table(figures))
        print(f"\nThe start at {BIG:,} records, beside a bare read of the file:\n")
        print(start_table(figures))
        print(f"\nThe file of {BIG:,} records written by a bare program, then flushed:\n")
        print(bare_writes_table(figures))
    print("\nGoals:\n")
    print(goals(figures))
    if "--plot" in sys.argv:
        plot(figures, sizes, sys.argv[sys.argv.index("--plot") + 1])


if __name__ == "__main__":
    main()
