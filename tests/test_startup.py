"""Import of velmark: its namespace, its name, and what a failed start leaves."""

import __future__
import json
import os
import shutil
import sys
import unittest

import orvek_engine
import orvek_fields

import util

# What every subprocess below starts with: a helper that imports velmark
# and reports the outcome as plain data the parent can compare.
PRELUDE = r'''
import importlib, json, os, sys
ROOT = os.environ["PYTHONPATH"].split(os.pathsep)[0]
GOOD = os.path.join(ROOT, "good")

def trace_entries(exc):
    entries = []
    tb = exc.__traceback__
    while tb is not None:
        entries.append([tb.tb_frame.f_code.co_name, tb.tb_lineno])
        tb = tb.tb_next
    return entries

def attempt():
    try:
        import velmark
    except BaseException as exc:
        return {"ok": False, "type": type(exc).__name__, "message": str(exc),
                "entries": trace_entries(exc),
                "same": exc is getattr(sys, "raised_for_test", None),
                "left": "velmark" in sys.modules}
    return {"ok": True, "name": velmark.__name__,
            "left": sys.modules.get("velmark") is velmark,
            "built": hasattr(velmark, "Velmark") and velmark.Velmark().dag is not None}

def use_good_standins():
    """Replaces the broken packages by the working ones."""
    sys.path.insert(0, GOOD)
    for name in ("orvek_fields", "orvek_engine", "orvek_fields_network"):
        for key in [k for k in sys.modules if k == name or k.startswith(name + ".")]:
            del sys.modules[key]
    importlib.invalidate_caches()

def public_names(module):
    return sorted(k for k in vars(module) if not (k.startswith("__") and k.endswith("__")))

report = {}
'''

STANDIN_NAMES = ("orvek_fields", "orvek_engine", "orvek_fields_network")

IMPORTED = ["annotations", "StringField", "DictField", "AclItem", "ListField",
            "EmbeddedDocumentField", "Document", "EmbeddedDocument", "Acl"]
CLASSES = ["Policy", "Group", "RoleContent", "Velmark"]


def standin_source(package, file="__init__.py"):
    with open(os.path.join(util.STANDINS, package, file)) as handle:
        return handle.read()


def run_in_sandbox(packages, code, broken_copies=()):
    """Runs PRELUDE + `code` next to a copy of velmark and the given
    `packages` ({relative path: source}); the working stand-ins sit in
    good/, off the path until `use_good_standins()`.  `broken_copies` names
    stand-ins copied whole next to velmark before `packages` is written over
    them.  Returns the dict the code leaves in `report`."""
    with util.PackageSandbox() as box:
        box.copy_module("velmark")
        for name in STANDIN_NAMES:
            shutil.copytree(os.path.join(util.STANDINS, name),
                            os.path.join(box.root, "good", name))
        for name in broken_copies:
            box.copy_standin(name)
        for path, text in packages.items():
            box.write(path, text)
        proc = box.run(PRELUDE + code + "\nprint(json.dumps(report))\n", timeout=120)
    if proc.returncode != 0:
        raise AssertionError("subprocess failed (%d):\n%s%s"
                             % (proc.returncode, proc.stdout, proc.stderr))
    return json.loads(proc.stdout.strip().splitlines()[-1])


