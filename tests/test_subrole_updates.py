"""Adding and replacing the roles a role contains."""

import copy
import unittest

import util
import velmark

# admin holds a permission and contains root and x; top contains admin; editor contains viewer.
GROUPS = [("admin", "root"), ("top", "admin"), ("admin", "x"), ("editor", "viewer")]
POLICIES = [("root", "*", "*"), ("admin", "doc", "read"), ("viewer", "page", "view")]
ADMIN_EDGES = ["root", "x", ("doc", "read")]
OTHERS = [("top", "admin"), ("editor", "viewer")]   # the stored records not about admin


class TracingDoc(velmark.Velmark):
    saves, checked = 0, ()   # the sub-role of every containment put to the cycle check

    def save(self):
        self.saves += 1
        return super().save()

    def _check_new_group(self, new_group):
        self.checked += (new_group.parent,)
        return super()._check_new_group(new_group)


class Fragile(list):
    def extend(self, items):
        raise OSError("disk")


class BrittleDoc(TracingDoc):
    def __setattr__(self, name, value):   # once built, every stored list given to it refuses to grow
        super().__setattr__(name, Fragile(value) if name == "groups" and "dag" in vars(self) else value)


def make_doc(cls=TracingDoc):
    return cls(name="app", groups=[velmark.Group(child=c, parent=p) for c, p in GROUPS],
               policies=[velmark.Policy(sub=s, obj=o, act=a) for s, o, a in POLICIES])


def stored(doc):
    return [(g.child, g.parent) for g in doc.groups]


def roles(answer):
    return answer.to_display()["roles"]


class SubRoleUpdatesTest(unittest.TestCase):

    def test_add_skips_stored_and_looping_names(self):
        """Each asked role must go in once; stored ones skip the cycle check, looping ones are dropped silently."""
        doc = make_doc()
        answer = doc.add_role_sub_roles("admin", iter(["root", "editor", "editor", "top", "admin", "public"]))
        self.assertEqual(roles(answer), ["root", "x", "editor", "public"])
        self.assertEqual(doc.checked, ("editor", "top", "admin", "public"))
        self.assertEqual(stored(doc), GROUPS + [("admin", "editor"), ("admin", "public")])
        self.assertEqual((doc.dag["admin"], doc.saves), (ADMIN_EDGES + ["editor", "public"], 1))
        # A role given itself is refused, but becomes a graph node.
        answer = doc.add_role_sub_roles("solo", ["solo"])
        self.assertEqual((roles(answer), doc.dag["solo"], doc.saves), ([], [], 2))

    def test_add_stops_at_an_unknown_name_without_saving(self):
        """A name the graph does not know must raise KeyError, earlier names staying in memory unsaved."""
        doc = make_doc()
        with self.assertRaises(KeyError) as caught:
            doc.add_role_sub_roles("admin", ["public", "ghost", "viewer"])
        self.assertEqual((caught.exception.args, stored(doc)), (("ghost",), GROUPS + [("admin", "public")]))
        self.assertEqual((doc.dag["admin"], "ghost" in doc.dag, doc.saves), (ADMIN_EDGES + ["public"], False, 0))

    def test_set_replaces_in_the_given_order_at_the_end(self):
        """After a replacement the role must contain exactly the given roles, repeats kept, its records last."""
        doc = make_doc()
        answer = doc.set_role_sub_roles("admin", ["viewer", "root", "root"])
        self.assertEqual(roles(answer), ["viewer", "root", "root"])
        self.assertEqual(stored(doc), OTHERS + [("admin", "viewer"), ("admin", "root"), ("admin", "root")])
        self.assertEqual((doc.dag["admin"], doc.dag["x"]), ([("doc", "read"), "viewer", "root"], []))
        # Emptying keeps only the role's permission edges.
        self.assertEqual(roles(doc.set_role_sub_roles("admin", [])), [])
        self.assertEqual((stored(doc), doc.dag["admin"]), (OTHERS, [("doc", "read")]))
        # Emptying a role the graph does not know changes nothing and raises nothing.
        answer = doc.set_role_sub_roles("ghost", [])
        self.assertEqual((roles(answer), "ghost" in doc.dag, doc.checked, doc.saves),
                         ([], False, ("viewer", "root", "root"), 3))

    def test_refused_or_failing_set_keeps_the_old_roles(self):
        """A looping or unknown name must leave the role's containments intact, only moved to the end."""
        doc = make_doc()
        graph, moved = copy.deepcopy(doc.dag), OTHERS + [("admin", "root"), ("admin", "x")]
        # "zzz" is no node: checking it would raise, so no check may reach it.
        self.assertEqual(roles(doc.set_role_sub_roles("admin", ["viewer", "top", "zzz"])), ["root", "x"])
        self.assertEqual((doc.checked, stored(doc), doc.dag, doc.saves), (("viewer", "top"), moved, graph, 1))
        with self.assertRaises(KeyError) as caught:
            doc.set_role_sub_roles("admin", ["viewer", "ghost", "root"])
        self.assertEqual((caught.exception.args, stored(doc), doc.dag, doc.saves),
                         (("ghost",), moved, graph, 1))

    def test_failed_restore_raises_its_own_error_chained_to_the_checks(self):
        """When putting the old records back fails, that error must surface, the check's error as its context."""
        doc = make_doc(BrittleDoc)
        with self.assertRaises(OSError) as caught:
            doc.set_role_sub_roles("admin", ["viewer", "ghost"])
        context = caught.exception.__context__
        self.assertEqual((caught.exception.args, type(context), context.args), (("disk",), KeyError, ("ghost",)))
        self.assertEqual((doc.checked, stored(doc), doc.dag["admin"], doc.saves),
                         (("viewer", "ghost"), OTHERS, ADMIN_EDGES, 0))

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
            """, [util.BUILD_DIR, util.STANDINS])
        self.assertEqual((done.returncode, done.stdout), (0, "True ['root']\n"), done.stderr[-3000:])


if __name__ == "__main__":
    unittest.main()
