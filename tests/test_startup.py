"""Import of velmark: its namespace, its name, and what a failed start leaves."""

import __future__
import json
import os
import unittest

import util
import orvek_engine
import orvek_fields

# Every subprocess starts with this: import velmark, report the outcome as data.
PRELUDE = r'''
import json, os, sys, traceback
ROOT = os.environ["PYTHONPATH"].split(os.pathsep)[0]
def attempt():
    try:
        import velmark
    except BaseException as exc:
        entries = [[f.f_code.co_name, line] for f, line in traceback.walk_tb(exc.__traceback__)]
        return {"type": type(exc).__name__, "message": str(exc).replace(ROOT, "<root>"),
                "entries": entries, "left": "velmark" in sys.modules}
    return {"ok": velmark.__name__}
'''
# Appended to a broken package: keeps the velmark module that imported it.
CAPTURE = "\nimport sys as _sys\nCAPTURED = _sys.modules.get('velmark')\n"
BODY, REFUSED = "<module velmark>", "record class form not accepted"
# Makes the package's field class {0} refuse the fields it is asked for while {1} holds.
NARROW = '''
class {0}({0}):
    def __init__(self, *args, **options):
        if {1}:
            raise LookupError(%r)
        super().__init__(*args, **options)
''' % REFUSED
# Fails the start-up's next import (asked of `__import__` from C) in a function named as the module body, at line 100:
# the error's traceback then begins with such an entry, to which the start-up must add no second one.
HOOK = '''
import builtins as _builtins
def _hook(*args, _real=_builtins.__import__):
    _builtins.__import__ = _real
    raise LookupError("engine refused")
_hook.__code__, _builtins.__import__ = _hook.__code__.replace(co_name=%r, co_firstlineno=100), _hook
'''
OWNERS = {"annotations": __future__, "StringField": orvek_fields, "DictField": orvek_fields}
CLASSES = ["Policy", "Group", "RoleContent", "Velmark"]
IMPORTED = ["annotations", "StringField", "DictField", "AclItem", "ListField",
            "EmbeddedDocumentField", "Document", "EmbeddedDocument", "Acl"]


def broken(package, old="", new="", extra=""):
    with open(os.path.join(util.STANDINS, package, "__init__.py")) as handle:
        return {package + "/__init__.py": handle.read().replace(old, new) + CAPTURE + extra}


# Runs PRELUDE + `code` beside velmark, the stand-ins (none if `files` is None) and `files`; returns its `report`.
def sandbox_run(test, code, files=(), into=""):
    with util.PackageSandbox() as box:
        box.copy_module("velmark", into=into)
        for name in ("orvek_engine", "orvek_fields") if files is not None else ():
            box.copy_standin(name)
        for path, text in dict(files or ()).items():
            box.write(path, text)
        proc = box.run(PRELUDE + code + "\nprint(json.dumps(report))\n", timeout=120)
    test.assertEqual(proc.returncode, 0, proc.stderr)
    return json.loads(proc.stdout.splitlines()[-1])


# broken packages (None: orvek_fields absent), exception type, message, velmark's own traceback entries [name, line]
# (the module body's at the failing statement, then a class body's), the engine's entries after them, names bound
NO_NAME = "cannot import name %r from %r (<root>/%s/__init__.py)"
FAILURES = [
    (None, "ModuleNotFoundError", "No module named 'orvek_fields'", [[BODY, 2]], [], None),
    (broken("orvek_fields", "class DictField(", "class _NoDictField("), "ImportError",
     NO_NAME % ("DictField", "orvek_fields", "orvek_fields"), [[BODY, 2]], [], ["annotations", "StringField"]),
    (broken("orvek_engine", "(Acl, AclItem,", "(AclItem,"), "ImportError",
     NO_NAME % ("Acl", "orvek_engine", "orvek_engine"), [[BODY, 6]], [], IMPORTED[:-1]),
    (broken("orvek_fields", extra=NARROW.format("StringField", "'Acl' in dir(_sys.modules.get('orvek_engine'))")),
     "LookupError", REFUSED, [[BODY, 9], ["Policy", 10]], ["__init__"], IMPORTED),
    (broken("orvek_fields", extra=NARROW.format("StringField", "'regex' in options")), "LookupError", REFUSED,
     [[BODY, 15], ["Group", 16]], ["__init__"], IMPORTED + CLASSES[:1]),
    (broken("orvek_engine", extra=NARROW.format("EmbeddedDocumentField", "args")), "LookupError", REFUSED,
     [[BODY, 20], ["RoleContent", 23]], ["__init__"], IMPORTED + CLASSES[:2]),
    (broken("orvek_engine", extra=NARROW.format("EmbeddedDocumentField", "options")), "LookupError", REFUSED,
     [[BODY, 26], ["Velmark", 44]], ["__init__"], IMPORTED + CLASSES[:3]),
    (broken("orvek_fields", extra=HOOK % BODY), "LookupError", "engine refused", [[BODY, 102]], [], IMPORTED[:3]),
]
# Fails, then retries with the working stand-ins first on the path.
FAILURE_RUN = '''
report = dict(attempt(), partial=[sorted(k for k in vars(p.CAPTURED) if not k.startswith("__"))
                                  for p in sys.modules.values() if getattr(p, "CAPTURED", None)])
sys.path.insert(0, %r)
for key in [k for k in sys.modules if k.startswith("orvek_")]:
    del sys.modules[key]
report["fixed"] = attempt()
''' % util.STANDINS


