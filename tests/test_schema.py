"""What the class statements hand to the engine, and the method objects."""

import inspect
import re
import unittest

import orvek_engine
import orvek_fields
from velmark import Group, Policy, RoleContent, Velmark

ROLE_PATTERN = "^(?=[A-Za-z0-9])(?!.*__)[A-Za-z0-9_]{1,18}[A-Za-z0-9]$"
APP_PATTERN = "^(?=[A-Za-z0-9])(?!.*--)[A-Za-z0-9-]{1,18}[A-Za-z0-9]$"

METHODS = ["__init__", "_dag_add_policy", "_dag_set_policies", "_dag_add_group",
           "_dag_set_groups", "_dag_generate", "_dfs", "_check_new_group",
           "_add_permissions", "_add_groups", "_set_sub_permissions", "_set_sub_groups",
           "get_role_contents", "add_role_permissions", "set_role_permissions",
           "add_role_sub_roles", "set_role_sub_roles",
           "get_implicit_permissions_for_roles"]
PUBLIC = METHODS[12:]

# The same signatures written in Python: the host's own binding errors for
# them are what the built methods must report.
REFERENCE_SOURCE = '''
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
'''
_reference_namespace = {}
exec(REFERENCE_SOURCE, _reference_namespace)
Reference = _reference_namespace["Velmark"]

VELMARK_DOC = ("Permission organization of an application. This object only contains "
               "the role and role contents\n\n    Rules:\n        * Each user could only "
               "be assigned to a role\n    ")
DOCS = {
    "_dfs": "Deep First Search\n\n        Args:\n            start: start point\n"
            "            discovered: a dictionary [point, discovered] to mark if a point "
            "could be reached from start point\n\n        Returns:\n            "
            "discovered record after searching.\n        ",
    "_check_new_group": "Check if new added group will break DAG (making a circular)\n\n"
                        "        Args:\n            new_group: New group to be added into "
                        "DAG\n\n        Returns:\n            True if the new group is safe "
                        "else False\n        ",
    "get_role_contents": "Get Role Contents\n\n        Args:\n            role_name: Name "
                         "of role\n            _acl: Access Control List\n\n        "
                         "Returns:\n            Role Content object\n        ",
    "get_implicit_permissions_for_roles":
        "Get full recursive permission of a list of roles\n\n        Args:\n            "
        "role_names (:obj:`list`): Role list\n            _acl: Access Control List\n\n"
        "        Returns:\n            Role Content object of all implicit permissions\n"
        "        ",
}


def field(cls, name):
    return vars(cls)[name]


def trace_names(exc):
    names = []
    tb = exc.__traceback__
    while tb is not None:
        names.append(tb.tb_frame.f_code.co_name)
        tb = tb.tb_next
    return names


class Boom(Exception):
    pass


class ExplodingName(str):
    """A role name whose comparison fails with a known exception object."""

    def __new__(cls, error):
        self = super().__new__(cls, "boom")
        self.error = error
        return self

    def __eq__(self, other):
        raise self.error

    __hash__ = str.__hash__


class TestNamePatterns(unittest.TestCase):

    def test_role_name_pattern(self):
        """Role names the engine validates must follow the declared rule."""
        patterns = {field(Group, "child").options["regex"],
                    field(Group, "parent").options["regex"],
                    field(RoleContent, "name").options["regex"],
                    field(RoleContent, "roles").args[0].options["regex"]}
        self.assertEqual(patterns, {ROLE_PATTERN})
        for name in ["root", "admin", "public", "user_admin", "ab", "a1", "9z",
                     "A_b_C", "r" * 19, "a_" * 9 + "b"]:
            self.assertTrue(re.match(ROLE_PATTERN, name), name)
        for name in ["", "a", "_", "r" * 20, "a_" * 9 + "bc", "_admin", "admin_",
                     "user__admin", "user-admin", "user admin", " admin", "admin!"]:
            self.assertIsNone(re.match(ROLE_PATTERN, name), name)

    def test_application_name_pattern(self):
        """Application names must follow the hyphen rule, distinct from role names."""
        self.assertEqual(field(Velmark, "name").options["regex"], APP_PATTERN)
        for name in ["my-app", "ab", "a1-b2-c3", "APP9", "x" * 19, "a-" * 9 + "b"]:
            self.assertTrue(re.match(APP_PATTERN, name), name)
        for name in ["", "a", "-ab", "ab-", "a--b", "my_app", "x" * 20,
                     "a-" * 9 + "bc", "my app", "-"]:
            self.assertIsNone(re.match(APP_PATTERN, name), name)


