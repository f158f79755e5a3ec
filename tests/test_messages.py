"""The `messages` module: `AppNameField`, `UserBasicInfo` and the import."""

import importlib
import inspect
import json
import os
import re
import sys
import textwrap
import unittest

import messages
import orvek_engine
import orvek_fields
import orvek_fields_network
import util
from orvek_fields import StringField, ValidationError

AppNameField = messages.AppNameField
UserBasicInfo = messages.UserBasicInfo

PATTERN = "^[0-z]+(-[0-z]+)+$"
DEFAULTS = [("description", "Application Name field"), ("sample", "my-app-name"), ("regex", PATTERN)]
OWN_FILE = "<messages>"
LOCALS = {"self", "description", "sample", "regex", "kwargs", "__class__"}


def keywords(**changed):
    """The default keyword set with some values replaced, in parameter order."""
    return [(key, changed.get(key, value)) for key, value in DEFAULTS]


def own_entries(traceback):
    """The entries of this module's own code."""
    found = []
    while traceback is not None:
        code = traceback.tb_frame.f_code
        if code.co_filename == OWN_FILE:
            found.append((code.co_name, traceback.tb_lineno))
        traceback = traceback.tb_next
    return found


def raised(call):
    """The exception `call` raises, traceback kept (assertRaises drops it)."""
    try:
        call()
    except Exception as exc:
        return exc
    raise AssertionError("nothing raised")


def last_frame(traceback):
    while traceback.tb_next is not None:
        traceback = traceback.tb_next
    return traceback


def recording_subclass():
    """(class, calls): a subclass of AppNameField whose next initialiser
    records what it receives."""
    calls = []

    class Recorder(StringField):
        def __init__(self, *args, **options):
            calls.append((args, list(options.items())))
            super().__init__(*args, **options)

    class Probe(AppNameField, Recorder):
        pass

    return Probe, calls


# Run in a fresh interpreter inside a sandbox: reports the outcome of
# `import messages` as JSON, with our own traceback entries.
IMPORT_REPORT = """
    import json, sys
    def report(keep=None):
        try:
            import messages
            outcome = {"ok": True}
        except BaseException as exc:
            tb, own = exc.__traceback__, []
            while tb is not None:
                if tb.tb_frame.f_code.co_filename == "<messages>":
                    own.append([tb.tb_frame.f_code.co_name, tb.tb_lineno])
                tb = tb.tb_next
            outcome = {"ok": False, "type": type(exc).__name__, "message": str(exc), "own": own}
            if keep is not None:
                keep["exception"] = exc
        outcome["in_table"] = "messages" in sys.modules
        return outcome
"""


def run_in_sandbox(sandbox, code):
    """Runs IMPORT_REPORT plus `code` (which prints one JSON line) and
    returns the parsed result."""
    done = sandbox.run(textwrap.dedent(IMPORT_REPORT) + textwrap.dedent(code))
    if done.returncode != 0:
        raise AssertionError("sandbox run failed:\n" + done.stderr)
    return json.loads(done.stdout.strip().splitlines()[-1])


def standin_source(package):
    with open(os.path.join(util.STANDINS, package, "__init__.py")) as handle:
        return handle.read()