class TestSuccessfulImport(unittest.TestCase):

    def test_namespace_holds_exactly_the_names_and_the_very_objects(self):
        """Host code relying on velmark.X being the engine's own X would break."""
        import velmark
        self.assertEqual(sorted(k for k in vars(velmark)
                                if not (k.startswith("__") and k.endswith("__"))),
                         sorted(IMPORTED + CLASSES))
        self.assertIs(velmark.annotations, __future__.annotations)
        for name in ("StringField", "DictField"):
            self.assertIs(getattr(velmark, name), getattr(orvek_fields, name), name)
        for name in ("AclItem", "ListField", "EmbeddedDocumentField", "Document",
                     "EmbeddedDocument", "Acl"):
            self.assertIs(getattr(velmark, name), getattr(orvek_engine, name), name)
        self.assertIsNone(velmark.__doc__)
        self.assertEqual(velmark.__name__, "velmark")
        self.assertIs(sys.modules["velmark"], velmark)
        for name in CLASSES:
            self.assertEqual(getattr(velmark, name).__module__, "velmark")
            self.assertEqual(getattr(velmark, name).__name__, name)

    def test_imported_as_submodule_uses_the_dotted_name(self):
        """A velmark shipped inside a package would register under the wrong key."""
        with util.PackageSandbox() as box:
            box.copy_module("velmark", into="pkg")
            box.write("pkg/__init__.py", "")
            for name in STANDIN_NAMES:
                box.copy_standin(name)
            proc = box.run(PRELUDE + '''
import pkg.velmark as m
report["name"] = m.__name__
report["registered"] = sys.modules.get("pkg.velmark") is m
report["top_level"] = "velmark" in sys.modules
report["class_modules"] = [getattr(m, c).__module__ for c in
                           ("Policy", "Group", "RoleContent", "Velmark")]
report["method_module"] = vars(m.Velmark)["get_role_contents"].__module__
report["dag"] = list(m.Velmark(policies=[], groups=[]).dag)
print(json.dumps(report))
''')
        self.assertEqual(proc.returncode, 0, proc.stderr)
        report = json.loads(proc.stdout)
        self.assertEqual(report, {
            "name": "pkg.velmark", "registered": True, "top_level": False,
            "class_modules": ["pkg.velmark"] * 4, "method_module": "pkg.velmark",
            "dag": ["public"]})

    def test_entry_called_outside_the_import_system(self):
        """Loading the library by hand must not pick up a stale package name."""
        with util.PackageSandbox() as box:
            box.copy_module("velmark")
            for name in STANDIN_NAMES:
                box.copy_standin(name)
            proc = box.run(PRELUDE + '''
import ctypes, glob
path = glob.glob(os.path.join(ROOT, "velmark*.so"))[0]
entry = ctypes.PyDLL(path).PyInit_velmark
entry.restype = ctypes.py_object
entry.argtypes = []
m = entry()
report["name"] = m.__name__
report["registered"] = sys.modules.get("velmark") is m
report["classes"] = [c for c in ("Policy", "Group", "RoleContent", "Velmark") if hasattr(m, c)]
report["doc"] = m.__doc__
print(json.dumps(report))
''')
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(json.loads(proc.stdout), {
            "name": "velmark", "registered": True, "classes": CLASSES, "doc": None})


