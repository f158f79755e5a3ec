"""What a role holds directly, and what a set of roles holds through everything it contains."""

import _testcapi
import functools
import unittest

import util
import velmark
from util import make_doc, perm


class QueryTest(unittest.TestCase):
    def test_answers_are_built_with_exact_keywords(self):
        """The answer must get name, roles, permissions in that order, and each permission as obj then act."""
        calls = util.capture_from_display(self, "RoleContent")
        doc = velmark.Velmark(name="app")
        doc.get_role_contents("admin")
        doc.get_role_contents(role_name="root", _acl=object())
        doc.get_implicit_permissions_for_roles(["admin"])
        self.assertEqual(calls, [[("name", "admin"), ("roles", ["root"]), ("permissions", [])],
                                 [("name", "root"), ("roles", []), ("permissions", [perm("*", "*")])],
                                 [("name", "admin"), ("permissions", [perm("*", "*")])]])
        self.assertEqual([list(calls[i][-1][1][0]) for i in (1, 2)], [["obj", "act"]] * 2)

    def test_role_contents_follow_the_stored_lists(self):
        """Direct contents must follow the stored lists, repeats included, ignoring the graph and inheritance."""
        doc = make_doc([("a", "c"), ("b", "x"), ("a", "b"), ("a", "c")],
                       [("a", "o2", "w"), ("c", "o9", "r"), ("a", "o1", "r"), ("a", "o2", "w")])
        doc.dag["a"].append("public")
        self.assertEqual(doc.get_role_contents("a").to_display(), {"name": "a", "roles": ["c", "b", "c"],
                         "permissions": [perm("o2", "w"), perm("o1", "r"), perm("o2", "w")]})

    def test_implicit_permissions_follow_graph_key_order(self):
        """Permissions must come once each in graph key order, and public's only to those asking for it."""
        # Keys: a, b, ("o2","w"), ("o1","r"); a walk from a meets b's ("o1","r") first.
        doc = make_doc([("a", "b")], [("a", "o2", "w"), ("b", "o1", "r"), ("b", "o2", "w"),
                                      ("c", "o3", "x"), ("public", "p", "v")])
        calls, both = util.capture_from_display(self, "RoleContent"), [perm("o2", "w"), perm("o1", "r")]
        for names, joined, permissions in [
                (["a"], "a", both), (["b", "a", "b"], "b,a,b", both), ("ab", "a,b", both),
                (["c", "a"], "c,a", both + [perm("o3", "x")]), ([], "", []),
                (["stranger", "a"], "stranger,a", both), (["a", "public"], "a,public", both + [perm("p", "v")]),
                (iter(["a", "late"]), "", [])]:   # a one-shot iterator is used up before any walk
            with self.subTest(joined=joined):
                doc.get_implicit_permissions_for_roles(names)
                self.assertEqual(calls[-1], [("name", joined), ("permissions", permissions)])
        # Unknown names become graph keys in memory only.
        self.assertEqual(list(doc.dag)[-2:], ["stranger", "late"])
        self.assertEqual(doc.dag["stranger"], [])
        self.assertEqual(len(doc.groups), 1)
        self.assertEqual(len(doc.policies), 5)

    def test_equal_names_that_are_other_objects_find_the_same_role(self):
        """A name equal to the stored ones but another object, hashed yet or not, must find the role's records and
        nodes, and an unknown one must become a graph key once."""
        for hashed in (False, True):
            with self.subTest(hashed=hashed):
                name = functools.partial(util.twin, self, hashed)
                doc = make_doc(util.twins(self, hashed, ("admin", "root"), ("root", "top"), ("admin", "root")),
                               util.twins(self, hashed, ("admin", "doc", "read"), ("top", "page", "view")))
                self.assertEqual(doc.get_role_contents(name("admin")).to_display(), {
                    "name": "admin", "roles": ["root", "root"], "permissions": [perm("doc", "read")]})
                asked = [name(text) for text in ("root", "guest", "admin", "guest")]
                answer = doc.get_implicit_permissions_for_roles(asked)
                self.assertEqual(answer.to_display(), {"name": "root,guest,admin,guest", "roles": [],
                                                       "permissions": [perm("doc", "read"), perm("page", "view")]})
                self.assertEqual(list(doc.dag), ["admin", "root", "top", ("doc", "read"), ("page", "view"), "public",
                                                 "guest"])

    def test_role_contents_hold_each_record_while_reading_it(self):
        """A record whose `obj` getter lets go of every list that holds it must still be read whole, never through a
        freed object."""
        done = util.run_python("""
            import gc, velmark
            class Vanishing:
                def __init__(self, act):
                    self.sub, self.act = "r", act
                @property
                def obj(self):
                    for holder in gc.get_referrers(self):
                        if isinstance(holder, list):
                            holder.clear()
                    return "o"
                def __del__(self):
                    stray.append(Vanishing("stray"))   # would take the freed object's place
            stray, doc = [], velmark.Velmark(policies=[], groups=[])
            doc.policies.append(Vanishing("a"))
            print(doc.get_role_contents("r").to_display()["permissions"])
            """)
        util.assert_printed(self, done, "[{'obj': 'o', 'act': 'a'}]\n")

    def test_names_not_yet_readied_match_their_equals(self):
        """A str made through the legacy C API, not yet readied, must match the equal names already stored."""
        legacy = _testcapi.unicode_legacy_string
        doc = velmark.Velmark()
        self.assertEqual(doc.get_role_contents(role_name=legacy("admin")).to_display()["roles"], ["root"])
        doc.dag["admin"].append(legacy("public"))
        doc._dag_add_group(velmark.Group(child="admin", parent="public"))
        self.assertEqual(doc.dag["admin"], ["root", "public"])
        doc.set_role_sub_roles(legacy("admin"), [])
        self.assertEqual((doc.groups, doc.dag["admin"]), ([], []))

    def test_marks_changed_while_collected_fail_as_iterating_them_would(self):
        """A mark whose truth test changes the query's mapping must fail as iterating the mapping would, and never
        report a node it added as a held permission."""
        class Meddling:   # a mark whose truth test runs `change` on the mapping that holds it
            def __init__(self, marks, change):
                self.marks, self.change = marks, change

            def __bool__(self):
                self.change(self.marks)
                return True

        class Hooked(velmark.Velmark):
            def _dfs(self, start, discovered):
                super()._dfs(start, discovered)
                discovered[("*", "*")] = Meddling(discovered, self.change)
                return discovered

        def replace(marks):   # a key already read out goes, another comes
            if marks.pop("admin", None) is not None:
                marks[("stolen", "perm")] = True

        for change, message in [(replace, "dictionary keys changed during iteration"),
                                (lambda marks: marks.setdefault(("stolen", "perm"), True),
                                 "dictionary changed size during iteration")]:
            with self.subTest(message):
                doc = Hooked()
                doc.change = change
                with self.assertRaises(RuntimeError) as caught:
                    doc.get_implicit_permissions_for_roles(["admin"])
                self.assertEqual(str(caught.exception), message)
