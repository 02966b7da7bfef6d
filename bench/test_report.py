"""Tests of bench/report.py: trace parsing, the split of a run's wall time,
medians and spread, and the check that names what a run did wrong."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import report  # noqa: E402
from report import Expectation, TraceError  # noqa: E402

S = 1_000_000_000  # ns


def trace_text(start=10 * S, end=12 * S, totals=None, calls=(), pid=7, lost=0, functions=(), created=None):
    totals = totals or {}
    created = start - S // 10 if created is None else created
    lines = ["vtrace 1", f"process {pid} created {created} start {start} end {end}", f"span {end - start}"]
    for c in report.CATEGORIES:
        count, ns = totals.get(c, (0, 0))
        lines.append(f"total {c} {count} {ns}")
    lines += [f"call {c} {off} {dur} {label}" for c, off, dur, label in calls]
    lines += [f"function {c} {f} {count} {ns}" for c, f, count, ns in functions]
    lines += [f"lost {lost}", "end"]
    return "\n".join(lines) + "\n"


def one(text):
    traces = report.parse_traces(text)
    assert len(traces) == 1, f"expected one process, got {len(traces)}"
    return traces[0]


def row(wall=2.0, **parts):
    r = {c: 0.0 for c in report.CATEGORIES}
    r.update(parts)
    r["wall"] = wall
    r["driver"] = r.get("driver", 0.0)
    r["loader"] = r.get("loader", 0.0)
    r["after"] = r.get("after", 0.0)
    r["calls"] = {c: 1 for c in report.CATEGORIES}
    return r


class ParseTraces(unittest.TestCase):
    def check(self, got, expected):
        self.assertEqual(got, expected, f"expected {expected!r}, got {got!r}")

    def test_process_times(self):
        t = one(trace_text(start=5 * S, end=6 * S, pid=42))
        self.check((t.pid, t.created, t.start, t.end, t.span), (42, 5 * S - S // 10, 5 * S, 6 * S, S))

    def test_totals_by_category(self):
        t = one(trace_text(totals={"version": (5, 300), "own": (0, 700)}))
        self.check((t.totals["version"], t.totals["own"], t.totals["dde"]), ((5, 300), (0, 700), (0, 0)))

    def test_call_label_keeps_its_blanks(self):
        t = one(trace_text(calls=[("shellfileop", 10, 20, r"copy C:\dist\Docs -> C:\Program Files\VORTAN\FTP")]))
        self.check(t.calls, [("shellfileop", 10, 20, r"copy C:\dist\Docs -> C:\Program Files\VORTAN\FTP")])

    def test_call_without_label(self):
        self.check(one(trace_text(calls=[("dde", 1, 2, "")])).calls[0][3], "")

    def test_two_processes_in_one_file(self):
        traces = report.parse_traces(trace_text(pid=1) + trace_text(pid=2))
        self.check([t.pid for t in traces], [1, 2])

    def test_function_totals(self):
        t = one(trace_text(functions=[("files", "DeleteFileA", 5000, 3 * S), ("libraries", "LoadLibraryA", 9, 5)]))
        self.check(t.functions, {("files", "DeleteFileA"): (5000, 3 * S), ("libraries", "LoadLibraryA"): (9, 5)})

    def test_lost_calls(self):
        self.check(one(trace_text(lost=3)).lost, 3)

    def test_empty_file_has_no_process(self):
        self.check(report.parse_traces(""), [])

    def test_missing_category_is_an_error(self):
        text = trace_text().replace("total registry 0 0\n", "")
        with self.assertRaisesRegex(TraceError, "no total for registry"):
            report.parse_traces(text)

    def test_unknown_record_is_an_error(self):
        with self.assertRaisesRegex(TraceError, "line 4: unknown record 'bogus'"):
            report.parse_traces(trace_text().replace("total version", "bogus version", 1))

    def test_record_before_process_is_an_error(self):
        with self.assertRaisesRegex(TraceError, "before any process line"):
            report.parse_traces("vtrace 1\ntotal own 0 0\n")

    def test_other_version_is_an_error(self):
        with self.assertRaisesRegex(TraceError, "unknown trace version"):
            report.parse_traces("vtrace 2\n")

    def test_malformed_number_names_the_line(self):
        with self.assertRaisesRegex(TraceError, "line 3"):
            report.parse_traces(trace_text().replace(f"span {2 * S}", "span x"))


class SplitRun(unittest.TestCase):
    def check(self, got, expected, places=9):
        self.assertAlmostEqual(got, expected, places, f"expected {expected}, got {got}")

    def test_rows_add_up_to_the_wall_time(self):
        t = one(trace_text(start=10 * S, end=12 * S,
                           totals={"version": (5, S // 2), "dde": (3, S // 4), "own": (0, S)}))
        r = report.split_run(t, 9 * S, 13 * S)
        total = sum(r[c] for c in report.CATEGORIES) + r["driver"] + r["loader"] + r["after"]
        self.check(total, 4.0)
        self.check(r["wall"], 4.0)

    def test_before_and_after_the_program(self):
        t = one(trace_text(start=10 * S, end=12 * S, created=9 * S + S // 4, totals={"own": (0, 2 * S)}))
        r = report.split_run(t, 9 * S, 13 * S)
        self.check(r["driver"], 0.25)
        self.check(r["loader"], 0.75)
        self.check(r["after"], 1.0)

    def test_clock_disagreement_goes_to_the_program(self):
        # The counter accounted 1.9 s of a 2 s stretch.
        t = one(trace_text(start=10 * S, end=12 * S, created=10 * S,
                           totals={"version": (1, S), "own": (0, 9 * S // 10)}))
        r = report.split_run(t, 10 * S, 12 * S)
        self.check(r["own"], 1.0)
        self.check(r["version"], 1.0)

    def test_call_counts(self):
        r = report.split_run(one(trace_text(totals={"shellfileop": (4, 1)})), 9 * S, 12 * S)
        self.assertEqual(r["calls"]["shellfileop"], 4)

    def test_process_outside_the_timed_stretch_is_an_error(self):
        with self.assertRaisesRegex(TraceError, "outside the timed"):
            report.split_run(one(trace_text(start=10 * S, end=12 * S)), 11 * S, 13 * S)

    def test_process_created_before_the_timed_stretch_is_an_error(self):
        with self.assertRaisesRegex(TraceError, "outside the timed"):
            report.split_run(one(trace_text(start=10 * S, end=12 * S, created=8 * S)), 9 * S, 13 * S)

    def test_own_share_counts_every_part_of_the_program(self):
        r = row(wall=4.0, own=0.5, files=0.5, registry=0.25, libraries=0.25, ddesetup=0.5, version=2.0)
        self.check(report.own_share(r), 37.5)


class Statistics(unittest.TestCase):
    def test_median_of_five(self):
        self.assertEqual(report.median([5.0, 1.0, 3.0, 2.0, 4.0]), 3.0)

    def test_median_of_none_is_nan(self):
        m = report.median([])
        self.assertNotEqual(m, m, f"expected nan, got {m}")

    def test_spread_of_five(self):
        self.assertEqual(report.spread([1.0, 2.0, 2.0, 2.0, 4.0]), "1.00–4.00 (±0 %)")

    def test_spread_with_deviation(self):
        self.assertEqual(report.spread([0.9, 1.0, 1.1]), "0.90–1.10 (±10 %)")

    def test_spread_of_two_is_the_range(self):
        self.assertEqual(report.spread([2.0, 1.0]), "1.00–2.00")

    def test_spread_of_none(self):
        self.assertEqual(report.spread([]), "-")


class SplitTable(unittest.TestCase):
    def test_one_column_per_operation_with_medians(self):
        runs = [row(wall=2.0, version=1.0, own=1.0), row(wall=4.0, version=1.0, own=3.0),
                row(wall=3.0, version=1.0, own=2.0)]
        lines = report.split_table([("sample install", runs)])
        self.assertEqual(lines[0], "| Where the time goes | sample install |")
        version = [line for line in lines if "version installer" in line]
        self.assertEqual(version, ["| version installer (`VerInstallFileA`) | 1.000 s (33.3 %), 1 call |"])
        share = [line for line in lines if "own share" in line]
        self.assertEqual(share, ['| **the program\'s own share** (all "program\'s own" rows) | **66.7 %** |'])

    def test_rows_in_order(self):
        lines = report.split_table([("x", [row()])])
        firsts = [line.split(" | ")[0] for line in lines[2:]]
        self.assertEqual(firsts[0], "| Wine starting the driver, which starts `Setup.exe`")
        self.assertEqual(firsts[1], "| Wine loading `Setup.exe` (up to its C++ runtime)")
        self.assertEqual(firsts[2], "| version installer (`VerInstallFileA`)")
        self.assertEqual(firsts[-3], "| exit and Wine's ending of both processes")


class NamedCalls(unittest.TestCase):
    def test_median_per_call_over_runs(self):
        a = one(trace_text(calls=[("dde", 0, 1 * S, "[CreateGroup(X)]"), ("messagebox", 5, 3 * S, "Box")]))
        b = one(trace_text(calls=[("dde", 0, 3 * S, "[CreateGroup(X)]"), ("messagebox", 5, 1 * S, "Box")]))
        got = report.named_calls([a, b])
        self.assertEqual(got, [("dde", "[CreateGroup(X)]", 1, 2.0), ("messagebox", "Box", 1, 2.0)])

    def test_repeated_label_is_summed(self):
        a = one(trace_text(calls=[("messagebox", 0, 1 * S, "Box"), ("messagebox", 5, 5 * S, "Box")]))
        self.assertEqual(report.named_calls([a]), [("messagebox", "Box", 2, 6.0)])

    def test_call_missing_from_a_run_counts_zero(self):
        a = one(trace_text(calls=[("dde", 0, S, "A")]))
        b = one(trace_text(calls=[("dde", 0, S, "A"), ("dde", 0, S, "B")]))
        c = one(trace_text(calls=[("dde", 0, S, "A"), ("dde", 0, 3 * S, "B")]))
        self.assertEqual(report.named_calls([a, b, c]), [("dde", "A", 1, 1.0), ("dde", "B", 1, 1.0)])


class FunctionTotals(unittest.TestCase):
    def test_medians_most_time_first_of_the_chosen_categories(self):
        a = one(trace_text(functions=[("files", "DeleteFileA", 10, 1 * S), ("registry", "RegCloseKey", 3, 3 * S),
                                      ("dde", "DdeConnect", 2, 9 * S)]))
        b = one(trace_text(functions=[("files", "DeleteFileA", 10, 3 * S), ("registry", "RegCloseKey", 5, 1 * S)]))
        got = report.function_totals([a, b], ["files", "registry"])
        self.assertEqual(got, [("files", "DeleteFileA", 10, 2.0), ("registry", "RegCloseKey", 4, 2.0)])

    def test_function_absent_from_a_run_counts_zero(self):
        a = one(trace_text(functions=[("files", "MoveFileExA", 2, 2 * S)]))
        b = one(trace_text())
        self.assertEqual(report.function_totals([a, b], ["files"]), [("files", "MoveFileExA", 1, 1.0)])


class RunProblems(unittest.TestCase):
    EXP = Expectation(installed=20, working_files=5000, install_boxes=0, remove_boxes=0)

    def result(self, **changes):
        r = {"installed": 20, "before": 5020, "left": 0, "install_boxes": 0, "remove_boxes": 0,
             "install_dir_recorded": True}
        r.update(changes)
        return r

    def test_a_good_run_has_no_problem(self):
        self.assertEqual(report.run_problems("nsis", self.result(), self.EXP), [])

    def test_nothing_removed_is_named(self):
        got = report.run_problems("nsis", self.result(left=5020, left_paths=[r"C:\a", r"C:\b", r"C:\c", r"C:\d"]),
                                  self.EXP)
        self.assertEqual(got, [r"nsis: 5020 files left after removal (C:\a, C:\b, C:\c, ...)"])

    def test_missing_record_is_named(self):
        got = report.run_problems("nsis", self.result(install_dir_recorded=False), self.EXP)
        self.assertEqual(got, ['nsis: no "Installation Directory" in the product key after the installation'])

    def test_wrong_file_count(self):
        got = report.run_problems("ours", self.result(installed=19, before=5019), self.EXP)
        self.assertEqual(got, ["ours: 19 files installed, expected 20"])

    def test_working_files_not_all_there(self):
        got = report.run_problems("ours", self.result(before=20), self.EXP)
        self.assertEqual(got, ["ours: 20 files before removal, expected 5020"])

    def test_keys_and_links_left_behind(self):
        got = report.run_problems("nsis", self.result(left_behind=[r"HKLM\Software\VORTAN\FTP", "the group"]),
                                  self.EXP)
        self.assertEqual(got, [r"nsis: HKLM\Software\VORTAN\FTP left after removal", "nsis: the group left after removal"])

    def test_unexpected_boxes(self):
        got = report.run_problems("ours", self.result(install_boxes=1, remove_boxes=2), self.EXP)
        self.assertEqual(got, ["ours: 1 boxes during installation, expected 0",
                               "ours: 2 boxes during removal, expected 0"])


if __name__ == "__main__":
    unittest.main()
