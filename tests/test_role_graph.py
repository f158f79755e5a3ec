"""The role graph: construction, the primitive graph updates, robustness."""

import copy
import unittest

import orvek_engine
import util
from velmark import Group, Policy, Velmark

STAR = ("*", "*")
DEFAULT_GRAPH = [("admin", ["root"]), ("root", [STAR]), (STAR, []), ("public", [])]


def graph(doc):
    """The graph as an ordered list, so key order takes part in comparisons."""
    return list(doc.dag.items())


def dangling(doc):
    """Successor entries that are not keys (the graph must never have any)."""
    return [(node, entry) for node, entries in doc.dag.items()
            for entry in entries if entry not in doc.dag]


class TestConstruction(unittest.TestCase):

    def test_default_document(self):
        """A new application must start with admin containing root holding everything."""
        doc = Velmark()
        self.assertEqual(doc.policies, [Policy(sub="root", obj="*", act="*")])
        self.assertEqual(doc.groups, [Group(child="admin", parent="root")])
        self.assertIs(type(doc.dag), dict)
        self.assertEqual(graph(doc), DEFAULT_GRAPH)
        self.assertEqual([type(entries) for entries in doc.dag.values()], [list] * 4)

    def test_explicit_empty_lists_get_no_defaults(self):
        """An application created without roles must not silently get root or admin."""
        given = []
        doc = Velmark(policies=given)
        self.assertIs(doc.policies, given)
        self.assertEqual(doc.groups, [Group(child="admin", parent="root")])
        self.assertEqual(graph(doc), [("admin", ["root"]), ("root", []), ("public", [])])

        doc = Velmark(groups=[])
        self.assertEqual(doc.policies, [Policy(sub="root", obj="*", act="*")])
        self.assertEqual(graph(doc), [("root", [STAR]), (STAR, []), ("public", [])])

        doc = Velmark(policies=[], groups=[])
        self.assertEqual((doc.policies, doc.groups), ([], []))
        self.assertEqual(graph(doc), [("public", [])])

    def test_defaults_are_fresh_and_caller_mapping_untouched(self):
        """Editing one application's roles must never show up in another's."""
        kwargs = {"name": "my-app"}
        first = Velmark(**kwargs)
        self.assertEqual(kwargs, {"name": "my-app"})
        second = Velmark(**kwargs)
        self.assertIsNot(first.policies, second.policies)
        self.assertIsNot(first.groups, second.groups)
        self.assertIsNot(first.policies[0], second.policies[0])
        self.assertIsNot(first.groups[0], second.groups[0])
        self.assertIsNot(first.dag, second.dag)
        self.assertIsNot(first.dag["admin"], second.dag["admin"])
        first.policies.append(Policy(sub="x", obj="o", act="a"))
        first.groups.append(Group(child="x", parent="y"))
        first._dag_add_group(Group(child="admin", parent="extra"))
        self.assertEqual(second.policies, [Policy(sub="root", obj="*", act="*")])
        self.assertEqual(second.groups, [Group(child="admin", parent="root")])
        self.assertEqual(graph(second), DEFAULT_GRAPH)
        self.assertEqual(graph(Velmark()), DEFAULT_GRAPH)

    def test_stored_lists_shape_the_graph(self):
        """Duplicates, shared permissions, self-containment and key order from the stored lists."""
        doc = Velmark(
            groups=[Group(child="a", parent="b"), Group(child="c", parent="a"),
                    Group(child="a", parent="b"), Group(child="s", parent="s")],
            policies=[Policy(sub="b", obj="o", act="r"), Policy(sub="a", obj="o2", act="w"),
                      Policy(sub="c", obj="o", act="r"), Policy(sub="b", obj="o", act="r")])
        self.assertEqual(graph(doc), [
            ("a", ["b", ("o2", "w")]), ("b", [("o", "r")]), ("c", ["a", ("o", "r")]),
            ("s", ["s"]), (("o", "r"), []), (("o2", "w"), []), ("public", [])])
        self.assertEqual(dangling(doc), [])

    def test_public_mentioned_by_records_is_not_reset(self):
        """Rules given to the public role must survive construction."""
        doc = Velmark(groups=[Group(child="public", parent="guest")],
                      policies=[Policy(sub="public", obj="page", act="read"),
                                Policy(sub="guest", obj="faq", act="read")])
        self.assertEqual(graph(doc), [
            ("public", ["guest", ("page", "read")]), ("guest", [("faq", "read")]),
            (("page", "read"), []), (("faq", "read"), [])])
        doc = Velmark(groups=[Group(child="x", parent="public")], policies=[])
        self.assertEqual(graph(doc), [("x", ["public"]), ("public", [])])

    def test_overridden_graph_methods_are_called_through_the_object(self):
        """A subclass hooking the graph updates must see every call construction makes."""
        calls = []

        class Audited(Velmark):
            def _dag_generate(self):
                calls.append("generate")
                return super()._dag_generate()

            def _dag_add_group(self, group):
                calls.append(("group", group.child, group.parent))
                return super()._dag_add_group(group)

            def _dag_add_policy(self, policy):
                calls.append(("policy", policy.sub, policy.obj, policy.act))
                return super()._dag_add_policy(policy)

        doc = Audited()
        self.assertEqual(calls, ["generate", ("group", "admin", "root"),
                                 ("policy", "root", "*", "*")])
        self.assertEqual(graph(doc), DEFAULT_GRAPH)
        del calls[:]
        doc._dag_set_groups("admin", [Group(child="admin", parent="x"),
                                      Group(child="other", parent="y")])
        doc._dag_set_policies("root", [Policy(sub="root", obj="o", act="a")])
        self.assertEqual(calls, [("group", "admin", "x"), ("policy", "root", "o", "a")])

    def test_saved_document_loads_back_to_the_same_graph(self):
        """A document read back from the engine must answer with the roles it was saved with."""
        orvek_engine.clear_store()
        self.addCleanup(orvek_engine.clear_store)
        doc = Velmark(name="my-app",
                      groups=[Group(child="admin", parent="root"),
                              Group(child="editor", parent="viewer")],
                      policies=[Policy(sub="root", obj="*", act="*"),
                                Policy(sub="viewer", obj="page", act="read")])
        # The graph itself is never saved: an edge only in the graph is lost.
        doc._dag_add_group(Group(child="viewer", parent="root"))
        before = graph(doc)
        doc.save()
        loaded = Velmark.load(name="my-app")
        self.assertIsNot(loaded.dag, doc.dag)
        self.assertEqual(loaded.groups, doc.groups)
        self.assertEqual(graph(loaded), [
            ("admin", ["root"]), ("root", [STAR]), ("editor", ["viewer"]),
            ("viewer", [("page", "read")]), (STAR, []), (("page", "read"), []),
            ("public", [])])
        self.assertEqual(graph(doc), before)

        orvek_engine.clear_store()
        Velmark(name="plain").save()
        self.assertEqual(graph(Velmark.load(name="plain")), DEFAULT_GRAPH)


