"""What the class statements hand to the engine, and the method objects."""

import copy
import inspect
import traceback
import unittest

import util
import velmark
from orvek_engine import AclItem
from velmark import Group, Policy, RoleContent

ROLE = "regex=%r" % "^(?=[A-Za-z0-9])(?!.*__)[A-Za-z0-9_]{1,18}[A-Za-z0-9]$"
APP = "regex=%r" % "^(?=[A-Za-z0-9])(?!.*--)[A-Za-z0-9-]{1,18}[A-Za-z0-9]$"
LISTED = "ListField(%s, description=%r, default=[])"
VELMARK_HEAD = ["__module__", "__doc__", "__qualname__", "__annotations__", "_key_fields", "_actions"]
ANNOTATION = {"StringField": "str", "ListField": "list", "DictField": "dict"}
# class: (field, its declaration as the engine's field objects show it), in declaration order
SCHEMA = {
    Policy: [(name, "StringField(required=True)") for name in ("sub", "obj", "act")],
    Group: [(name, "StringField(required=True, %s)" % ROLE) for name in ("child", "parent")],
    RoleContent: [
        ("name", "StringField(sample='user_admin', description='Role Name', %s)" % ROLE),
        ("roles", LISTED % ("StringField(%s)" % ROLE, "Contained Roles")),
        ("permissions", LISTED % ("EmbeddedDocumentField(%r)" % AclItem, "Contained Permissions"))],
    velmark.Velmark: [
        ("name", "StringField(description='Application Name', unique=True, %s)" % APP),
        ("policies", "ListField(EmbeddedDocumentField(document_type=%r))" % Policy),
        ("groups", "ListField(EmbeddedDocumentField(document_type=%r))" % Group),
        ("new_user_fields", LISTED % ("StringField()", "Needed new user's information")),
        ("new_user_roles", LISTED % ("StringField()", "Default roles for new user")),
        ("new_user_profile", "DictField(description=%r)" % "New user's profile"),
        ("callback_urls", LISTED % ("StringField()", "List of authorized callback Url"))],
}


# velmark.Velmark's 18 methods written in Python, in class order (the class name gives the
# same qualified names): what these report, and the binding errors they raise, are the reference.
class Velmark:
    def __init__(self, **kwargs): pass
    def _dag_add_policy(self, policy: "Policy"): pass
    def _dag_set_policies(self, sub, policies: "list"): pass
    def _dag_add_group(self, group: "Group"): pass
    def _dag_set_groups(self, child: "str", groups: "list"): pass
    def _dag_generate(self): pass
    def _dfs(self, start: "str", discovered: "dict") -> "dict": pass
    def _check_new_group(self, new_group: "Group") -> "bool": pass
    def _add_permissions(self, sub: "str", permissions: "list"): pass
    def _add_groups(self, child: "str", parents: "list"): pass
    def _set_sub_permissions(self, sub: "str", permissions: "list"): pass
    def _set_sub_groups(self, child: "str", parents: "list"): pass
    def get_role_contents(self, role_name: "str", _acl=None): pass
    def add_role_permissions(self, role_name: "str", permissions: "list", _acl=None): pass
    def set_role_permissions(self, role_name: "str", permissions: "list", _acl=None): pass
    def add_role_sub_roles(self, role_name: "str", sub_role_names: "list", _acl=None): pass
    def set_role_sub_roles(self, role_name: "str", sub_role_names: "list", _acl=None): pass
    def get_implicit_permissions_for_roles(self, role_names: "list", _acl=None): pass


TWINS = {name: f for name, f in vars(Velmark).items() if inspect.isfunction(f)}


def facts(function):
    return (function.__qualname__, str(inspect.signature(function)), function.__defaults__,
            function.__kwdefaults__, list(function.__annotations__.items()))


