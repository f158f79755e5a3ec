"""Long-lived hosts: repeated calls must not grow memory, and bad input must never crash the interpreter."""

import gc
import inspect
import itertools
import unittest

import util
import velmark
from messages import AppNameField
from velmark import Group, Policy


# Calls `call`; returns the type of the ordinary exception it raised, if any.
def attempt(call, *args, **kwargs):
    try:
        call(*args, **kwargs)
    except Exception as exc:
        return type(exc)


class NoLeakTest(unittest.TestCase):
    def test_repeated_calls_keep_memory_flat(self):
        """Repeating any call, failing or not, 10,000 times must not grow memory."""
        doc = fresh()
        perms, policy, group, roles = [{"obj": "d", "act": "r"}], doc.policies[0], doc.groups[0], ["root", "mid"]
        calls = [  # (callable, arguments...): seventeen calls that succeed, then seven that fail
            (velmark.Velmark,), (lambda: util.QuietDoc(policies=doc.policies[:], groups=doc.groups[:]),),
            (doc.get_role_contents, "admin"), (doc.get_implicit_permissions_for_roles, ["admin", "stranger"]),
            (doc.add_role_permissions, "admin", perms), (doc.set_role_permissions, "admin", perms),
            (doc.add_role_sub_roles, "admin", roles), (doc.add_role_sub_roles, "mid", ["admin"]), (doc._dag_generate,),
            (doc.set_role_sub_roles, "admin", roles), (doc._dag_add_policy, policy), (doc._dag_add_group, group),
            (doc._dag_set_policies, "root", [policy]), (doc._dag_set_groups, "admin", [group]),
            (lambda: doc._dfs("admin", dict.fromkeys(doc.dag, 0)),), (lambda: AppNameField("d", unique=True),),
            (doc._check_new_group, Group(child="mid", parent="admin")), (doc.set_role_permissions, "ghost", perms),
            (doc.add_role_sub_roles, "admin", ["ghost"]), (doc._dfs, "ghost", {}), (doc._dag_set_groups, "admin"),
            (doc.add_role_permissions, "admin", [5]), (AppNameField, 1, 2, 3, 4), (AppNameField.__init__, 0, "d")]
        self.assertEqual([attempt(*call) for call in calls], [None] * 17 + [KeyError] * 3 + [TypeError] * 4)
        for call in calls:
            with self.subTest(call[0], args=call[1:]):
                self.assertLess(util.memory_growth(lambda: attempt(*call), 10000), 64 * 1024)


# A permission readable both as a mapping and through attributes.
class Perm(dict):
    __getattr__ = dict.__getitem__


class KeysFail:
    keys = __getitem__ = None  # shaped like a mapping, but asking for its keys fails


# Hashes like "root"; comparing it, or testing its truth, empties the given containers.
class Wrecker:
    def __init__(self, *containers):
        self.containers = containers

    __hash__ = "root".__hash__

    def __eq__(self, other=None):
        for container in self.containers:
            container.clear()
        return False

    __bool__ = __eq__


# admin contains root, root and mid contain each other: every walk meets a cycle and long lists.
def fresh():
    return util.QuietDoc(policies=[Policy(sub="mid", obj="o%d" % i, act="a") for i in range(9)], groups=[
        Group(child="admin", parent="root"), Group(child="root", parent="mid"), Group(child="mid", parent="root")])


# None, ints, bytes, unhashables, failing iterables and mappings, junk graphs, and values that wreck `doc` mid-scan.
def bad_values(doc):
    wreck, marks = Wrecker(doc.policies, doc.groups, doc.dag, *doc.dag.values()), {}
    marks.update(dict.fromkeys(doc.dag, Wrecker(marks)))
    return [None, 0, 2 ** 80, b"root", "ghost", [], {}, [None], [b"x"], [[]], [{}], [5], [Perm(obj=[], act="a")],
            [{"obj": "o"}], [dict(obj="o", act="a", extra=1)], map(str.strip, ["root", None]), [KeysFail()],
            Group(child=[], parent={}), [Group(child="root", parent=[])], [Policy(sub=[], obj="o", act="a")],
            {"admin": ("root",), "root": 5}, {"admin": ["ghost"]}, Policy(sub=wreck, obj="o", act="a"),
            [wreck, "root"], Group(child=wreck, parent="root"), [Perm(obj=wreck, act="a")], marks]