class TestGraphUpdates(unittest.TestCase):

    def rich_document(self):
        """A role `r` that contains two roles and holds two permissions."""
        return Velmark(groups=[Group(child="r", parent="p1"), Group(child="r", parent="p2")],
                       policies=[Policy(sub="r", obj="o1", act="a"),
                                 Policy(sub="r", obj="o2", act="a")])

    def test_set_policies(self):
        """Replacing a role's permissions must keep its sub-roles and every node."""
        doc = self.rich_document()
        keys = list(doc.dag)
        self.assertIsNone(doc._dag_set_policies("r", []))
        self.assertEqual(doc.dag["r"], ["p1", "p2"])
        self.assertEqual(list(doc.dag), keys)

        doc = self.rich_document()
        doc._dag_set_policies("r", [Policy(sub="other", obj="o9", act="a")])
        self.assertEqual(doc.dag["r"], ["p1", "p2"])
        self.assertEqual(list(doc.dag), keys)

        doc = self.rich_document()
        same = Policy(sub="r", obj="o3", act="a")
        doc._dag_set_policies("r", [same, Policy(sub="x", obj="o4", act="a"), same,
                                    Policy(sub="r", obj="o1", act="a")])
        self.assertEqual(doc.dag["r"], ["p1", "p2", ("o3", "a"), ("o1", "a")])
        self.assertEqual(list(doc.dag), keys + [("o3", "a")])
        self.assertNotIn(("o4", "a"), doc.dag)
        self.assertEqual(dangling(doc), [])

    def test_set_groups(self):
        """Replacing a role's sub-roles must keep its permissions, which then come first."""
        doc = self.rich_document()
        keys = list(doc.dag)
        self.assertIsNone(doc._dag_set_groups("r", []))
        self.assertEqual(doc.dag["r"], [("o1", "a"), ("o2", "a")])
        self.assertEqual(list(doc.dag), keys)

        doc = self.rich_document()
        doc._dag_set_groups("r", [Group(child="other", parent="p9")])
        self.assertEqual(doc.dag["r"], [("o1", "a"), ("o2", "a")])
        self.assertEqual(list(doc.dag), keys)

        doc = self.rich_document()
        same = Group(child="r", parent="n1")
        doc._dag_set_groups("r", [same, Group(child="r", parent="p2"), same,
                                  Group(child="x", parent="n2")])
        self.assertEqual(doc.dag["r"], [("o1", "a"), ("o2", "a"), "n1", "p2"])
        self.assertEqual(list(doc.dag), keys + ["n1"])
        self.assertEqual(dangling(doc), [])

        doc = Velmark(groups=[])
        doc._dag_set_groups("root", [])
        self.assertEqual(doc.dag["root"], [STAR])

    def test_set_on_unknown_role_raises_keyerror_and_changes_nothing(self):
        """Replacing the contents of a role the graph lacks must not half-apply."""
        doc = self.rich_document()
        before = copy.deepcopy(graph(doc))
        for call in (lambda: doc._dag_set_policies("nobody",
                                                   [Policy(sub="nobody", obj="o", act="a")]),
                     lambda: doc._dag_set_groups("nobody",
                                                 [Group(child="nobody", parent="r")])):
            with self.assertRaises(KeyError) as caught:
                call()
            self.assertEqual(caught.exception.args, ("nobody",))
            self.assertEqual(graph(doc), before)

    def test_adds(self):
        """Adding must append new keys in order and never duplicate an edge."""
        doc = Velmark()
        lists = [id(entries) for entries in doc.dag.values()]
        self.assertIsNone(doc._dag_add_group(Group(child="admin", parent="root")))
        self.assertIsNone(doc._dag_add_policy(Policy(sub="root", obj="*", act="*")))
        self.assertEqual(graph(doc), DEFAULT_GRAPH)
        self.assertEqual([id(entries) for entries in doc.dag.values()], lists)

        doc._dag_add_group(Group(child="new_child", parent="new_parent"))
        doc._dag_add_policy(Policy(sub="new_sub", obj="o", act="a"))
        doc._dag_add_group(Group(child="admin", parent="public"))
        doc._dag_add_group(Group(child="admin", parent="fresh"))
        doc._dag_add_policy(Policy(sub="admin", obj="*", act="*"))
        doc._dag_add_policy(Policy(sub="new_child", obj="o", act="a"))
        self.assertEqual(graph(doc), [
            ("admin", ["root", "public", "fresh", STAR]), ("root", [STAR]), (STAR, []),
            ("public", []), ("new_child", ["new_parent", ("o", "a")]), ("new_parent", []),
            ("new_sub", [("o", "a")]), (("o", "a"), []), ("fresh", [])])

    def test_unhashable_values_change_nothing(self):
        """A malformed record must be refused without leaving a successor that is no node."""
        for record, add in [
                (Policy(sub="root", obj=["o"], act="a"), "_dag_add_policy"),
                (Policy(sub="root", obj="o", act={"a": 1}), "_dag_add_policy"),
                (Policy(sub="brand_new", obj=["o"], act="a"), "_dag_add_policy"),
                (Policy(sub=["root"], obj="o", act="a"), "_dag_add_policy"),
                (Group(child="admin", parent=["p"]), "_dag_add_group"),
                (Group(child="brand_new", parent={}), "_dag_add_group"),
                (Group(child=["admin"], parent="root"), "_dag_add_group")]:
            with self.subTest(record=record):
                doc = Velmark()
                before = copy.deepcopy(graph(doc))
                with self.assertRaises(TypeError):
                    getattr(doc, add)(record)
                self.assertEqual(graph(doc), before)

        # A replacement that fails half way keeps what it re-added before the error.
        doc = self.rich_document()
        with self.assertRaises(TypeError):
            doc._dag_set_policies("r", [Policy(sub="r", obj="o3", act="a"),
                                        Policy(sub="r", obj=["o4"], act="a"),
                                        Policy(sub="r", obj="o5", act="a")])
        self.assertEqual(doc.dag["r"], ["p1", "p2", ("o3", "a")])
        self.assertEqual(dangling(doc), [])