class AppNameFieldTest(unittest.TestCase):

    def test_keywords_reaching_base_initialiser(self):
        """Every argument form must reach StringField as keywords, defaults filled, extras after in caller order."""
        marker = object()
        cases = [
            ((), {}, DEFAULTS),
            (("d",), {}, keywords(description="d")),
            (("d", "s"), {}, keywords(description="d", sample="s")),
            (("d", "s", "r"), {}, keywords(description="d", sample="s", regex="r")),
            ((), {"regex": "r", "description": "d"}, keywords(description="d", regex="r")),
            (("d",), {"unique": True, "sample": "s", "required": False, "zeta": marker},
             keywords(description="d", sample="s") + [("unique", True), ("required", False), ("zeta", marker)]),
            ((), {"regex": None}, keywords(regex=None)),
        ]
        for args, kwargs, expected in cases:
            with self.subTest(args=args, kwargs=kwargs):
                field = AppNameField(*args, **kwargs)
                self.assertIsInstance(field, AppNameField)
                self.assertEqual(field.args, ())
                self.assertEqual(list(field.options.items()), expected)
        self.assertIs(AppNameField(zeta=marker).options["zeta"], marker)
        self.assertIsNone(AppNameField.__init__(AppNameField.__new__(AppNameField)))

    def test_binding_errors_stop_before_base_call(self):
        """Bad argument lists must fail with the interpreter's messages and never reach StringField."""
        probe, calls = recording_subclass()
        cases = [
            (lambda: probe("d", description="x"), "__init__() got multiple values for argument 'description'"),
            (lambda: probe("d", "s", "r", regex="x"), "__init__() got multiple values for argument 'regex'"),
            (lambda: probe(1, 2, 3, 4), "__init__() takes from 1 to 4 positional arguments but 5 were given"),
            (lambda: AppNameField.__init__(), "__init__() missing 1 required positional argument: 'self'"),
            (lambda: AppNameField.__init__(description="d"),
             "__init__() missing 1 required positional argument: 'self'"),
        ]
        for call, message in cases:
            with self.subTest(message=message):
                exc = raised(call)
                self.assertEqual((type(exc), str(exc)), (TypeError, message))
                self.assertEqual(own_entries(exc.__traceback__), [])
        self.assertEqual(calls, [])
        probe("d", required=True)
        self.assertEqual(calls, [((), keywords(description="d") + [("required", True)])])

    def test_subclass_initialiser_continues_in_its_own_mro(self):
        """A subclass calling super().__init__ must reach the next class after AppNameField in its MRO."""
        seen = []

        class Mixin(StringField):
            def __init__(self, **options):
                seen.append(list(options.items()))
                super().__init__(**options)

        class Named(AppNameField, Mixin):
            def __init__(self, *args, **options):
                super().__init__(*args, **options)

        field = Named("Team app", unique=True)
        self.assertEqual(seen, [keywords(description="Team app") + [("unique", True)]])
        self.assertEqual(list(field.options.items()), seen[0])

    def test_foreign_self_fails_inside_initialiser(self):
        """Calling the initialiser on a non-AppNameField must raise super()'s TypeError with a useful frame."""
        for stranger in (object(), StringField()):
            with self.subTest(stranger=stranger):
                exc = raised(lambda: AppNameField.__init__(stranger, "d", extra=1))
                self.assertEqual((type(exc), str(exc)),
                                 (TypeError, "super(type, obj): obj must be an instance or subtype of type"))
                self.assertEqual(own_entries(exc.__traceback__), [("__init__", 13)])
                entry = last_frame(exc.__traceback__)
                self.assertEqual((entry.tb_frame.f_code.co_name, entry.tb_lineno), ("__init__", 13))
                self.assertEqual(entry.tb_frame.f_code.co_filename, OWN_FILE)
                frame_locals = entry.tb_frame.f_locals
                self.assertEqual(set(frame_locals), LOCALS)
                self.assertIs(frame_locals["self"], stranger)
                self.assertIs(frame_locals["__class__"], AppNameField)
                self.assertEqual(frame_locals["description"], "d")
                self.assertEqual(frame_locals["kwargs"], {"extra": 1})

    def test_initialiser_looks_like_a_python_function(self):
        """Introspection tools must read the initialiser's signature and metadata as for Python code."""
        init = AppNameField.__init__
        self.assertEqual((init.__name__, init.__qualname__, init.__module__), ("__init__", "AppNameField.__init__",
                                                                               "messages"))
        self.assertEqual(init.__defaults__, tuple(value for _, value in DEFAULTS))
        self.assertIsNone(init.__kwdefaults__)
        self.assertIsNone(init.__doc__)
        self.assertEqual(init.__annotations__, {})
        self.assertEqual(init.__code__.co_firstlineno, 8)
        self.assertEqual(init.__code__.co_freevars, ("__class__",))
        self.assertIs(init.__closure__[0].cell_contents, AppNameField)
        self.assertEqual(str(inspect.signature(AppNameField)),
                         "(description='Application Name field', sample='my-app-name', "
                         "regex='^[0-z]+(-[0-z]+)+$', **kwargs)")

    def test_default_pattern(self):
        """The default regex must accept hyphen-joined runs of '0'..'z' and refuse everything else."""
        pattern = AppNameField().options["regex"]
        accepted = ["my-app-name", "a-b", "App-Name-2", "my_app-v2", "0-z", ":;<=>?@-[\\]^_`", "A-B-C-D-E-F-G-H-I-J-K"]
        refused = ["myapp", "", "-", "-app", "app-", "my--app", "my app-x", "my.app-x", "my/app-x", "app~-x",
                   "caf\u00e9-x", "a-b c", "a+b-c", "a-b!"]
        self.assertEqual([name for name in accepted if not re.match(pattern, name)], [])
        self.assertEqual([name for name in refused if re.match(pattern, name)], [])
        field = AppNameField()
        field.validate("my-app-name")
        with self.assertRaises(ValidationError):
            field.validate("my app")


