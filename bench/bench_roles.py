"""Time the role graph of `velmark.Velmark` on large role organisations.

Two shapes of graph, each at several sizes (number of roles):
  tree   a balanced tree of fan-out 10; every role contains its ten children
         and holds ten permissions of its own, so there are about ten times as
         many permission nodes as roles;
  chain  every role contains the next one; one permission at the bottom.

Every operation runs on the top role (the one that reaches the whole graph),
and is timed several times; the table gives the median in milliseconds.
Storage and answer building are the engine's business, not the module's, so
`save()` is a no-op here and `RoleContent.from_display` returns None.

The same operations run on `reference_roles.ReferenceRoles`, the algorithm
in plain Python, on the smaller trees for comparison.

Run from the repository root:
    PYTHONPATH=build/python:standins build/host-python bench/bench_roles.py [--quick]
"""
import argparse
import gc
import math
import os
import resource
import statistics
import sys
import time

import velmark

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import reference_roles  # noqa: E402  (found next to this file)

DEFAULT_SIZES = [10 ** 2, 10 ** 3, 10 ** 4, 10 ** 5, 10 ** 6]
QUICK_SIZES = [10 ** 2, 10 ** 3, 10 ** 4]
# A tree of a million roles holds ten million permission records: several GB
# of records and graph in the pure-Python engine, and most of the run time.
DEFAULT_TREE_MAX = 10 ** 5
DEFAULT_REFERENCE_MAX = 10 ** 4
COMPARISON_TREE = 2000
FAN_OUT = 10
PERMISSIONS_PER_ROLE = 10
NEW_PERMISSION = {"obj": "bench", "act": "write"}

OPERATIONS = [
    ("construct", "construction"),
    ("contents", "get_role_contents(top)"),
    ("implicit", "get_implicit_permissions_for_roles([top])"),
    ("check", "_check_new_group(Group(child=leaf, parent=top)), refused"),
    ("add_sub", "add_role_sub_roles(top, [leaf]), accepted"),
    ("add_sub_cycle", "add_role_sub_roles(leaf, [top]), refused as a cycle"),
    ("set_sub", "set_role_sub_roles(top, its present sub-roles)"),
    ("add_perm", "add_role_permissions(top, [one new permission])"),
]


class QuietVelmark(velmark.Velmark):
    """Keeps the engine's storage out of the timings."""

    save = lambda self: None  # noqa: E731


class NoAnswer:
    """Stands in for RoleContent so that answer records are not built."""

    @classmethod
    def from_display(cls, **display):
        return None


# -- graphs -------------------------------------------------------------


def role(index):
    return "r%d" % index