# Run in a child interpreter so that a crash shows up as an exit code.
BAD_INPUT_SCRIPT = r'''
import inspect, sys
import velmark
from velmark import Group, Policy, Velmark

class Odd:
    """Compares unequal to everything and hashes like a string."""
    def __eq__(self, other): return False
    __hash__ = object.__hash__

class Raising:
    def __eq__(self, other): raise ValueError("eq")
    def __hash__(self): raise ValueError("hash")
    def __bool__(self): raise ValueError("bool")
    def __iter__(self): raise ValueError("iter")

class Mutating:
    """Hashes like "root" but empties the lists being walked when compared."""
    def __init__(self, doc): self.doc = doc
    def __hash__(self): return hash("root")
    def __eq__(self, other):
        for entries in list(self.doc.dag.values()):
            del entries[:]
        del self.doc.policies[:]
        del self.doc.groups[:]
        self.doc.dag.clear()
        return False

class DagDict(dict):
    def __getitem__(self, key): raise RuntimeError("no lookups")

BAD = [None, 0, -1, 2 ** 80, 1.5, b"root", "", "root", ("*", "*"), ("a",),
       [], ["root"], [None], [["x"]], {}, {"a": 1}, {"obj": "o"}, object(), Odd(),
       Raising(), Policy(sub=None, obj=None, act=None), Group(child=[], parent={}),
       [Policy(sub=[], obj="o", act="a")], [Group(child="root", parent=[])],
       [{"obj": [], "act": "a"}], [{"obj": "o"}], [{"bogus": 1}], [Raising()],
       Velmark, velmark]

def fresh():
    return Velmark(groups=[Group(child="admin", parent="root"),
                           Group(child="root", parent="root")])

def try_call(func, *args, **kwargs):
    try:
        func(*args, **kwargs)
    except Exception:
        pass

calls = 0
for name in [n for n in Velmark._namespace_log[13:]]:
    method = vars(Velmark)[name]
    params = list(inspect.signature(method).parameters)
    if name == "__init__":
        for key in ("policies", "groups", "name", "new_user_profile"):
            for value in BAD:
                try_call(Velmark, **{key: value})
                calls += 1
        for value in BAD:
            try_call(method, value)
            try_call(method, fresh(), policies=value, groups=value)
            calls += 2
        continue
    base = [fresh()] + ["root"] * (len(params) - 1)
    for position in range(len(params)):
        for value in BAD:
            args = list(base)
            args[0] = fresh()
            args[position] = value
            try_call(method, *args)
            try_call(method, *args[:position], value, *args[position + 1:])
            calls += 2
    # The document's own state made wrong behind the methods' back.
    for breakage in ("dag=None", "dag=[]", "dag=DagDict()", "policies=None",
                     "groups=None", "policies=[1]", "groups=[Raising()]",
                     "dag={'root': None, 'admin': 5}", "del dag"):
        doc = fresh()
        if breakage.startswith("del "):
            del doc.dag
        else:
            key, value = breakage.split("=", 1)
            setattr(doc, key, eval(value))
        try_call(method, doc, *(["root"] * (len(params) - 1)))
        try_call(method, doc, *([["root"]] * (len(params) - 1)))
        calls += 2

# Lists and graph emptied in the middle of a scan.
for name, make in [
        ("_dag_add_policy", lambda doc: (Policy(sub="root", obj=Mutating(doc), act="a"),)),
        ("_dag_add_group", lambda doc: (Group(child="admin", parent=Mutating(doc)),)),
        ("_dag_set_policies", lambda doc: ("root", [Policy(sub=Mutating(doc), obj="o", act="a")] * 3)),
        ("_dag_set_groups", lambda doc: ("admin", [Group(child=Mutating(doc), parent="x")] * 3)),
        ("get_role_contents", lambda doc: (Mutating(doc),)),
        ("get_implicit_permissions_for_roles", lambda doc: ([Mutating(doc), "root"],)),
        ("_check_new_group", lambda doc: (Group(child=Mutating(doc), parent="root"),)),
        ("add_role_sub_roles", lambda doc: ("admin", [Mutating(doc), "root"])),
        ("set_role_sub_roles", lambda doc: ("admin", [Mutating(doc), "root"]))]:
    for _ in range(3):
        doc = fresh()
        for i in range(20):
            doc.policies.append(Policy(sub="root", obj="o%d" % i, act="a"))
            doc._dag_add_policy(doc.policies[-1])
        try_call(getattr(doc, name), *make(doc))
        calls += 1

# A containment chain far deeper than the interpreter's recursion limit.
chain = [Group(child="r%d" % i, parent="r%d" % (i + 1)) for i in range(30000)]
doc = Velmark(groups=chain, policies=[Policy(sub="r30000", obj="o", act="a")])
try_call(doc.get_implicit_permissions_for_roles, ["r0"])
try_call(doc._check_new_group, Group(child="r30000", parent="r0"))
print("calls", calls)
'''