class TestRecordSchemas(unittest.TestCase):

    def assertStringField(self, obj, **options):
        self.assertIs(type(obj), orvek_fields.StringField)
        self.assertEqual(obj.args, ())
        self.assertEqual(list(obj.options.items()), list(options.items()))

    def assertListField(self, obj, **options):
        """Checks the outer list field and returns its item field."""
        self.assertIs(type(obj), orvek_engine.ListField)
        self.assertEqual(len(obj.args), 1)
        self.assertEqual(list(obj.options.items()), list(options.items()))
        inner = obj.args[0]
        self.assertLess(inner.serial, obj.serial, "item field made after its list field")
        return inner

    def test_records_namespaces_annotations_and_fields(self):
        """The engine builds Policy, Group and RoleContent from exactly these declarations."""
        self.assertEqual(Policy._namespace_log,
                         ("__module__", "__qualname__", "__annotations__", "sub", "obj", "act"))
        self.assertEqual(Group._namespace_log,
                         ("__module__", "__qualname__", "__annotations__", "child", "parent"))
        self.assertEqual(RoleContent._namespace_log,
                         ("__module__", "__qualname__", "__annotations__",
                          "name", "roles", "permissions"))
        self.assertEqual(list(Policy.__annotations__.items()),
                         [("sub", "str"), ("obj", "str"), ("act", "str")])
        self.assertEqual(list(Group.__annotations__.items()),
                         [("child", "str"), ("parent", "str")])
        self.assertEqual(list(RoleContent.__annotations__.items()),
                         [("name", "str"), ("roles", "list"), ("permissions", "list")])

        for name in ("sub", "obj", "act"):
            self.assertStringField(field(Policy, name), required=True)
        for name in ("child", "parent"):
            self.assertStringField(field(Group, name), required=True, regex=ROLE_PATTERN)
        self.assertStringField(field(RoleContent, "name"), sample="user_admin",
                               description="Role Name", regex=ROLE_PATTERN)
        roles_item = self.assertListField(field(RoleContent, "roles"),
                                          description="Contained Roles", default=[])
        self.assertStringField(roles_item, regex=ROLE_PATTERN)
        acl_item = self.assertListField(field(RoleContent, "permissions"),
                                        description="Contained Permissions", default=[])
        self.assertIs(type(acl_item), orvek_engine.EmbeddedDocumentField)
        self.assertEqual(len(acl_item.args), 1)
        self.assertIs(acl_item.args[0], orvek_engine.AclItem)
        self.assertEqual(acl_item.options, {})

        for cls in (Policy, Group, RoleContent):
            self.assertIsNone(cls.__doc__)
            self.assertNotIn("__doc__", cls._namespace_log)
            self.assertIs(type(cls), orvek_engine.DocumentMeta)
            self.assertEqual(cls.__bases__, (orvek_engine.EmbeddedDocument,))
            self.assertEqual(cls.__qualname__, cls.__name__)
            self.assertEqual([k for k, v in vars(cls).items() if callable(v)], [])

    def test_velmark_document_schema(self):
        """The stored document's fields, key and options are what the engine relies on."""
        self.assertEqual(Velmark._namespace_log[:13], (
            "__module__", "__doc__", "__qualname__", "__annotations__", "_key_fields",
            "_actions", "name", "policies", "groups", "new_user_fields", "new_user_roles",
            "new_user_profile", "callback_urls"))
        self.assertEqual(list(Velmark._namespace_log[13:]), METHODS)
        self.assertEqual(list(Velmark.__annotations__.items()), [
            ("name", "str"), ("policies", "list"), ("groups", "list"),
            ("new_user_fields", "list"), ("new_user_roles", "list"),
            ("new_user_profile", "dict"), ("callback_urls", "list")])
        self.assertEqual(Velmark.__doc__, VELMARK_DOC)
        self.assertEqual(Velmark.__bases__, (orvek_engine.Document,))
        self.assertIs(type(Velmark), orvek_engine.DocumentMeta)

        self.assertStringField(field(Velmark, "name"), description="Application Name",
                               unique=True, regex=APP_PATTERN)
        for name, record in (("policies", Policy), ("groups", Group)):
            inner = self.assertListField(field(Velmark, name))
            self.assertIs(type(inner), orvek_engine.EmbeddedDocumentField)
            self.assertEqual(inner.args, ())
            self.assertEqual(list(inner.options), ["document_type"])
            self.assertIs(inner.options["document_type"], record)
        for name, text in (("new_user_fields", "Needed new user's information"),
                           ("new_user_roles", "Default roles for new user"),
                           ("callback_urls", "List of authorized callback Url")):
            inner = self.assertListField(field(Velmark, name), description=text, default=[])
            self.assertStringField(inner)
        profile = field(Velmark, "new_user_profile")
        self.assertIs(type(profile), orvek_fields.DictField)
        self.assertEqual((profile.args, profile.options),
                         ((), {"description": "New user's profile"}))

        # Fields are declared in class order, classes in module order.
        serials = [field(cls, name).serial for cls in (Policy, Group, RoleContent, Velmark)
                   for name in cls.__annotations__]
        self.assertEqual(serials, sorted(serials))

        self.assertEqual(Velmark._key_fields, ["name"])
        self.assertIs(type(Velmark._key_fields), list)
        defaults = [field(RoleContent, "roles").options["default"],
                    field(RoleContent, "permissions").options["default"],
                    field(Velmark, "new_user_fields").options["default"],
                    field(Velmark, "new_user_roles").options["default"],
                    field(Velmark, "callback_urls").options["default"]]
        self.assertEqual(defaults, [[]] * 5)
        self.assertEqual(len({id(d) for d in defaults + [Velmark._key_fields]}), 6,
                         "a default list or _key_fields is shared")
        self.assertEqual([n for n, f in Velmark._fields.items()
                          if f.options.get("unique")], ["name"])
        self.assertEqual([n for n, f in Velmark._fields.items()
                          if "required" in f.options], [])

    def test_actions_table(self):
        """The engine dispatches the six operations from _actions; shared inner dicts would leak edits."""
        actions = Velmark._actions
        self.assertIs(type(actions), dict)
        self.assertEqual(list(actions), PUBLIC[:1] + ["add_role_permissions",
                                                      "set_role_permissions",
                                                      "add_role_sub_roles",
                                                      "set_role_sub_roles",
                                                      "get_implicit_permissions_for_roles"])
        for name, entry in actions.items():
            self.assertIs(type(entry), dict)
            self.assertIs(entry["out"], RoleContent)
            if name in ("add_role_permissions", "set_role_permissions"):
                self.assertEqual(list(entry), ["out", "in"])
                self.assertEqual(entry["in"], {"permissions": orvek_engine.AclItem})
                self.assertIs(entry["in"]["permissions"], orvek_engine.AclItem)
            else:
                self.assertEqual(list(entry), ["out"])
        add, put = actions["add_role_permissions"], actions["set_role_permissions"]
        self.assertEqual(add, put)
        self.assertIsNot(add, put)
        self.assertIsNot(add["in"], put["in"])
        self.assertEqual(len({id(entry) for entry in actions.values()}), 6)