class UserBasicInfoTest(unittest.TestCase):

    def test_class_declarations(self):
        """The engine must receive both classes with exactly the declared namespace, fields and options."""
        self.assertEqual(UserBasicInfo._namespace_log, ("__module__", "__doc__", "__qualname__", "__annotations__",
                                                        "name", "apps", "user_id", "confirm_time"))
        self.assertEqual(list(UserBasicInfo.__annotations__.items()),
                         [("name", str), ("apps", list), ("user_id", str), ("confirm_time", float)])
        self.assertEqual(UserBasicInfo.__doc__, "All information about the user\n\n    ")
        self.assertEqual((UserBasicInfo.__module__, UserBasicInfo.__qualname__), ("messages", "UserBasicInfo"))
        self.assertEqual(UserBasicInfo.__bases__, (orvek_engine.EmbeddedDocument,))

        fields = UserBasicInfo._fields
        expected = [
            ("name", orvek_fields_network.EmailField, [("required", True), ("unique", True),
                                                       ("description", "User Name")]),
            ("apps", orvek_engine.ListField, [("default", []), ("description", "Application Names")]),
            ("user_id", StringField, [("description", "User unique ID")]),
            ("confirm_time", orvek_fields.TimestampField, [("description", "Account confirmed date")]),
        ]
        self.assertEqual(list(fields), [name for name, _, _ in expected])
        for name, constructor, options in expected:
            with self.subTest(field=name):
                self.assertIs(type(fields[name]), constructor)
                self.assertEqual(list(fields[name].options.items()), options)
        item = fields["apps"].args[0]
        self.assertEqual(fields["apps"].args, (item,))
        self.assertEqual((type(item), item.args, item.options), (StringField, (), {}))
        self.assertEqual([fields["name"].serial, item.serial, fields["apps"].serial, fields["user_id"].serial,
                          fields["confirm_time"].serial], sorted(f.serial for f in (*fields.values(), item)))

        self.assertEqual(AppNameField.__bases__, (StringField,))
        self.assertEqual((AppNameField.__module__, AppNameField.__qualname__, AppNameField.__doc__),
                         ("messages", "AppNameField", "App Name field"))
        self.assertEqual(sorted(vars(AppNameField)), ["__doc__", "__init__", "__module__"])

    def test_records(self):
        """A user record must build, validate, and round-trip through its display form."""
        user = UserBasicInfo(name="ada@example.org", apps=["my-app", "other-app"], user_id="u-1",
                             confirm_time=1700000000.5)
        user.validate()
        self.assertEqual(UserBasicInfo.from_display(**user.to_display()), user)
        self.assertEqual(UserBasicInfo().apps, [])
        with self.assertRaises(ValidationError):
            UserBasicInfo(name="not an address").validate()