class TestRobustness(unittest.TestCase):

    def test_bad_input_never_crashes(self):
        """Wrong types anywhere must surface as exceptions, never take the host process down."""
        proc = util.run_python(BAD_INPUT_SCRIPT, [util.BUILD_DIR, util.STANDINS], timeout=600)
        self.assertEqual(proc.returncode, 0,
                         "child exited with %d\n%s" % (proc.returncode, proc.stderr[-3000:]))
        self.assertIn("calls", proc.stdout)

    def test_no_leaks(self):
        """Long-running hosts must not grow with each construction or graph update."""
        doc = Velmark()
        known_policy = Policy(sub="root", obj="*", act="*")
        known_group = Group(child="admin", parent="root")
        bad_policy = Policy(sub="root", obj=["o"], act="a")

        def failing(call, error):
            def action():
                try:
                    call()
                except error:
                    pass
            return action

        actions = {
            "construct": lambda: Velmark(),
            "add_policy": lambda: doc._dag_add_policy(known_policy),
            "add_group": lambda: doc._dag_add_group(known_group),
            "set_policies": lambda: doc._dag_set_policies("root", [known_policy]),
            "set_groups": lambda: doc._dag_set_groups("admin", [known_group]),
            "generate": lambda: doc._dag_generate(),
            "set_groups_keyerror": failing(lambda: doc._dag_set_groups("nobody", []),
                                           KeyError),
            "binding_typeerror": failing(lambda: doc._dag_set_groups("admin"), TypeError),
            "unhashable_typeerror": failing(lambda: doc._dag_add_policy(bad_policy),
                                            TypeError),
        }
        for name, action in actions.items():
            with self.subTest(action=name):
                growth = util.memory_growth(action, repeat=10000)
                self.assertLess(growth, 64 * 1024, "%s grew by %d bytes" % (name, growth))
        self.assertEqual(graph(doc), DEFAULT_GRAPH)


if __name__ == "__main__":
    unittest.main()