class TestFailedImport(unittest.TestCase):
    """Every broken outside package: the exception passes unchanged, the
    module body's entry shows the failing line, nothing stays registered,
    and the next import runs the whole body again."""

    def assertFailure(self, outcome, type_name, message, line):
        self.assertFalse(outcome["ok"], outcome)
        self.assertEqual((outcome["type"], outcome["message"]), (type_name, message))
        body_entries = [e for e in outcome["entries"] if e[0] == "<module velmark>"]
        self.assertEqual(len(body_entries), 1, outcome["entries"])
        if line is not None:
            self.assertEqual(body_entries[0][1], line, outcome["entries"])
        self.assertFalse(outcome["left"], "velmark stays in sys.modules")

    def test_missing_orvek_fields(self):
        """A host without the field package must get the plain import error, every time."""
        report = run_in_sandbox({}, '''
report["first"] = attempt()
report["second"] = attempt()
use_good_standins()
report["fixed"] = attempt()
''')
        message = "No module named 'orvek_fields'"
        self.assertFailure(report["first"], "ModuleNotFoundError", message, 2)
        self.assertFailure(report["second"], "ModuleNotFoundError", message, 2)
        self.assertEqual(report["fixed"], {"ok": True, "name": "velmark", "left": True,
                                           "built": True})

    def test_orvek_fields_without_dictfield(self):
        """The name error must name the package's file; the earlier name stays bound."""
        broken = standin_source("orvek_fields").replace(
            "class DictField(BaseField):", "class _NoDictField(BaseField):")
        broken += "\nimport sys as _sys\nCAPTURED = _sys.modules.get('velmark')\n"
        report = run_in_sandbox({"orvek_fields/__init__.py": broken}, '''
report["first"] = attempt()
import orvek_fields
report["file"] = orvek_fields.__file__
report["second"] = attempt()
partial = orvek_fields.CAPTURED
report["partial_names"] = public_names(partial)
report["string_field_is_packages"] = partial.StringField is orvek_fields.StringField
use_good_standins()
report["fixed"] = attempt()
report["new_module"] = sys.modules["velmark"] is not partial
''')
        message = ("cannot import name 'DictField' from 'orvek_fields' (%s)"
                   % report["file"])
        self.assertFailure(report["first"], "ImportError", message, 2)
        self.assertFailure(report["second"], "ImportError", message, 2)
        self.assertEqual(report["partial_names"], ["StringField", "annotations"])
        self.assertTrue(report["string_field_is_packages"])
        self.assertTrue(report["fixed"]["ok"], report["fixed"])
        self.assertTrue(report["new_module"])

    def test_orvek_engine_without_acl(self):
        """An unused name still fails the import, at its own line, after binding the rest."""
        broken = standin_source("orvek_engine").replace(
            "from .documents import (Acl, AclItem,", "from .documents import (AclItem,")
        broken += "\nimport sys as _sys\nCAPTURED = _sys.modules.get('velmark')\n"
        report = run_in_sandbox({"orvek_engine/__init__.py": broken}, '''
report["first"] = attempt()
import orvek_engine, orvek_fields
report["file"] = orvek_engine.__file__
report["second"] = attempt()
partial = orvek_engine.CAPTURED
report["partial_names"] = public_names(partial)
report["identical"] = {
    name: getattr(partial, name) is getattr(
        orvek_fields if name in ("StringField", "DictField") else orvek_engine, name)
    for name in ("StringField", "DictField", "AclItem", "ListField",
                 "EmbeddedDocumentField", "Document", "EmbeddedDocument")}
import __future__
report["annotations"] = partial.annotations is __future__.annotations
orvek_engine.Acl = orvek_engine.documents.Acl
report["fixed"] = attempt()
report["new_module"] = sys.modules["velmark"] is not partial
''', broken_copies=("orvek_engine", "orvek_fields"))
        message = "cannot import name 'Acl' from 'orvek_engine' (%s)" % report["file"]
        self.assertFailure(report["first"], "ImportError", message, 6)
        self.assertFailure(report["second"], "ImportError", message, 6)
        self.assertEqual(report["partial_names"], sorted(IMPORTED[:-1]))
        self.assertEqual(set(report["identical"].values()), {True}, report["identical"])
        self.assertTrue(report["annotations"])
        self.assertTrue(report["fixed"]["ok"], report["fixed"])
        self.assertTrue(report["new_module"])

    def test_engine_failing_while_it_starts(self):
        """Whatever the engine raises on import must reach the host unchanged."""
        report = run_in_sandbox({"orvek_engine/__init__.py": '''
import sys
sys.raised_for_test = LookupError("engine refuses to start")
raise sys.raised_for_test
'''}, '''
report["first"] = attempt()
''', broken_copies=("orvek_fields",))
        self.assertFailure(report["first"], "LookupError", "engine refuses to start", 3)
        self.assertTrue(report["first"]["same"])

    # Engines whose EmbeddedDocumentField takes the record class in one form only.
    NARROW_FIELD = '''
import sys as _sys
CAPTURED = _sys.modules.get("velmark")

class Refused(Exception):
    pass

class EmbeddedDocumentField(EmbeddedDocumentField):
    def __init__(self, *args, **options):
        if %s:
            _sys.raised_for_test = Refused("record class form not accepted")
            raise _sys.raised_for_test
        super().__init__(*args, **options)
'''

    def check_field_refused(self, condition, failing_class):
        broken = standin_source("orvek_engine") + self.NARROW_FIELD % condition
        report = run_in_sandbox({"orvek_engine/__init__.py": broken}, '''
report["first"] = attempt()
import orvek_engine
report["second"] = attempt()
report["partial_names"] = public_names(orvek_engine.CAPTURED)
orvek_engine.EmbeddedDocumentField = orvek_engine.fields.EmbeddedDocumentField
report["fixed"] = attempt()
''', broken_copies=("orvek_engine", "orvek_fields"))
        for outcome in (report["first"], report["second"]):
            self.assertFailure(outcome, "Refused", "record class form not accepted", None)
            self.assertTrue(outcome["same"], "the constructor's exception was replaced")
            names = [e[0] for e in outcome["entries"]]
            body = names.index("<module velmark>")
            self.assertGreaterEqual(outcome["entries"][body][1], 9)
            # module body, then the class body, then the refusing constructor
            self.assertEqual(names[body + 1:], [failing_class, "__init__"],
                             outcome["entries"])
        made = CLASSES[:CLASSES.index(failing_class)]
        self.assertEqual(report["partial_names"], sorted(IMPORTED + made))
        self.assertTrue(report["fixed"]["ok"], report["fixed"])

    def test_engine_field_taking_only_document_type(self):
        """RoleContent passes AclItem by position; such an engine must fail the import there."""
        self.check_field_refused("args", "RoleContent")

    def test_engine_field_taking_only_positional(self):
        """Velmark passes document_type; such an engine must fail the import there."""
        self.check_field_refused("'document_type' in options", "Velmark")


