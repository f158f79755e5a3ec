"""Adding and replacing the roles a role contains."""

import copy
import functools
import unittest

import util
import velmark

# admin holds a permission and contains root and x; top contains admin; editor contains viewer.
GROUPS = [("admin", "root"), ("top", "admin"), ("admin", "x"), ("editor", "viewer")]
POLICIES = [("root", "*", "*"), ("admin", "doc", "read"), ("viewer", "page", "view")]
ADMIN_EDGES = ["root", "x", ("doc", "read")]
OTHERS = [("top", "admin"), ("editor", "viewer")]   # the stored records not about admin


class TracingDoc(util.CountingDoc):
    checked = ()   # the sub-role of every containment put to the cycle check

    def _check_new_group(self, new_group):
        self.checked += (new_group.parent,)
        return super()._check_new_group(new_group)


def stored(doc):
    return [(g.child, g.parent) for g in doc.groups]


def roles(answer):
    return answer.to_display()["roles"]


def held(doc):
    return dict(stored=stored(doc), graph=doc.dag, admin=doc.dag.get("admin"), checked=doc.checked, saves=doc.saves)


class SubRoleUpdatesTest(unittest.TestCase):
    def test_add_skips_stored_and_looping_names(self):
        """Each asked role must go in once; stored ones skip the cycle check, looping ones are dropped silently."""
        doc = util.make_doc(GROUPS, POLICIES, cls=TracingDoc)
        answer = doc.add_role_sub_roles("admin", iter(["root", "editor", "editor", "top", "admin", "public"]))
        self.assertEqual(roles(answer), ["root", "x", "editor", "public"])
        util.assert_parts(self, held(doc), stored=GROUPS + [("admin", "editor"), ("admin", "public")], saves=1,
                          checked=("editor", "top", "admin", "public"), admin=ADMIN_EDGES + ["editor", "public"])
        # A role given itself is refused, but becomes a graph node.
        self.assertEqual(roles(doc.add_role_sub_roles("solo", ["solo"])), [])
        self.assertEqual(doc.dag["solo"], [])
        self.assertEqual(doc.saves, 2)

    def test_add_stops_at_an_unknown_name_without_saving(self):
        """A name the graph does not know must raise KeyError, earlier names staying in memory unsaved."""
        doc = util.make_doc(GROUPS, POLICIES, cls=TracingDoc)
        with self.assertRaises(KeyError) as caught:
            doc.add_role_sub_roles("admin", ["public", "ghost", "viewer"])
        self.assertEqual(caught.exception.args, ("ghost",))
        util.assert_parts(self, held(doc), stored=GROUPS + [("admin", "public")], admin=ADMIN_EDGES + ["public"],
                          saves=0)
        self.assertNotIn("ghost", doc.dag)

    def test_set_replaces_in_the_given_order_at_the_end(self):
        """After a replacement the role must contain exactly the given roles, repeats kept, its records last."""
        doc = util.make_doc(GROUPS, POLICIES, cls=TracingDoc)
        self.assertEqual(roles(doc.set_role_sub_roles("admin", ["viewer", "root", "root"])), ["viewer", "root", "root"])
        util.assert_parts(self, held(doc), stored=OTHERS + [("admin", "viewer"), ("admin", "root"), ("admin", "root")],
                          admin=[("doc", "read"), "viewer", "root"], checked=("viewer", "root", "root"), saves=1)
        self.assertEqual(doc.dag["x"], [])
        # Emptying keeps only the role's permission edges.
        self.assertEqual(roles(doc.set_role_sub_roles("admin", [])), [])
        util.assert_parts(self, held(doc), stored=OTHERS, admin=[("doc", "read")])
        # Emptying a role the graph does not know changes nothing and raises nothing.
        self.assertEqual(roles(doc.set_role_sub_roles("ghost", [])), [])
        self.assertNotIn("ghost", doc.dag)
        util.assert_parts(self, held(doc), stored=OTHERS, checked=("viewer", "root", "root"), saves=3)

    def test_equal_names_that_are_other_objects_update_the_same_role(self):
        """Names equal to the stored ones but other objects, hashed yet or not, must add to, replace and keep that
        role's roles, and the cycle check must know them for the nodes they name."""
        for hashed in (False, True):
            with self.subTest(hashed=hashed):
                name = functools.partial(util.twin, self, hashed)
                doc = util.make_doc(util.twins(self, hashed, ("admin", "root"), *OTHERS),
                                    util.twins(self, hashed, ("admin", "doc", "read")), cls=TracingDoc)
                asked = [name(text) for text in ("root", "editor", "editor", "top", "admin")]
                self.assertEqual(roles(doc.add_role_sub_roles(name("admin"), asked)), ["root", "editor"])
                util.assert_parts(self, held(doc), checked=("editor", "top", "admin"),
                                  admin=["root", ("doc", "read"), "editor"])
                asked = [name(text) for text in ("viewer", "root", "root")]
                self.assertEqual(roles(doc.set_role_sub_roles(name("admin"), asked)), ["viewer", "root", "root"])
                kept = OTHERS + [("admin", "viewer"), ("admin", "root"), ("admin", "root")]
                util.assert_parts(self, held(doc), stored=kept, admin=[("doc", "read"), "viewer", "root"], saves=2)
                # A looping name leaves them as they are.
                refused = doc.set_role_sub_roles(name("admin"), [name("top")])
                self.assertEqual(roles(refused), ["viewer", "root", "root"])
                util.assert_parts(self, held(doc), stored=kept, admin=[("doc", "read"), "viewer", "root"], saves=3)
                # The cycle check walks the same nodes, and a child the graph knows gets no second key.
                for child, parent, safe in [("admin", "top", False), ("top", "editor", True)]:
                    self.assertIs(doc._check_new_group(velmark.Group(child=name(child), parent=name(parent))), safe)
                self.assertEqual(list(doc.dag), ["admin", "root", "top", "editor", "viewer", ("doc", "read"), "public"])

    def test_refused_or_failing_set_keeps_the_old_roles(self):
        """A looping or unknown name must leave the role's containments intact, only moved to the end."""
        doc = util.make_doc(GROUPS, POLICIES, cls=TracingDoc)
        graph, moved = copy.deepcopy(doc.dag), OTHERS + [("admin", "root"), ("admin", "x")]
        # "zzz" is no node: checking it would raise, so no check may reach it.
        self.assertEqual(roles(doc.set_role_sub_roles("admin", ["viewer", "top", "zzz"])), ["root", "x"])
        util.assert_parts(self, held(doc), checked=("viewer", "top"), stored=moved, graph=graph, saves=1)
        with self.assertRaises(KeyError) as caught:
            doc.set_role_sub_roles("admin", ["viewer", "ghost", "root"])
        self.assertEqual(caught.exception.args, ("ghost",))
        util.assert_parts(self, held(doc), stored=moved, graph=graph, saves=1)

    def test_failed_restore_raises_its_own_error_chained_to_the_checks(self):
        """When putting the old records back fails, that error must surface, the check's error as its context."""
        class Fragile(list):
            def extend(self, items):
                raise OSError("disk")

        class BrittleDoc(TracingDoc):
            def __setattr__(self, name, value):   # once built, every stored list given to it refuses to grow
                super().__setattr__(name, Fragile(value) if name == "groups" and "dag" in vars(self) else value)

        doc = util.make_doc(GROUPS, POLICIES, cls=BrittleDoc)
        with self.assertRaises(OSError) as caught:
            doc.set_role_sub_roles("admin", ["viewer", "ghost"])
        self.assertEqual(caught.exception.args, ("disk",))
        self.assertIs(type(caught.exception.__context__), KeyError)
        self.assertEqual(caught.exception.__context__.args, ("ghost",))
        util.assert_parts(self, held(doc), checked=("viewer", "ghost"), stored=OTHERS, admin=ADMIN_EDGES, saves=0)

    def test_save_recursing_into_the_update_ends_in_recursion_error(self):
        """An update re-entered through a C-level wrapper must stop at the recursion limit."""
        done = util.run_python("""
            import functools, velmark
            doc = velmark.Velmark()
            doc.save = functools.partial(velmark.Velmark.set_role_sub_roles, doc, "admin", ["root"])
            try:
                doc.set_role_sub_roles("admin", ["root"])
            except RecursionError as exc:
                print(str(exc).startswith("maximum recursion depth exceeded"), doc.dag["admin"])
            """)
        util.assert_printed(self, done, "True ['root']\n")