class TestImport(unittest.TestCase):
    def test_namespace_holds_exactly_the_packages_own_objects(self):
        """Host code relying on velmark.X being the engine's own X would break."""
        import velmark
        public = {k: v for k, v in vars(velmark).items() if not k.startswith("__")}
        self.assertEqual(sorted(public), sorted(IMPORTED + CLASSES))
        for name in IMPORTED:
            self.assertIs(public[name], getattr(OWNERS.get(name, orvek_engine), name), name)
        self.assertEqual(velmark.__name__, "velmark")
        self.assertIsNone(velmark.__doc__)
        self.assertEqual([public[c].__module__ + "." + public[c].__name__ for c in CLASSES],
                         ["velmark." + c for c in CLASSES])

    def test_library_exports_only_its_entry_and_leaves_the_interpreter_unlinked(self):
        """A module linked to one libpython or leaking symbols would clash with its host."""
        import shutil, subprocess
        if not (shutil.which("nm") and shutil.which("readelf")):
            self.skipTest("binutils not available")
        for name in ("velmark", "messages"):
            path = util.built_module_path(name)
            symbols = subprocess.check_output(["nm", "-D", "--defined-only", path], universal_newlines=True).split()
            self.assertEqual(symbols[2::3], ["PyInit_" + name])
            self.assertNotIn("libpython", subprocess.check_output(["readelf", "-d", path], universal_newlines=True))

    def test_module_name_follows_how_it_was_loaded(self):
        """Inside a package it must register under the dotted name; loaded by hand, as velmark."""
        report = sandbox_run(self, '''import ctypes, glob, pkg.velmark as m
report = dict(name=m.__name__, kept=sys.modules.get("pkg.velmark") is m, plain_kept="velmark" in sys.modules,
              record=m.Group.__module__, method=vars(m.Velmark)["get_role_contents"].__module__)
entry = ctypes.PyDLL(glob.glob(os.path.join(ROOT, "pkg", "velmark*.so"))[0]).PyInit_velmark
entry.restype = ctypes.py_object
m = entry()
report.update(manual=m.__name__, manual_kept=sys.modules.get("velmark") is m, manual_full=hasattr(m, "Velmark"),
              manual_doc=m.__doc__)''', files={"pkg/__init__.py": ""}, into="pkg")
        util.assert_parts(self, report, name="pkg.velmark", kept=True, plain_kept=False, record="pkg.velmark",
                          method="pkg.velmark", manual="velmark", manual_kept=True, manual_full=True, manual_doc=None)

    def test_first_import_from_many_threads_gets_the_finished_module(self):
        """Threads importing at once must wait for the one running the start-up, never take the module half-made."""
        runs = util.run_many(util.RACING_IMPORT % ("velmark", ["Velmark"]), 20)
        self.assertEqual([(r.returncode, r.stdout, r.stderr) for r in runs], [(0, "False []\n", "")] * 20)

    def test_names_come_from_the_module_then_the_interpreters_builtins(self):
        """Neither the start-up nor a method may take a name from the builtins of the frame that called it."""
        done = util.run_python("""
            import builtins, ctypes
            trapped, made = [], []
            def trap(name, *args):   # records, then imports as the interpreter would
                trapped.append(name)
                return builtins.__import__(name, *args)
            def run(code, frame_builtins, **names):
                scope = dict(names, __builtins__=frame_builtins)
                try:
                    exec(code, scope)
                except Exception as exc:
                    return "%%s: %%s" %% (type(exc).__name__, exc)
                return scope.get("result")
            entry = ctypes.PyDLL(%r).PyInit_velmark
            entry.restype = ctypes.py_object
            started = run("result = entry()", {"__import__": trap}, entry=entry)
            import velmark
            class Marker(velmark.Policy):
                def __init__(self, **fields):
                    made.append(fields)
                    super().__init__(**fields)
            del velmark.Policy
            report = [trapped, started is velmark] + [
                run("velmark.Velmark()", frame_builtins, velmark=velmark) for frame_builtins in ({"Policy": Marker}, 42)]
            builtins.Policy = Marker
            print(report, run("result = velmark.Velmark().policies", {}, velmark=velmark), made)
            """ % util.built_module_path("velmark"))
        error, policy = "NameError: name 'Policy' is not defined", {"sub": "root", "obj": "*", "act": "*"}
        # Only line 1 imports through the caller's hook: the interpreter's own module import does so.
        printed = "%s [Marker(sub='root', obj='*', act='*')] %s\n" % ([["__future__"], True, error, error], [policy])
        util.assert_printed(self, done, printed)
        self.assertEqual(done.stderr, "")

    def test_failure_passes_unchanged_and_leaves_nothing_registered(self):
        """A broken outside package must give the host its own error at its line, and no module."""
        for files, error, message, own, trail, partial in FAILURES:
            with self.subTest(message=message, own=own):
                report = sandbox_run(self, FAILURE_RUN, files)
                self.assertEqual(report["type"], error)
                self.assertEqual(report["message"], message)
                self.assertIs(report["left"], False)
                entries = report["entries"][1:]  # after the helper's own
                self.assertEqual(entries[:len(own)], own)
                self.assertEqual([name for name, _ in entries[len(own):]], trail)
                self.assertEqual(report["partial"], [sorted(partial)] if partial else [])
                self.assertEqual(report["fixed"], {"ok": "velmark"})

    def test_package_importing_velmark_back_gets_the_unfinished_module(self):
        """An outside package importing velmark during start-up must get it, marked initialising."""
        spy = "\nimport velmark as _v\nSEEN = [sorted(k for k in vars(_v) if k[0] != '_'), _v.__spec__._initializing]\n"
        report = sandbox_run(self, 'report = [attempt(), __import__("orvek_engine").SEEN]',
                             broken("orvek_engine", extra=spy))
        self.assertEqual(report[0], {"ok": "velmark"})
        self.assertEqual(report[1][0], sorted(IMPORTED[:3]))   # the names bound when the engine imported it
        self.assertIs(report[1][1], True)   # the module still marked as initialising