class TestMethodObjects(unittest.TestCase):

    def test_method_attributes(self):
        """Introspection, help() and frameworks read these attributes of every method."""
        annotation_dicts = set()
        for name in METHODS:
            method = vars(Velmark)[name]
            reference = vars(Reference)[name]
            with self.subTest(method=name):
                self.assertEqual(method.__name__, name)
                self.assertEqual(method.__qualname__, "Velmark." + name)
                self.assertEqual(method.__module__, "velmark")
                self.assertEqual(method.__defaults__, (None,) if name in PUBLIC else None)
                self.assertIsNone(method.__kwdefaults__)
                self.assertEqual(list(method.__annotations__.items()),
                                 list(reference.__annotations__.items()))
                annotation_dicts.add(id(method.__annotations__))
                self.assertEqual(method.__doc__, DOCS.get(name))
                self.assertEqual(str(inspect.signature(method)),
                                 str(inspect.signature(reference)))
                if name == "__init__":
                    self.assertEqual(len(method.__closure__), 1)
                    self.assertIs(method.__closure__[0].cell_contents, Velmark)
                else:
                    self.assertIsNone(method.__closure__)
                self.assertIs(getattr(Velmark, name), method)
        self.assertEqual(len(annotation_dicts), len(METHODS), "methods share an annotation dict")
        self.assertEqual(str(inspect.signature(vars(Velmark)["_dag_set_policies"])),
                         "(self, sub, policies: 'list')")
        self.assertEqual(str(inspect.signature(vars(Velmark)["add_role_permissions"])),
                         "(self, role_name: 'str', permissions: 'list', _acl=None)")
        self.assertEqual(str(inspect.signature(vars(Velmark)["__init__"])), "(self, **kwargs)")

    def test_binding_to_an_instance(self):
        """doc.method(...) must pass the document as self, like a Python method."""
        doc = Velmark()
        bound = doc.get_role_contents
        self.assertTrue(inspect.ismethod(bound))
        self.assertIs(bound.__self__, doc)
        self.assertIs(bound.__func__, vars(Velmark)["get_role_contents"])
        self.assertEqual(str(inspect.signature(bound)), "(role_name: 'str', _acl=None)")
        self.assertEqual(bound("root").name, "root")
        self.assertEqual(bound(role_name="admin", _acl=object()).roles, ["root"])
        self.assertEqual(vars(Velmark)["get_role_contents"](doc, "admin").roles, ["root"])

    def call_variants(self, name):
        """Argument lists that no signature of the table accepts, or accepts
        only when it should not, made from the reference signature."""
        params = list(inspect.signature(vars(Reference)[name]).parameters.values())
        positional = [p.name for p in params
                      if p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD]
        required = [p.name for p in params if p.kind is p.POSITIONAL_OR_KEYWORD
                    and p.default is p.empty]
        doc = Velmark(policies=[], groups=[])
        variants = [((), {}), ((doc,), {}),
                    ((doc,) + (0,) * len(positional), {}),
                    ((doc,), {"self": doc}),
                    ((doc,) + (0,) * (len(positional) - 1), {positional[-1]: 0}),
                    ((0,), {"self": 0})]
        if len(required) > 1:
            variants.append(((doc,), {required[-1]: 0}))
            variants.append(((doc,) + (0,) * (len(required) - 2), {}))
        if name != "__init__":
            variants.append(((doc,), {"bogus": 0}))
            variants.append(((doc,), {"bogus": 0, **{p: 0 for p in required[1:]}}))
            variants.append(((doc,) + (0,) * (len(positional) - 1), {"bogus": 0}))
        return variants

    def test_binding_errors_match_the_interpreter(self):
        """A caller's mistake must read exactly like one made with a Python method."""
        checked = 0
        for name in METHODS:
            method = vars(Velmark)[name]
            reference = vars(Reference)[name]
            for args, kwargs in self.call_variants(name):
                try:
                    reference(*args, **kwargs)
                except TypeError as exc:
                    expected = str(exc)
                else:
                    continue
                with self.subTest(method=name, args=len(args), kwargs=sorted(kwargs)):
                    with self.assertRaises(TypeError) as caught:
                        method(*args, **kwargs)
                    self.assertIs(type(caught.exception), TypeError)
                    self.assertEqual(str(caught.exception), expected)
                    checked += 1
                    if args and name != "__init__" and isinstance(args[0], Velmark):
                        # The same mistake through a bound method.
                        with self.assertRaises(TypeError) as caught:
                            getattr(args[0], name)(*args[1:], **kwargs)
                        with self.assertRaises(TypeError) as wanted:
                            getattr(Reference(), name)(*args[1:], **kwargs)
                        self.assertEqual(str(caught.exception), str(wanted.exception))
        self.assertGreater(checked, 100)
        with self.assertRaises(TypeError) as caught:
            Velmark(0)
        self.assertEqual(str(caught.exception),
                         "__init__() takes 1 positional argument but 2 were given")
        with self.assertRaises(TypeError) as caught:
            Velmark().get_role_contents()
        self.assertEqual(str(caught.exception),
                         "get_role_contents() missing 1 required positional argument: "
                         "'role_name'")

    def raised_by(self, call):
        """Runs `call`, returns the exception it raised with its traceback kept."""
        try:
            call()
        except Exception as exc:
            return exc
        self.fail("nothing raised")

    def test_failure_inside_a_method_passes_unchanged(self):
        """A host debugging a failure must get its own exception, with the method named."""
        error = Boom("from a record")
        doc = Velmark(policies=[Policy(sub=ExplodingName(error), obj="o", act="a")])
        raised = self.raised_by(lambda: doc._dag_set_policies("root", doc.policies))
        self.assertIs(raised, error)
        self.assertEqual(trace_names(raised)[1:], ["<lambda>", "_dag_set_policies", "__eq__"])

        error = Boom("during a query")
        doc.policies[0].sub.error = error
        raised = self.raised_by(lambda: doc.get_role_contents("root"))
        self.assertIs(raised, error)
        self.assertEqual(trace_names(raised)[1:], ["<lambda>", "get_role_contents", "__eq__"])

        # Nested calls go through the object, and each adds its own entry.
        class Unhashable:
            __hash__ = None
        raised = self.raised_by(lambda: Velmark(groups=[Group(child=Unhashable(), parent="x")]))
        self.assertIs(type(raised), TypeError)
        self.assertEqual(trace_names(raised)[1:],
                         ["<lambda>", "__init__", "_dag_generate", "_dag_add_group"])

if __name__ == "__main__":
    unittest.main()