# Arguments that a call with parameter `name` accepts; the rest are role names or lists of them.
def plausible(doc, name):
    group = Group(child="mid", parent="admin")
    return {"self": doc, "policy": doc.policies[-1], "group": group, "new_group": group, "groups": [group],
            "permissions": [Perm(obj="o", act="a")], "policies": doc.policies[-2:], "_acl": None,
            "discovered": dict.fromkeys(doc.dag, False)}.get(name, ["root", "mid"] if name.endswith("s") else "root")


# Every method with each bad value in each place, and on documents whose graph or stored lists hold it instead.
def probe():
    methods = [value for value in vars(velmark.Velmark).values() if callable(value)]
    for method in methods + [AppNameField, AppNameField.__init__]:
        names = [p.name for p in inspect.signature(method).parameters.values() if p.kind == p.POSITIONAL_OR_KEYWORD]
        for position, index in itertools.product(range(len(names) + 3), range(len(bad_values(fresh())))):
            doc = fresh()
            args, value = [plausible(doc, name) for name in names], bad_values(doc)[index]
            if position < len(names):
                args[position] = value
            else:
                setattr(doc, ("dag", "policies", "groups")[position - len(names)], value)
            attempt(method, *args)
            attempt(method, *args, zeta=value)
            attempt(doc.get_implicit_permissions_for_roles, ["admin", "stranger"])
    for value in bad_values(fresh()):
        attempt(util.QuietDoc, policies=value)
        attempt(util.QuietDoc, groups=value)
    gc.collect()
    print(len(methods), "methods")


class NoCrashTest(unittest.TestCase):
    def test_bad_input_never_crashes(self):
        """No argument or corrupted state may take the host down: every failure must be an ordinary exception."""
        util.assert_printed(self, util.run_python("import test_resources as t; t.probe()"), "18 methods\n")

    def test_daemon_threads_busy_at_exit_never_crash(self):
        """Threads still updating and querying a shared document while the interpreter shuts down must not crash it."""
        runs = util.run_many("""
            import threading, time, util
            doc, perms = util.QuietDoc(name="app"), [{"obj": "doc", "act": "read"}, {"obj": "page", "act": "view"}]
            def churn():
                while True:
                    try:
                        doc.add_role_permissions("admin", perms)
                        doc.set_role_sub_roles("admin", ["root"])
                        doc.get_implicit_permissions_for_roles(["admin", "root"])
                    except Exception:
                        pass
            for _ in range(8):
                threading.Thread(target=churn, daemon=True).start()
            time.sleep(0.05)
            """, 100)
        self.assertEqual([(run.returncode, run.stderr) for run in runs if run.returncode], [])

    def test_threads_ended_inside_a_release_exit_cleanly(self):
        """A daemon thread ended at exit while a method releases an object whose __del__ gives up the lock must let
        the process exit: a role name released by a query, and a successor list the walk alone still held."""
        for path in ("query", "walk"):
            runs = util.run_many(ENDED_INSIDE_A_RELEASE % path, 8)
            self.assertEqual([(run.returncode, run.stdout) for run in runs], [(0, "exiting\n")] * 8, path)


# A daemon thread busy in `velmark` releasing objects whose __del__ sleeps, while the interpreter exits.
ENDED_INSIDE_A_RELEASE = """
import threading, time, velmark
class Sleepy(str):
    def __del__(self):
        time.sleep(0.002)
doc = velmark.Velmark(policies=[], groups=[])
class Marks(dict):
    def __setitem__(self, node, mark):
        super().__setitem__(node, mark)
        if node == "b":   # the walk is left the only holder of a's old successor list
            doc.dag["a"] = ["b"]
def query():
    while True:
        doc.get_implicit_permissions_for_roles(map(Sleepy, ["a"] * 10))
def walk():
    while True:
        doc.dag = {"a": ["b", Sleepy("b")], "b": []}
        doc._dfs("a", Marks(a=False, b=False))
started = threading.Event()
threading.Thread(target=lambda: started.set() or %s(), daemon=True).start()
started.wait()
garbage = [[i] for i in range(300000)]   # keeps the exit busy while the thread wakes
time.sleep(0.05)
print("exiting")
"""