class TestUnfinishedModule(unittest.TestCase):

    def test_outside_package_importing_velmark_during_start_up(self):
        """A package that imports velmark back must get the module being built,
        and another thread must wait for the finished one."""
        spy = '''
import sys as _sys, threading as _threading, time as _time
import velmark as _velmark
SEEN = sorted(k for k in vars(_velmark) if not (k.startswith("__") and k.endswith("__")))
INITIALIZING = _velmark.__spec__._initializing
CAPTURED = _velmark
'''
        engine_spy = spy + '''
THREAD_SAW = []
def _other_thread():
    import velmark
    THREAD_SAW.append(hasattr(velmark, "Velmark"))
_thread = _threading.Thread(target=_other_thread)
_thread.start()
_time.sleep(0.3)
'''
        report = run_in_sandbox({
            "orvek_fields/__init__.py": standin_source("orvek_fields") + spy,
            "orvek_engine/__init__.py": standin_source("orvek_engine") + engine_spy,
        }, '''
outcome = attempt()
report["outcome"] = outcome
import orvek_fields, orvek_engine, velmark
orvek_engine._thread.join(10)
report["fields_saw"] = orvek_fields.SEEN
report["fields_initializing"] = orvek_fields.INITIALIZING
report["engine_saw"] = orvek_engine.SEEN
report["engine_initializing"] = orvek_engine.INITIALIZING
report["same_object"] = orvek_fields.CAPTURED is velmark and orvek_engine.CAPTURED is velmark
report["thread_saw_classes"] = orvek_engine.THREAD_SAW
''', broken_copies=("orvek_engine", "orvek_fields"))
        self.assertTrue(report["outcome"]["ok"], report["outcome"])
        self.assertEqual(report["fields_saw"], ["annotations"])
        self.assertIs(report["fields_initializing"], True)
        self.assertEqual(report["engine_saw"], ["DictField", "StringField", "annotations"])
        self.assertIs(report["engine_initializing"], True)
        self.assertTrue(report["same_object"])
        self.assertEqual(report["thread_saw_classes"], [True])


if __name__ == "__main__":
    unittest.main()