class TestSchema(unittest.TestCase):
    def test_class_statements_hand_the_engine_these_declarations(self):
        """The engine builds the classes from exactly these fields; none shares a default."""
        defaults, document = [], velmark.Velmark
        for cls, fields in SCHEMA.items():
            head = VELMARK_HEAD if cls is document else ["__module__", "__qualname__", "__annotations__"]
            self.assertEqual(list(cls._namespace_log),
                             head + [n for n, _ in fields] + (list(TWINS) if cls is document else []))
            self.assertEqual([(n, a, repr(vars(cls)[n])) for n, a in cls.__annotations__.items()],
                             [(n, ANNOTATION[f.split("(")[0]], f) for n, f in fields])
            defaults += [vars(cls)[n].options["default"] for n, f in fields if "default=" in f]
        out, put = ("out", RoleContent), ("in", {"permissions": AclItem})
        self.assertEqual([(name, list(entry.items())) for name, entry in document._actions.items()],
                         list(zip(list(TWINS)[12:], [[out], [out, put], [out, put], [out], [out], [out]])))
        objects = defaults + list(document._actions.values()) + [document._key_fields]
        self.assertEqual(document._key_fields, ["name"])
        self.assertEqual(len(set(map(id, objects))), 5 + 6 + 1)

    def test_methods_report_bind_and_fail_like_python_functions(self):
        """Introspection, callers' mistakes and errors inside must look as with a Python method."""
        for name, twin in TWINS.items():
            method, params = vars(velmark.Velmark)[name], list(inspect.signature(twin).parameters)
            self.assertEqual(facts(method), facts(twin))
            self.assertEqual(method.__module__, "velmark")
            full = (0,) * len(params)
            for args, kwargs in [((), {}), ((0,), {}), (full + (0,), {}), ((0,), {"bogus": 0}),
                                 (full, {params[-1]: 0}), ((0,), {params[-1]: 0})]:
                try:  # only the calls that the Python twin refuses
                    twin(*args, **kwargs)
                except TypeError as wanted:
                    with self.assertRaises(TypeError) as caught:
                        method(*args, **kwargs)
                    self.assertEqual(str(caught.exception), str(wanted), (name, args, kwargs))
        # An error inside shows an entry for each method it passed through, at the line of the method's def.
        try:
            velmark.Velmark(groups=[Group(child=["admin"], parent="root")])
        except TypeError as error:   # assertRaises would drop the traceback
            message, entries = str(error), [(f.f_code.co_name, n) for f, n in traceback.walk_tb(error.__traceback__)]
        self.assertEqual(message, "unhashable type: 'list'")
        self.assertEqual(entries[1:], [("__init__", 51), ("_dag_generate", 90), ("_dag_add_group", 75)])

    def test_methods_copy_and_pickle_as_themselves(self):
        """Copying or pickling a method, alone or inside a structure, must give back the very same function."""
        method, walk = velmark.Velmark.get_role_contents, vars(velmark.Velmark)["_dfs"]
        for copied in util.copies(method):
            self.assertIs(copied, method)
        self.assertIs(copy.deepcopy({"f": velmark.Velmark._dfs})["f"], walk)
        self.assertFalse(hasattr(walk, "__vectorcalloffset__"))

    def test_documentation_strings_are_the_systems_own(self):
        """Help texts that tools show must be exactly the system's own words."""
        documented = {name for name in TWINS if getattr(velmark.Velmark, name).__doc__ is not None}
        self.assertEqual(documented, {"_dfs", "_check_new_group", "get_role_contents",
                                      "get_implicit_permissions_for_roles"})
        self.assertEqual(velmark.Velmark.__doc__, "Permission organization of an application. This object only "
                         "contains the role and role contents\n\n    Rules:\n        * Each user could only be "
                         "assigned to a role\n    ")
        self.assertEqual(velmark.Velmark.get_role_contents.__doc__, "Get Role Contents\n\n        Args:\n"
                         "            role_name: Name of role\n            _acl: Access Control List\n\n"
                         "        Returns:\n            Role Content object\n        ")
        self.assertEqual([Policy.__doc__, Group.__doc__, RoleContent.__doc__], [None, None, None])