def tree_records(size):
    """Groups and policies of a balanced tree; role 0 is the top."""
    groups = [velmark.Group(child=role(parent), parent=role(child))
              for child in range(1, size)
              for parent in [(child - 1) // FAN_OUT]]
    policies = [velmark.Policy(sub=role(index), obj="obj%d" % (index * PERMISSIONS_PER_ROLE + k),
                               act="read")
                for index in range(size) for k in range(PERMISSIONS_PER_ROLE)]
    return policies, groups


def chain_records(size):
    """Groups of a chain r0 > r1 > ... and one permission at the bottom."""
    groups = [velmark.Group(child=role(index), parent=role(index + 1))
              for index in range(size - 1)]
    policies = [velmark.Policy(sub=role(size - 1), obj="obj0", act="read")]
    return policies, groups


SHAPES = {"tree": tree_records, "chain": chain_records}


# -- timing -------------------------------------------------------------


def runs_for(size):
    if size <= 10 ** 3:
        return 15
    if size <= 10 ** 4:
        return 7
    return 3


def median_ms(action, runs, restore=None):
    samples = []
    for _ in range(runs):
        start = time.perf_counter()
        action()
        samples.append(time.perf_counter() - start)
        if restore is not None:
            restore()
    return statistics.median(samples) * 1000.0


def time_operations(make, policies, groups, runs):
    """Median ms of every operation for one graph, built by `make`."""
    top, leaf = role(0), role(len(groups))  # the last role is a leaf in both shapes
    times = {"construct": median_ms(lambda: make(policies, groups), runs)}

    # The stand-in engine keeps the lists it is given, and the updates below
    # change the stored lists in place: give the measured document copies.
    doc = make(list(policies), list(groups))
    times["contents"] = median_ms(lambda: doc.get_role_contents(top), runs)
    times["implicit"] = median_ms(
        lambda: doc.get_implicit_permissions_for_roles([top]), runs)

    refused = velmark.Group(child=leaf, parent=top)
    if doc._check_new_group(refused):
        raise AssertionError("the top role should reach the leaf")
    times["check"] = median_ms(lambda: doc._check_new_group(refused), runs)

    def forget_added_group():
        # Puts the document back as it was, so that every run adds again.
        added = doc.groups.pop()
        if (added.child, added.parent) != (top, leaf):
            raise AssertionError("unexpected group %r" % (added,))
        doc.dag[top].remove(leaf)

    times["add_sub"] = median_ms(lambda: doc.add_role_sub_roles(top, [leaf]), runs,
                                 forget_added_group)
    group_count = len(doc.groups)
    times["add_sub_cycle"] = median_ms(lambda: doc.add_role_sub_roles(leaf, [top]), runs)
    if len(doc.groups) != group_count:
        raise AssertionError("a cycle was accepted")

    sub_roles = [group.parent for group in doc.groups if group.child == top]
    times["set_sub"] = median_ms(lambda: doc.set_role_sub_roles(top, sub_roles), runs)
    if sorted(group.parent for group in doc.groups if group.child == top) != sorted(sub_roles):
        raise AssertionError("set_role_sub_roles changed the sub-roles")

    pair = (NEW_PERMISSION["obj"], NEW_PERMISSION["act"])

    def forget_added_permission():
        added = doc.policies.pop()
        if (added.sub, added.obj, added.act) != (top,) + pair:
            raise AssertionError("unexpected policy %r" % (added,))
        doc.dag[top].remove(pair)

    times["add_perm"] = median_ms(
        lambda: doc.add_role_permissions(top, [NEW_PERMISSION]), runs,
        forget_added_permission)
    return times


def make_module(policies, groups):
    return QuietVelmark(name="bench-app", policies=policies, groups=groups)


def make_reference(policies, groups):
    return reference_roles.ReferenceRoles("bench-app", policies=policies, groups=groups)


# -- report -------------------------------------------------------------


def fmt(ms):
    if ms >= 100:
        return "%.0f" % ms
    if ms >= 1:
        return "%.2f" % ms
    return "%.4f" % ms


def print_table(rows):
    keys = [key for key, _ in OPERATIONS]
    print("| implementation | shape | roles | records | runs | " + " | ".join(keys) + " |")
    print("|---|---|---:|---:|---:|" + "---:|" * len(keys))
    for row in rows:
        print("| %s | %s | %d | %d | %d | " % (row["impl"], row["shape"], row["size"],
                                               row["records"], row["runs"])
              + " | ".join(fmt(row["times"][key]) for key in keys) + " |")


def print_growth(rows, sizes):
    """Ratio of times between successive sizes and the fitted exponent."""
    print("\nGrowth (module; ratio of times per step between successive sizes,"
          " and exponent k of time ~ roles^k fitted by least squares):")
    for shape in SHAPES:
        series = sorted((row for row in rows if row["impl"] == "module"
                         and row["shape"] == shape and row["size"] in sizes),
                        key=lambda row: row["size"])
        if len(series) < 2:
            continue
        print("\n%s, roles %s:" % (shape, " -> ".join(str(row["size"]) for row in series)))
        for key, description in OPERATIONS:
            ratios = ["x%.1f" % (later["times"][key] / earlier["times"][key])
                      for earlier, later in zip(series, series[1:])]
            print("  %-14s %-34s k = %.2f   (%s)" % (key, " ".join(ratios),
                                                     fitted_exponent(series, key),
                                                     description))


def fitted_exponent(series, key):
    xs = [math.log(row["size"]) for row in series]
    ys = [math.log(max(row["times"][key], 1e-9)) for row in series]
    mean_x, mean_y = sum(xs) / len(xs), sum(ys) / len(ys)
    spread = sum((x - mean_x) ** 2 for x in xs)
    return sum((x - mean_x) * (y - mean_y) for x, y in zip(xs, ys)) / spread


def print_comparison(rows):
    reference = {(row["shape"], row["size"]): row for row in rows if row["impl"] == "reference"}
    pairs = [(row, reference[(row["shape"], row["size"])]) for row in rows
             if row["impl"] == "module" and (row["shape"], row["size"]) in reference]
    if not pairs:
        return
    print("\nModule against the plain-Python reference (reference time / module time):\n")
    keys = [key for key, _ in OPERATIONS]
    print("| shape | roles | " + " | ".join(keys) + " |")
    print("|---|---:|" + "---:|" * len(keys))
    for module_row, reference_row in pairs:
        print("| %s | %d | " % (module_row["shape"], module_row["size"])
              + " | ".join("x%.1f" % (reference_row["times"][key] / module_row["times"][key])
                           for key in keys) + " |")


# -- main ---------------------------------------------------------------


def parse_args(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true",
                        help="sizes up to 10^4 only, for a smoke run")
    parser.add_argument("--sizes", type=lambda text: [int(float(s)) for s in text.split(",")],
                        help="comma-separated role counts, e.g. 100,1000,1e4")
    parser.add_argument("--tree-max", type=int, default=DEFAULT_TREE_MAX,
                        help="largest tree to build (default %(default)s; a tree of 10^6"
                             " roles needs several GB)")
    parser.add_argument("--reference-max", type=int, default=DEFAULT_REFERENCE_MAX,
                        help="largest tree timed with the plain-Python reference"
                             " (default %%(default)s; the tree of %d roles is always"
                             " compared)" % COMPARISON_TREE)
    return parser.parse_args(argv)


def plan(args):
    """(implementation, shape, size) triples to run, in order."""
    sizes = args.sizes or (QUICK_SIZES if args.quick else DEFAULT_SIZES)
    jobs = []
    for shape in SHAPES:
        shape_sizes = sorted(set(sizes) | ({COMPARISON_TREE} if shape == "tree" else set()))
        for size in shape_sizes:
            if shape == "tree" and size > args.tree_max:
                print("note: tree of %d roles skipped (over --tree-max %d)"
                      % (size, args.tree_max))
                continue
            jobs.append(("module", shape, size))
            # The reference walks by recursion, so it only takes the shallow trees.
            if shape == "tree" and size <= max(args.reference_max, COMPARISON_TREE):
                jobs.append(("reference", shape, size))
    return sizes, jobs


def main(argv=None):
    args = parse_args(argv)
    sizes, jobs = plan(args)
    velmark.RoleContent = NoAnswer
    gc.disable()  # the records hold no cycles; collections would only add noise
    started = time.perf_counter()
    rows = []
    records = {}
    for impl, shape, size in jobs:
        if (shape, size) not in records:
            records.clear()
            gc.collect()
            records[(shape, size)] = SHAPES[shape](size)
        policies, groups = records[(shape, size)]
        runs = runs_for(size)
        make = make_module if impl == "module" else make_reference
        job_start = time.perf_counter()
        times = time_operations(make, policies, groups, runs)
        rows.append({"impl": impl, "shape": shape, "size": size, "runs": runs,
                     "records": len(policies) + len(groups), "times": times})
        print("done: %-9s %-5s %8d roles in %6.1f s" % (impl, shape, size,
                                                       time.perf_counter() - job_start),
              file=sys.stderr, flush=True)
    records.clear()
    gc.enable()

    print("\nMedian time per operation in ms (top = r0; leaf = the last role)."
          " save() and RoleContent.from_display are no-ops.\n")
    for key, description in OPERATIONS:
        print("- %s: %s" % (key, description))
    print()
    print_table(rows)
    print_comparison(rows)
    print_growth(rows, sizes)
    print("\nadd_sub and add_perm include the duplicate test, a scan of the whole stored"
          " list that compares records with the engine's record equality (pure Python in"
          " the stand-in engine).")
    print("\nTotal %.0f s; peak RSS %.0f MB." % (
        time.perf_counter() - started,
        resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0))


if __name__ == "__main__":
    main()
