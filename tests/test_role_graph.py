"""The role graph: construction and the primitive graph updates."""

import functools
import unittest

import util
from util import groups, make_doc, policies
import orvek_engine
from velmark import Group, Policy, Velmark

STAR, O1, O2, O3 = ("*", "*"), ("o1", "a"), ("o2", "a"), ("o3", "a")
DEFAULT_GRAPH = [("admin", ["root"]), ("root", [STAR]), (STAR, []), ("public", [])]
RICH_KEYS = ["r", "p1", "p2", O1, O2, "public"]


def graph(doc):  # ordered, so that key order takes part in comparisons
    return list(doc.dag.items())


def rich():  # a role r that contains p1 and p2 and holds o1 and o2: keys RICH_KEYS
    return make_doc([("r", "p1"), ("r", "p2")], [("r", "o1", "a"), ("r", "o2", "a")])


class TestRoleGraph(unittest.TestCase):
    def test_default_roles_only_for_missing_keywords(self):
        """A document must get the default roles for a missing keyword only, leaving the caller's keywords alone."""
        for kwargs, expected in [
                ({"name": "my-app"}, DEFAULT_GRAPH),
                ({"policies": []}, [("admin", ["root"]), ("root", []), ("public", [])]),
                ({"groups": []}, [("root", [STAR]), (STAR, []), ("public", [])]),
                ({"policies": [], "groups": []}, [("public", [])])]:
            given = dict(kwargs)
            self.assertEqual(graph(Velmark(**given)), expected, kwargs)
            self.assertEqual(given, kwargs, "the caller's mapping changed")

    def test_defaults_are_never_shared(self):
        """Nothing of the default lists, records or graph may be shared between two documents."""
        first, second = ([doc.policies, doc.groups, doc.policies[0], doc.groups[0], doc.dag,
                          doc.dag["root"]] for doc in (Velmark(), Velmark()))
        self.assertEqual([mine is theirs for mine, theirs in zip(first, second)], [False] * 6)

    def test_records_alone_shape_the_graph_also_when_read_back(self):
        """Records alone shape the graph, keys in first-named order; read back, the saved lists give it again."""
        # Repeats, a shared permission, self-containment, public mentioned by records, key order.
        doc = make_doc([("a", "b"), ("c", "a"), ("a", "b"), ("s", "s"), ("public", "g")], [
            ("b", "o", "r"), ("a", "o2", "w"), ("c", "o", "r"), ("b", "o", "r"), ("public", "page", "read")],
            name="graph-app")
        expected = [("a", ["b", ("o2", "w")]), ("b", [("o", "r")]), ("c", ["a", ("o", "r")]), ("s", ["s"]),
                    ("public", ["g", ("page", "read")]), ("g", []), (("o", "r"), []), (("o2", "w"), []),
                    (("page", "read"), [])]
        self.assertEqual(graph(doc), expected)
        self.addCleanup(orvek_engine.clear_store)
        doc._dag_add_group(Group(child="g", parent="a"))
        doc.save()
        self.assertEqual(graph(Velmark.load(name="graph-app")), expected)

    def test_equal_names_that_are_other_objects_are_one_node(self):
        """Equal names that are other objects, hashed yet or not, must be one node with one edge to it, whether
        repeated in the stored lists or given to a replacement."""
        for hashed in (False, True):
            with self.subTest(hashed=hashed):
                twins = functools.partial(util.twins, self, hashed)
                doc = make_doc(twins(("admin", "root"), ("root", "top"), ("admin", "root")),
                               twins(("admin", "doc", "read"), ("top", "doc", "read"), ("admin", "doc", "read")))
                self.assertEqual(graph(doc), [("admin", ["root", ("doc", "read")]), ("root", ["top"]),
                                              ("top", [("doc", "read")]), (("doc", "read"), []), ("public", [])])
                admin, root = (util.twin(self, hashed, text) for text in ("admin", "root"))
                doc._dag_set_policies(admin, policies(*twins(("admin", "page", "view"), ("admin", "doc", "read"),
                                                              ("root", "doc", "read"), ("admin", "page", "view"))))
                doc._dag_set_groups(root, groups(*twins(("root", "top"), ("admin", "top"), ("root", "top"))))
                self.assertEqual(graph(doc), [("admin", ["root", ("page", "view"), ("doc", "read")]), ("root", ["top"]),
                                              ("top", [("doc", "read")]), (("doc", "read"), []), ("public", []),
                                              (("page", "view"), [])])

    def test_overridden_adds_are_called_through_the_object(self):
        """A subclass hooking the graph adds must see every call that building and replacing make."""
        calls = []

        class Audited(Velmark):
            def _dag_add_group(self, group):
                calls.append(group)
                return super()._dag_add_group(group)

            def _dag_add_policy(self, policy):
                calls.append(policy)
                return super()._dag_add_policy(policy)

        doc = Audited()
        doc._dag_set_groups("admin", groups(("admin", "x"), ("other", "y")))
        doc._dag_set_policies("root", policies(("root", "o", "a")))
        self.assertEqual(calls, groups(("admin", "root")) + policies(("root", "*", "*"))
                         + groups(("admin", "x")) + policies(("root", "o", "a")))

    def test_replacing_keeps_the_other_kind_and_every_node(self):
        """Replacing permissions keeps sub-roles and the reverse, no key is lost; unknown roles fail."""
        for method, records, entries, new_keys in [
                ("_dag_set_policies", [], ["p1", "p2"], []),
                ("_dag_set_policies", policies(("r", "o3", "a"), ("x", "o4", "a"), ("r", "o3", "a"),
                                               ("r", "o1", "a")), ["p1", "p2", O3, O1], [O3]),
                ("_dag_set_groups", [], [O1, O2], []),
                ("_dag_set_groups", groups(("r", "n1"), ("r", "p2"), ("r", "n1"), ("x", "n2")),
                 [O1, O2, "n1", "p2"], ["n1"])]:
            doc = rich()
            self.assertIsNone(getattr(doc, method)("r", records))
            self.assertEqual(doc.dag["r"], entries, method)
            self.assertEqual(list(doc.dag), RICH_KEYS + new_keys, method)
        for method, records in [("_dag_set_policies", policies(("nobody", "o", "a"))),
                                ("_dag_set_groups", groups(("nobody", "r")))]:
            doc = rich()
            with self.assertRaises(KeyError) as caught:
                getattr(doc, method)("nobody", records)
            self.assertEqual(caught.exception.args, ("nobody",), method)
            self.assertEqual(graph(doc), graph(rich()), method)

    def test_adds_find_new_roles_by_membership(self):
        """A graph that answers lookups of missing roles must still get every new role as a key, with its edge."""
        class Lenient(dict):
            def __missing__(self, role):   # answers without storing
                return []

        self.addCleanup(orvek_engine.clear_store)
        doc = Velmark()
        doc.dag = Lenient(doc.dag)
        doc._dag_add_policy(Policy(sub="new", obj="o", act="a"))
        doc._dag_add_group(Group(child="new2", parent="root"))
        doc.add_role_permissions("new3", [{"obj": "o", "act": "a"}])
        self.assertEqual(graph(doc), DEFAULT_GRAPH + [("new", [("o", "a")]), (("o", "a"), []), ("new2", ["root"]),
                                                      ("new3", [("o", "a")])])

    def test_adds_append_in_order_without_repeating_an_edge(self):
        """Each add must append its edge, and its new keys, in order, never an edge the role has already."""
        doc = Velmark()
        for record in groups(("admin", "root"), ("c", "p"), ("admin", "public"), ("admin", "f")):
            doc._dag_add_group(record)
        for record in policies(("root", "*", "*"), ("s", "o", "a"), ("admin", "*", "*"), ("c", "o", "a")):
            doc._dag_add_policy(record)
        for hashed in (False, True):   # the same edges again, named by equal strs that are other objects
            for record in groups(*util.twins(self, hashed, ("admin", "root"), ("admin", "public"))):
                doc._dag_add_group(record)
        self.assertEqual(graph(doc), [
            ("admin", ["root", "public", "f", STAR]), ("root", [STAR]), (STAR, []), ("public", []),
            ("c", ["p", ("o", "a")]), ("p", []), ("f", []), ("s", [("o", "a")]), (("o", "a"), [])])

    def test_adds_refuse_unhashable_values_cleanly(self):
        """A record with a value that cannot be hashed must raise TypeError and leave no stray successor."""
        for record in [Policy(sub="root", obj=["o"], act="a"), Policy(sub="new", obj="o", act={}),
                       Policy(sub=["root"], obj="o", act="a"), Group(child="admin", parent=["p"]),
                       Group(child="new", parent={}), Group(child=["admin"], parent="root")]:
            doc = Velmark()
            add = doc._dag_add_policy if isinstance(record, Policy) else doc._dag_add_group
            self.assertRaises(TypeError, add, record)
            self.assertEqual(graph(doc), DEFAULT_GRAPH, record)
        # A replacement failing half way keeps what it re-added before the error.
        doc = rich()
        records = policies(("r", "o3", "a"), ("r", ["o4"], "a"), ("r", "o5", "a"))
        self.assertRaises(TypeError, doc._dag_set_policies, "r", records)
        self.assertEqual(doc.dag["r"], ["p1", "p2", O3])
        self.assertEqual(list(doc.dag), RICH_KEYS + [O3])
