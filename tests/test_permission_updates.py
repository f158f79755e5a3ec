"""Adding and replacing a role's permissions."""

import copy
import functools
import unittest

import util
import velmark
from util import CountingDoc, make_doc, perm

ADMIN, ROOT = [("admin", "root")], [("root", "*", "*")]   # admin is contained in root, which holds everything


def stored(doc):
    return [(p.sub, p.obj, p.act) for p in doc.policies]


def held(doc):   # a snapshot: later changes to `doc` leave it as it was
    return dict(stored=stored(doc), graph=copy.deepcopy(doc.dag), saves=doc.saves)


class PermissionUpdatesTest(unittest.TestCase):
    def test_add_puts_each_new_permission_in_once(self):
        """A role must end up with every asked permission exactly once, and every call must save."""
        doc = make_doc(ADMIN, ROOT, cls=CountingDoc)
        answer = doc.add_role_permissions("admin", [perm("doc", "read"), perm("doc", "read"), perm("*", "*")])
        self.assertEqual(answer.to_display(), {"name": "admin", "roles": ["root"],
                                               "permissions": [perm("doc", "read"), perm("*", "*")]})
        util.assert_parts(self, held(doc), saves=1,
                          stored=[("root", "*", "*"), ("admin", "doc", "read"), ("admin", "*", "*")])
        self.assertEqual(doc.dag["admin"], ["root", ("doc", "read"), ("*", "*")])
        # Already there, or nothing asked: nothing changes, yet each call saves.
        before = held(doc)
        doc.add_role_permissions("admin", [perm("*", "*")])
        doc.add_role_permissions("admin", [], _acl=object())
        util.assert_parts(self, held(doc), stored=before["stored"], graph=before["graph"], saves=3)
        # A role nobody names yet gets its records at the end, and the store holds the same.
        doc.add_role_permissions("newbie", iter([perm("x", "y")]))
        self.assertEqual(stored(doc)[-1], ("newbie", "x", "y"))
        self.assertEqual(doc.dag["newbie"], [("x", "y")])
        self.assertEqual(stored(CountingDoc.load(name="app")), stored(doc))

    def test_set_replaces_in_the_given_order_at_the_end(self):
        """After a replacement the role must hold exactly the given permissions, repeats and order kept."""
        doc = make_doc(ADMIN, ROOT + [("admin", "a", "r"), ("editor", "e", "w"), ("admin", "b", "w")], cls=CountingDoc)
        answer = doc.set_role_permissions("admin", [perm("b", "w"), perm("c", "x"), perm("c", "x")])
        self.assertEqual(answer.to_display()["permissions"], [perm("b", "w"), perm("c", "x"), perm("c", "x")])
        self.assertEqual(stored(doc), [("root", "*", "*"), ("editor", "e", "w"),
                                       ("admin", "b", "w"), ("admin", "c", "x"), ("admin", "c", "x")])
        self.assertEqual(doc.dag["admin"], ["root", ("b", "w"), ("c", "x")])
        self.assertEqual(doc.dag[("a", "r")], [])
        self.assertEqual(doc.saves, 1)
        # Emptying drops the role's own permissions only; emptying an unknown role changes nothing.
        doc.set_role_permissions("admin", [])
        doc.set_role_permissions("ghost", [])
        util.assert_parts(self, held(doc), stored=[("root", "*", "*"), ("editor", "e", "w")], saves=3)
        self.assertEqual(doc.dag["admin"], ["root"])
        self.assertNotIn("ghost", doc.dag)

    def test_equal_names_that_are_other_objects_update_the_same_role(self):
        """Names, objects and actions equal to the stored ones but other objects, hashed yet or not, must add to and
        replace that role's permissions: no repeat, no old record left, and the answer shows them."""
        for hashed in (False, True):
            with self.subTest(hashed=hashed):
                name = functools.partial(util.twin, self, hashed)
                records = util.twins(self, hashed, ("admin", "doc", "read"), ("root", "page", "view"))
                doc = make_doc(util.twins(self, hashed, ("admin", "root")), records, cls=CountingDoc)
                asked = [perm(name("doc"), name(act)) for act in ("read", "edit", "edit")]
                self.assertEqual(doc.add_role_permissions(name("admin"), asked).to_display(), {
                    "name": "admin", "roles": ["root"], "permissions": [perm("doc", "read"), perm("doc", "edit")]})
                self.assertEqual(doc.dag["admin"], ["root", ("doc", "read"), ("doc", "edit")])
                asked = [perm(name("page"), name("view")), perm(name("doc"), name("edit"))]
                self.assertEqual(doc.set_role_permissions(name("admin"), asked).to_display()["permissions"],
                                 [perm("page", "view"), perm("doc", "edit")])
                util.assert_parts(self, held(doc), saves=2, stored=[
                    ("root", "page", "view"), ("admin", "page", "view"), ("admin", "doc", "edit")])
                self.assertEqual(doc.dag["admin"], ["root", ("page", "view"), ("doc", "edit")])

    def test_unknown_role_is_refused_before_any_change(self):
        """Replacing the permissions of a role the graph lacks must raise KeyError naming it, changing nothing."""
        doc = make_doc(ADMIN, ROOT, cls=CountingDoc)
        before = held(doc)
        with self.assertRaises(KeyError) as caught:
            doc.set_role_permissions("ghost", [perm("doc", "read")])
        self.assertEqual(caught.exception.args, ("ghost",))
        util.assert_parts(self, held(doc), **before)
        # A role the graph learned from a query is known all the same.
        doc.get_implicit_permissions_for_roles(["ghost"])
        doc.set_role_permissions("ghost", [perm("doc", "read")])
        self.assertEqual(stored(doc)[-1], ("ghost", "doc", "read"))
        self.assertEqual(doc.dag["ghost"], [("doc", "read")])

    def test_stored_list_that_is_no_list_is_refused_before_any_change(self):
        """A replacement over stored permissions that are no list must fail with AssertionError, changing nothing."""
        doc = make_doc(ADMIN, ROOT, cls=CountingDoc)
        before, doc.policies = held(doc), tuple(doc.policies)
        for permissions in ([perm("doc", "read")], []):
            with self.subTest(permissions=permissions), self.assertRaises(AssertionError) as caught:
                doc.set_role_permissions("root", permissions)
            self.assertEqual(caught.exception.args, ())
            util.assert_parts(self, held(doc), **before)

    def test_malformed_items_are_refused_before_any_change(self):
        """An item that is no mapping, or a mapping with repeated or unreadable keys, must fail as `f(**item)` would
        before any change, even after a good item."""
        class RepeatingKeys:
            def keys(self):
                return ["obj", "act", "obj"]

            def __getitem__(self, key):
                return key

        class BadKeys(RepeatingKeys):
            def keys(self):
                return 5

        doc = make_doc(ADMIN, ROOT, cls=CountingDoc)
        before, method = held(doc), velmark.AclItem.from_display
        prefix = "%s.%s() " % (method.__module__, method.__qualname__)
        for item, text in [(["obj", "act"], prefix + "argument after ** must be a mapping, not list"),
                           (None, prefix + "argument after ** must be a mapping, not NoneType"),
                           (RepeatingKeys(), prefix + "got multiple values for keyword argument 'obj'"),
                           (BadKeys(), "BadKeys.keys() returned a non-iterable (type int)")]:
            for update in (doc.add_role_permissions, doc.set_role_permissions):
                with self.subTest(text=text, update=update.__name__):
                    with self.assertRaises(TypeError) as caught:
                        update("admin", [perm("doc", "read"), item])
                    self.assertEqual(str(caught.exception), text)
                    util.assert_parts(self, held(doc), **before)

    def test_dict_subclass_items_are_read_through_their_own_keys_and_items(self):
        """Only an exact dict may go to AclItem.from_display as it is: a subclass must be read through its own keys()
        and [], in that order, or a mapping that shows other values than it holds would store the hidden ones."""
        class Shouting(dict):   # keys() runs backwards, [] upper-cases what it holds
            def keys(self):
                return list(reversed(list(super().keys())))

            def __getitem__(self, key):
                return super().__getitem__(key).upper()

        calls = util.capture_from_display(self, "AclItem")
        for update in ("add_role_permissions", "set_role_permissions"):
            with self.subTest(update):
                doc, calls[:] = make_doc(ADMIN, ROOT, cls=CountingDoc), []
                getattr(doc, update)("admin", [Shouting(obj="doc", act="read"), perm("page", "view")])
                self.assertEqual(calls, [[("act", "READ"), ("obj", "DOC")], [("obj", "page"), ("act", "view")]])
                self.assertEqual(stored(doc)[-2:], [("admin", "DOC", "READ"), ("admin", "page", "view")])
