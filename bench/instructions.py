"""Count the instructions each role operation of `bench_roles.py` takes.

Wall-clock medians move by tens of percent on a shared machine; instruction
counts under valgrind's callgrind repeat from run to run, here to the
instruction.  Each operation runs in a child interpreter of its own, with a
fixed hash seed, and its count is taken less that of a child that only
builds the same documents.

Compare builds by naming the folders that hold their modules, the first being
the baseline:
    build/host-python bench/instructions.py build/python /tmp/older/python
"""
import argparse
import concurrent.futures
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
STANDINS = os.path.join(os.path.dirname(HERE), "standins")
OPERATIONS = ["construct", "contents", "implicit", "check", "add_sub", "add_sub_cycle", "set_sub", "add_perm"]
REPEAT = 3


def run_operation(operation, shape, size):
    """In the child: builds the documents, then runs `operation` REPEAT times."""
    sys.path.insert(0, HERE)
    import bench_roles as bench
    import velmark

    velmark.RoleContent = bench.NoAnswer
    policies, groups = bench.SHAPES[shape](size)
    top, leaf = bench.role(0), bench.role(len(groups))
    doc = bench.make_module(list(policies), list(groups))
    refused = velmark.Group(child=leaf, parent=top)
    sub_roles = [group.parent for group in doc.groups if group.child == top]
    pair = (bench.NEW_PERMISSION["obj"], bench.NEW_PERMISSION["act"])

    def undo(stored, node):   # puts the document back, so that every run adds again
        getattr(doc, stored).pop()
        doc.dag[top].remove(node)

    actions = {
        "none": lambda: None,
        "construct": lambda: bench.make_module(policies, groups),
        "contents": lambda: doc.get_role_contents(top),
        "implicit": lambda: doc.get_implicit_permissions_for_roles([top]),
        "check": lambda: doc._check_new_group(refused),
        "add_sub": lambda: (doc.add_role_sub_roles(top, [leaf]), undo("groups", leaf)),
        "add_sub_cycle": lambda: doc.add_role_sub_roles(leaf, [top]),
        "set_sub": lambda: doc.set_role_sub_roles(top, sub_roles),
        "add_perm": lambda: (doc.add_role_permissions(top, [bench.NEW_PERMISSION]), undo("policies", pair)),
    }
    for _ in range(REPEAT):
        actions[operation]()


def count(modules, operation, shape, size):
    """Instructions of one child run under callgrind."""
    env = dict(os.environ, PYTHONHASHSEED="0", PYTHONPATH=os.pathsep.join([modules, STANDINS]))
    done = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", sys.executable,
                           __file__, "--run", operation, shape, str(size)],
                          env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, universal_newlines=True)
    found = re.search(r"Collected : (\d+)", done.stderr)
    if done.returncode != 0 or not found:
        raise RuntimeError("callgrind run failed for %s %s:\n%s" % (modules, operation, done.stderr[-2000:]))
    return int(found.group(1))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--run", nargs=3, metavar=("OPERATION", "SHAPE", "SIZE"), help=argparse.SUPPRESS)
    parser.add_argument("--tree", type=int, default=2000, help="roles of the tree (default %(default)s)")
    parser.add_argument("--chain", type=int, default=100000, help="roles of the chain (default %(default)s)")
    parser.add_argument("modules", nargs="*", help="folders holding the built modules; the first is the baseline")
    args = parser.parse_args()
    if args.run:
        return run_operation(args.run[0], args.run[1], int(args.run[2]))
    if not args.modules:
        parser.error("name at least one folder of built modules")
    jobs = [(modules, operation, shape, size) for modules in args.modules
            for shape, size in (("tree", args.tree), ("chain", args.chain))
            for operation in ["none"] + OPERATIONS]
    with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
        counts = dict(zip(jobs, pool.map(lambda job: count(*job), jobs)))
    for shape, size in (("tree", args.tree), ("chain", args.chain)):
        print("\n%s of %d roles: millions of instructions per operation\n" % (shape, size))
        print("| modules | " + " | ".join(OPERATIONS) + " |")
        print("|---|" + "---:|" * len(OPERATIONS))
        per_operation = {}
        for modules in args.modules:
            setup = counts[(modules, "none", shape, size)]
            per_operation[modules] = [(counts[(modules, op, shape, size)] - setup) / REPEAT / 1e6 for op in OPERATIONS]
            print("| %s | %s |" % (modules, " | ".join("%.2f" % value for value in per_operation[modules])))
        baseline = per_operation[args.modules[0]]
        for modules in args.modules[1:]:
            print("| %s against %s | %s |" % (modules, args.modules[0], " | ".join(
                "%+.1f%%" % (100.0 * (value / base - 1)) for value, base in zip(per_operation[modules], baseline))))


if __name__ == "__main__":
    main()
