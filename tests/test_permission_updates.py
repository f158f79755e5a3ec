"""Adding and replacing a role's permissions."""

import copy
import unittest

import velmark


class CountingDoc(velmark.Velmark):
    saves = 0

    def save(self):
        self.saves += 1
        return super().save()


def make_doc(policies=(("root", "*", "*"),)):
    return CountingDoc(name="app", groups=[velmark.Group(child="admin", parent="root")],
                       policies=[velmark.Policy(sub=s, obj=o, act=a) for s, o, a in policies])


def perm(obj, act):
    return {"obj": obj, "act": act}


def stored(doc):
    return [(p.sub, p.obj, p.act) for p in doc.policies]


def state(doc):
    return stored(doc), copy.deepcopy(doc.dag), doc.saves


class RepeatingKeys:
    def keys(self):
        return ["obj", "act", "obj"]

    def __getitem__(self, key):
        return key


class BadKeys(RepeatingKeys):
    def keys(self):
        return 5


class PermissionUpdatesTest(unittest.TestCase):

    def test_add_puts_each_new_permission_in_once(self):
        """A role must end up with every asked permission exactly once, and every call must save."""
        doc = make_doc()
        answer = doc.add_role_permissions("admin", [perm("doc", "read"), perm("doc", "read"), perm("*", "*")])
        self.assertEqual(answer.to_display(), {"name": "admin", "roles": ["root"],
                                               "permissions": [perm("doc", "read"), perm("*", "*")]})
        self.assertEqual(stored(doc), [("root", "*", "*"), ("admin", "doc", "read"), ("admin", "*", "*")])
        self.assertEqual((doc.dag["admin"], doc.saves), (["root", ("doc", "read"), ("*", "*")], 1))
        # Already there, or nothing asked: nothing changes, yet each call saves.
        before = state(doc)
        doc.add_role_permissions("admin", [perm("*", "*")])
        doc.add_role_permissions("admin", [], _acl=object())
        self.assertEqual(state(doc), before[:2] + (3,))
        # A role nobody names yet gets its records at the end, and the store holds the same.
        doc.add_role_permissions("newbie", iter([perm("x", "y")]))
        self.assertEqual((stored(doc)[-1], doc.dag["newbie"]), (("newbie", "x", "y"), [("x", "y")]))
        self.assertEqual(stored(CountingDoc.load(name="app")), stored(doc))

    def test_set_replaces_in_the_given_order_at_the_end(self):
        """After a replacement the role must hold exactly the given permissions, repeats and order kept."""
        doc = make_doc([("root", "*", "*"), ("admin", "a", "r"), ("editor", "e", "w"), ("admin", "b", "w")])
        answer = doc.set_role_permissions("admin", [perm("b", "w"), perm("c", "x"), perm("c", "x")])
        self.assertEqual(answer.to_display()["permissions"], [perm("b", "w"), perm("c", "x"), perm("c", "x")])
        self.assertEqual(stored(doc), [("root", "*", "*"), ("editor", "e", "w"),
                                       ("admin", "b", "w"), ("admin", "c", "x"), ("admin", "c", "x")])
        self.assertEqual((doc.dag["admin"], doc.dag[("a", "r")], doc.saves),
                         (["root", ("b", "w"), ("c", "x")], [], 1))
        # Emptying drops the role's own permissions only; emptying an unknown role changes nothing.
        doc.set_role_permissions("admin", [])
        doc.set_role_permissions("ghost", [])
        self.assertEqual(stored(doc), [("root", "*", "*"), ("editor", "e", "w")])
        self.assertEqual((doc.dag["admin"], "ghost" in doc.dag, doc.saves), (["root"], False, 3))

    def test_refusals_change_nothing(self):
        """An unknown role, a stored list that is no list or a malformed item must fail before any change."""
        doc = make_doc()
        before = state(doc)
        with self.assertRaises(KeyError) as caught:
            doc.set_role_permissions("ghost", [perm("doc", "read")])
        self.assertEqual((caught.exception.args, state(doc)), (("ghost",), before))

        doc.policies = tuple(doc.policies)
        for permissions in ([perm("doc", "read")], []):
            with self.assertRaises(AssertionError) as caught:
                doc.set_role_permissions("root", permissions)
            self.assertEqual((caught.exception.args, state(doc)), ((), before))

        doc.policies = list(doc.policies)
        method = velmark.AclItem.from_display
        prefix = "%s.%s() " % (method.__module__, method.__qualname__)
        for item, text in [(["obj", "act"], prefix + "argument after ** must be a mapping, not list"),
                           (None, prefix + "argument after ** must be a mapping, not NoneType"),
                           (RepeatingKeys(), prefix + "got multiple values for keyword argument 'obj'"),
                           (BadKeys(), "BadKeys.keys() returned a non-iterable (type int)")]:
            for update in (doc.add_role_permissions, doc.set_role_permissions):
                with self.subTest(text=text, update=update.__name__):
                    with self.assertRaises(TypeError) as caught:
                        update("admin", [perm("doc", "read"), item])
                    self.assertEqual((str(caught.exception), state(doc)), (text, before))
        # A role the graph learned from a query is known all the same.
        doc.get_implicit_permissions_for_roles(["ghost"])
        doc.set_role_permissions("ghost", [perm("doc", "read")])
        self.assertEqual((stored(doc)[-1], doc.dag["ghost"]), (("ghost", "doc", "read"), [("doc", "read")]))


if __name__ == "__main__":
    unittest.main()