class ModuleTest(unittest.TestCase):

    def test_module_namespace(self):
        """Host code must see exactly the eight public names, the packages' own objects among them."""
        public = sorted(name for name in vars(messages) if not (name.startswith("__") and name.endswith("__")))
        self.assertEqual(public, ["AppNameField", "EmailField", "EmbeddedDocument", "IntField", "ListField",
                                  "StringField", "TimestampField", "UserBasicInfo"])
        for package, names in ((orvek_fields, ["StringField", "IntField", "TimestampField"]),
                               (orvek_fields_network, ["EmailField"]),
                               (orvek_engine, ["EmbeddedDocument", "ListField"])):
            for name in names:
                self.assertIs(getattr(messages, name), getattr(package, name), name)
        self.assertIsNone(messages.__doc__)
        self.assertEqual(messages.__name__, "messages")

    def test_second_import_runs_nothing(self):
        """Importing again must hand out the same module without creating new classes or fields."""
        counter = repr(orvek_fields._serial)
        self.assertIs(importlib.import_module("messages"), messages)
        self.assertIs(__import__("messages").AppNameField, AppNameField)
        self.assertEqual(repr(orvek_fields._serial), counter)

    def test_missing_name_fails_at_line_1_and_import_can_be_retried(self):
        """An orvek_fields without IntField must fail the import at line 1, leave no module, and allow a retry."""
        with util.PackageSandbox() as sandbox:
            sandbox.copy_module("messages")
            sandbox.write("orvek_fields/__init__.py", """
                import sys
                UNFINISHED = []
                class StringField: pass
                class TimestampField: pass
                def __getattr__(name):
                    module = sys.modules.get("messages")
                    if name == "IntField" and all(module is not seen for seen in UNFINISHED):
                        UNFINISHED.append(module)
                    raise AttributeError(name)
                """)
            result = run_in_sandbox(sandbox, """
                import orvek_fields
                outcomes = [report(), report()]
                held = [sorted(k for k in vars(m) if not k.startswith("__")) for m in orvek_fields.UNFINISHED]
                same = all(m.StringField is orvek_fields.StringField for m in orvek_fields.UNFINISHED)
                print(json.dumps({"outcomes": outcomes, "held": held, "same": same, "file": orvek_fields.__file__}))
                """)
        message = "cannot import name 'IntField' from 'orvek_fields' (%s)" % result["file"]
        failure = {"ok": False, "type": "ImportError", "message": message, "own": [["<module messages>", 1]],
                   "in_table": False}
        self.assertEqual(result["outcomes"], [failure, failure])
        self.assertEqual(result["held"], [["StringField"], ["StringField"]])
        self.assertTrue(result["same"])

    def test_missing_package_fails_at_line_2(self):
        """A missing orvek_fields_network must surface the interpreter's own error at line 2."""
        with util.PackageSandbox() as sandbox:
            sandbox.copy_module("messages")
            sandbox.copy_standin("orvek_fields")
            sandbox.copy_standin("orvek_engine")
            result = run_in_sandbox(sandbox, "print(json.dumps(report()))")
        self.assertEqual(result, {"ok": False, "type": "ModuleNotFoundError",
                                  "message": "No module named 'orvek_fields_network'",
                                  "own": [["<module messages>", 2]], "in_table": False})

    def test_failing_field_constructor_reports_class_body_line(self):
        """A field constructor's exception must pass unchanged with entries for line 16 and line 23."""
        with util.PackageSandbox() as sandbox:
            sandbox.copy_module("messages")
            sandbox.copy_standin("orvek_engine")
            sandbox.copy_standin("orvek_fields_network")
            sandbox.write("orvek_fields/__init__.py", standin_source("orvek_fields") + """
class TimestampField(TimestampField):
    def __init__(self, *args, **options):
        global RAISED
        RAISED = ValueError("no clock")
        raise RAISED
""")
            result = run_in_sandbox(sandbox, """
                import orvek_fields
                keep = {}
                outcome = report(keep)
                print(json.dumps(dict(outcome, same=keep["exception"] is orvek_fields.RAISED)))
                """)
        self.assertEqual(result, {"ok": False, "type": "ValueError", "message": "no clock",
                                  "own": [["<module messages>", 16], ["UserBasicInfo", 23]],
                                  "in_table": False, "same": True})

    def test_class_statement_protocol(self):
        """The metaclass must get (name, bases) and the ordered namespace, and never the __class__ cell."""
        with util.PackageSandbox() as sandbox:
            sandbox.copy_module("messages")
            sandbox.copy_standin("orvek_engine")
            sandbox.copy_standin("orvek_fields_network")
            sandbox.write("orvek_fields/__init__.py", standin_source("orvek_fields") + """
SEEN = {}

class _Log(dict):
    def __init__(self):
        super().__init__()
        self.log = []
    def __setitem__(self, key, value):
        self.log.append(key)
        super().__setitem__(key, value)

class Box:
    pass

class _Meta(type):
    @classmethod
    def __prepare__(mcs, name, bases, **kw):
        SEEN[name] = {"prepare": [name, [b.__name__ for b in bases], sorted(kw)]}
        return _Log()
    def __new__(mcs, name, bases, ns, **kw):
        SEEN[name]["log"] = list(ns.log)
        cls = super().__new__(mcs, name, bases, dict(ns), **kw)
        if name != "AppNameField":
            return cls
        box = Box()
        box.init = ns["__init__"]
        return box

_Plain = StringField

class StringField(_Plain, metaclass=_Meta):
    def __init_subclass__(cls, **kw):
        super().__init_subclass__(**kw)
        if cls.__name__ == "AppNameField":
            try:
                cls()
            except NameError as exc:
                tb = exc.__traceback__
                while tb.tb_next:
                    tb = tb.tb_next
                SEEN["early"] = [str(exc), tb.tb_frame.f_code.co_name, tb.tb_lineno, sorted(tb.tb_frame.f_locals)]
""")
            result = run_in_sandbox(sandbox, """
                import orvek_fields
                outcome = report()
                import messages
                try:
                    messages.AppNameField.init(object())
                except RuntimeError as exc:
                    late = str(exc)
                print(json.dumps({"outcome": outcome, "seen": orvek_fields.SEEN["AppNameField"],
                                  "early": orvek_fields.SEEN["early"], "late": late}))
                """)
        self.assertTrue(result["outcome"]["ok"], result["outcome"])
        self.assertEqual(result["seen"], {"prepare": ["AppNameField", ["StringField"], []],
                                          "log": ["__module__", "__doc__", "__qualname__", "__init__"]})
        self.assertEqual(result["early"], [
            "free variable '__class__' referenced before assignment in enclosing scope", "__init__", 13,
            sorted(LOCALS - {"__class__"})])
        self.assertEqual(result["late"], "super(): __class__ is not a type (Box)")

    def test_import_calls_and_annotation_lookup(self):
        """Imports must go through __import__ with five arguments; annotations must not depend on globals or builtins."""
        with util.PackageSandbox() as sandbox:
            sandbox.copy_module("messages")
            for package in ("orvek_fields", "orvek_fields_network", "orvek_engine"):
                sandbox.copy_standin(package)
            result = run_in_sandbox(sandbox, """
                import builtins, orvek_engine
                real_import, real_float, real_prepare = builtins.__import__, float, orvek_engine.DocumentMeta.__prepare__
                class PatchedFloat(float):
                    pass
                calls = []
                def spying_import(name, globals=None, locals=None, fromlist=(), level=0):
                    module = real_import(name, globals, locals, fromlist, level)
                    if globals is not None and globals.get("__name__") == "messages":
                        calls.append([name, globals is sys.modules["messages"].__dict__, locals, fromlist, level])
                        globals["str"] = "module global str"
                        builtins.float = PatchedFloat
                    return module
                def seeding_prepare(name, bases, **kw):
                    namespace = real_prepare(name, bases, **kw)
                    if name == "UserBasicInfo":
                        dict.__setitem__(namespace, "list", "class body list")
                    return namespace
                builtins.__import__ = spying_import
                orvek_engine.DocumentMeta.__prepare__ = seeding_prepare
                try:
                    outcome = report()
                finally:
                    builtins.__import__, builtins.float = real_import, real_float
                import messages
                shown = {k: v if isinstance(v, str) else v.__qualname__
                         for k, v in messages.UserBasicInfo.__annotations__.items()}
                exact = [v is t for v, t in zip(messages.UserBasicInfo.__annotations__.values(),
                                                 (str, None, str, float))]
                print(json.dumps({"outcome": outcome, "calls": calls, "shown": shown, "exact": exact}))
                """)
        self.assertTrue(result["outcome"]["ok"], result["outcome"])
        self.assertEqual(result["calls"], [
            ["orvek_fields", True, None, ["StringField", "IntField", "TimestampField"], 0],
            ["orvek_fields_network", True, None, ["EmailField"], 0],
            ["orvek_engine", True, None, ["EmbeddedDocument", "ListField"], 0]])
        self.assertEqual(result["shown"], {"name": "str", "apps": "class body list", "user_id": "str",
                                           "confirm_time": "float"})
        self.assertEqual(result["exact"], [True, False, True, True])


