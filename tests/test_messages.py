"""The `messages` module: `AppNameField`, `UserBasicInfo` and the import."""

import importlib
import json
import re
import traceback
import unittest

import util
import messages
from messages import AppNameField, UserBasicInfo
from orvek_fields import StringField

DEFAULTS = [("description", "Application Name field"), ("sample", "my-app-name"), ("regex", "^[0-z]+(-[0-z]+)+$")]


def keywords(**changed):
    """The default keywords, some values replaced, in parameter order."""
    return [(key, changed.get(key, value)) for key, value in DEFAULTS]


def raised(call):
    """The exception `call` raises, with its traceback and frames intact."""
    try:
        call()
    except Exception as exc:
        return exc


def own_entries(exc):
    """(function, line, frame) of each traceback entry in the module's own code."""
    return [(frame.f_code.co_name, line, frame) for frame, line in traceback.walk_tb(exc.__traceback__)
            if frame.f_code.co_filename == "<messages>"]


class AppNameFieldTest(unittest.TestCase):
    def test_initialiser_arguments(self):
        """Arguments must reach the next class in the caller's MRO as keywords, defaults filled, extras after in
        caller order; bad ones must fail as in Python code before any base call."""
        calls = []

        class Mixin(StringField):
            def __init__(self, **options):
                calls.append(list(options.items()))
                super().__init__(**options)

        class Named(AppNameField, Mixin):
            pass

        for args, kwargs, expected in [
                ((), {}, DEFAULTS),
                (("d", "s", "r"), {}, keywords(description="d", sample="s", regex="r")),
                ((), {"regex": "r", "description": "d"}, keywords(description="d", regex="r")),
                (("d",), {"unique": True, "sample": "s", "zeta": None},
                 keywords(description="d", sample="s") + [("unique", True), ("zeta", None)]),
                ((), {"regex": None}, keywords(regex=None))]:
            with self.subTest(args=args, kwargs=kwargs):
                field = Named(*args, **kwargs)
                self.assertEqual(field.args, ())
                self.assertEqual(list(field.options.items()), expected)
                self.assertEqual(calls.pop(), expected)
        init, stranger = AppNameField.__init__, StringField()
        foreign = "super(type, obj): obj must be an instance or subtype of type"
        for call, message in [
                (lambda: Named("d", description="x"), "__init__() got multiple values for argument 'description'"),
                (lambda: Named(1, 2, 3, 4), "__init__() takes from 1 to 4 positional arguments but 5 were given"),
                (lambda: init(description="d"), "__init__() missing 1 required positional argument: 'self'"),
                (lambda: init(object(), "d"), foreign), (lambda: init(stranger, "d", extra=1), foreign)]:
            with self.subTest(message=message):
                exc = raised(call)
                self.assertIs(type(exc), TypeError)
                self.assertEqual(str(exc), message)
                self.assertEqual([e[:2] for e in own_entries(exc)], [("__init__", 13)] if message == foreign else [])
        self.assertEqual(calls, [])
        self.assertEqual(own_entries(exc)[0][2].f_locals, dict(DEFAULTS, self=stranger, description="d",
                                                                kwargs={"extra": 1}, __class__=AppNameField))

    def test_default_pattern(self):
        """The default regex must accept hyphen-joined runs of '0'..'z' and refuse everything else."""
        accepted = ["my-app-name", "App-Name-2", "my_app-v2", "0-z", ":;<=>?@-[\\]^_`"]
        refused = ["myapp", "", "-app", "app-", "my--app", "my app-x", "my.app-x", "app~-x", "caf\u00e9-x", "a-b!"]
        self.assertEqual([n for n in accepted + refused if re.match(AppNameField().options["regex"], n)], accepted)


class ModuleTest(unittest.TestCase):
    def test_user_record_and_module_names(self):
        """The engine must get UserBasicInfo's names in order with real types; the module must hold the eight names."""
        self.assertEqual(UserBasicInfo._namespace_log, ("__module__", "__doc__", "__qualname__", "__annotations__",
                                                        "name", "apps", "user_id", "confirm_time"))
        self.assertEqual(list(UserBasicInfo.__annotations__.items()),
                         [("name", str), ("apps", list), ("user_id", str), ("confirm_time", float)])
        expected = {name: getattr(importlib.import_module(package), name) for package, names in [
            ("orvek_fields", "StringField IntField TimestampField"), ("orvek_engine", "EmbeddedDocument ListField"),
            ("orvek_fields_network", "EmailField"), ("messages", "AppNameField UserBasicInfo")]
            for name in names.split()}
        self.assertEqual({name: value for name, value in vars(messages).items() if not name.startswith("__")}, expected)

    def test_first_import_from_many_threads_gets_the_finished_module(self):
        """Threads importing at once must wait for the one running the start-up, never take the module half-made."""
        runs = util.run_many(util.RACING_IMPORT % ("messages", ["AppNameField", "UserBasicInfo"]), 20)
        self.assertEqual([(r.returncode, r.stdout, r.stderr) for r in runs], [(0, "False []\n", "")] * 20)

    def test_initialiser_copies_and_pickles_as_itself(self):
        """Copying or pickling the method must give back the very same function, as for a Python method."""
        for copied in util.copies(AppNameField.__init__):
            self.assertIs(copied, AppNameField.__init__)

    def test_failed_imports(self):
        """A missing name or failing field must fail the import at its line, leave no module, and allow a retry."""
        done = util.run_python("""
            import json, sys, traceback, orvek_fields
            def report():
                try:
                    import messages
                except Exception as exc:
                    own = [[entry.name, entry.lineno] for entry in traceback.extract_tb(exc.__traceback__)
                           if entry.filename == "<messages>"]
                    return [type(exc).__name__, str(exc), own, "messages" in sys.modules]
            unfinished, real = {}, vars(orvek_fields).pop("IntField")
            def missing(name):
                unfinished[id(sys.modules["messages"])] = sys.modules["messages"]
                raise AttributeError(name)
            orvek_fields.__getattr__ = missing
            outcomes = [report(), report()]
            class Failing(orvek_fields.TimestampField):
                def __init__(self, *args, **options):
                    raise ValueError("no clock")
            orvek_fields.IntField, orvek_fields.TimestampField = real, Failing
            held = [sorted(name for name in vars(m) if not name.startswith("__")) for m in unfinished.values()]
            print(json.dumps([outcomes + [report(), report()], held, orvek_fields.__file__]))
            """)
        self.assertEqual(done.returncode, 0, done.stderr)
        outcomes, held, path = json.loads(done.stdout)
        missing = ["ImportError", "cannot import name 'IntField' from 'orvek_fields' (%s)" % path,
                   [["<module messages>", 1]], False]
        failing = ["ValueError", "no clock", [["<module messages>", 16], ["UserBasicInfo", 23]], False]
        self.assertEqual(outcomes, [missing, missing, failing, failing])
        self.assertEqual(held, [["StringField"], ["StringField"]])