class RobustnessTest(unittest.TestCase):

    def test_no_leaks(self):
        """Making fields, and failing to, must not grow memory."""
        def refused():
            try:
                AppNameField.__init__(object(), "d", x=1)
            except TypeError:
                pass

        def misbound():
            try:
                AppNameField(1, 2, 3, 4)
            except TypeError:
                pass

        for action in (lambda: AppNameField("d", required=True, unique=True), refused, misbound):
            self.assertLess(util.memory_growth(action, repeat=10000), 64 * 1024)

    def test_bad_input_does_not_crash(self):
        """Hostile arguments, subclasses and rebound names must raise or work, never crash the interpreter."""
        done = util.run_python("""
            import gc, sys
            import messages
            from orvek_fields import StringField
            A = messages.AppNameField
            init = A.__init__

            class Angry(StringField):
                def __init__(self, **options):
                    raise KeyError("base refuses")

            class Child(A, Angry):
                pass

            class Key(str):
                def __hash__(self):
                    return hash(str(self))

            attempts = [
                lambda: init(A),                        # a class as self: base initialiser unbound
                lambda: init(None),
                lambda: init(A.__new__(A), **{Key("x"): 1}),
                lambda: A(*range(10)),
                lambda: A(**{"description": 1, "sample": [], "regex": {}, "self": 2}),
                lambda: Child("d"),
                lambda: init.__get__(None, A)(A()),
                lambda: init.__get__(A.__new__(A))("x", "y", "z", w=object()),
            ]
            for attempt in attempts:
                try:
                    attempt()
                except Exception as exc:
                    exc.__traceback__ = None
                gc.collect()
            for name in list(vars(messages)):
                if not name.startswith("__"):
                    delattr(messages, name)
            A(required=True)
            print("done")
            """, sys.path)
        self.assertEqual((done.returncode, done.stdout.strip()), (0, "done"), done.stderr)


if __name__ == "__main__":
    unittest.main()
