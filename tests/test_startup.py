"""Import of velmark: its namespace, its name, and what a failed start leaves."""

import __future__
import json
import os
import unittest

import orvek_engine
import orvek_fields

import util

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
# An engine whose EmbeddedDocumentField refuses one way of naming the record class.
NARROW = '''
class EmbeddedDocumentField(EmbeddedDocumentField):
    def __init__(self, *args, **options):
        if %s:
            raise LookupError(%r)
        super().__init__(*args, **options)
'''
OWNERS = {"annotations": __future__, "StringField": orvek_fields, "DictField": orvek_fields}
CLASSES = ["Policy", "Group", "RoleContent", "Velmark"]
IMPORTED = ["annotations", "StringField", "DictField", "AclItem", "ListField",
            "EmbeddedDocumentField", "Document", "EmbeddedDocument", "Acl"]


def broken(package, old="", new="", extra=""):
    with open(os.path.join(util.STANDINS, package, "__init__.py")) as handle:
        return {package + "/__init__.py": handle.read().replace(old, new) + CAPTURE + extra}


# Runs PRELUDE + `code` beside velmark, the stand-ins (none if `files` is None)
# and `files` written over them; returns the `report` it prints.
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


# broken packages (None: orvek_fields absent), exception type, message, line of
# the module body (None: some class statement), entries after it, names bound by then
REFUSED = "record class form not accepted"
NO_NAME = "cannot import name %r from %r (<root>/%s/__init__.py)"
FAILURES = [
    (None, "ModuleNotFoundError", "No module named 'orvek_fields'", 2, [], None),
    (broken("orvek_fields", "class DictField(", "class _NoDictField("), "ImportError",
     NO_NAME % ("DictField", "orvek_fields", "orvek_fields"), 2, [], ["annotations", "StringField"]),
    (broken("orvek_engine", "(Acl, AclItem,", "(AclItem,"), "ImportError",
     NO_NAME % ("Acl", "orvek_engine", "orvek_engine"), 6, [], IMPORTED[:-1]),
    (broken("orvek_engine", extra=NARROW % ("args", REFUSED)), "LookupError", REFUSED, None,
     ["RoleContent", "__init__"], IMPORTED + CLASSES[:2]),
    (broken("orvek_engine", extra=NARROW % ("options", REFUSED)), "LookupError", REFUSED, None,
     ["Velmark", "__init__"], IMPORTED + CLASSES[:3]),
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
        self.assertEqual((velmark.__name__, velmark.__doc__), ("velmark", None))
        self.assertEqual([public[c].__module__ + "." + public[c].__name__ for c in CLASSES],
                         ["velmark." + c for c in CLASSES])

    def test_library_exports_only_its_entry_and_leaves_the_interpreter_unlinked(self):
        """A module linked to one libpython or leaking symbols would clash with its host."""
        import shutil, subprocess
        if not (shutil.which("nm") and shutil.which("readelf")):
            self.skipTest("binutils not available")
        for name in ("velmark", "messages"):
            path = util.built_module_path(name)
            symbols = subprocess.run(["nm", "-D", "--defined-only", path], stdout=subprocess.PIPE,
                                     universal_newlines=True, check=True).stdout.split()
            self.assertEqual(symbols[2::3], ["PyInit_" + name])
            dynamic = subprocess.run(["readelf", "-d", path], stdout=subprocess.PIPE,
                                     universal_newlines=True, check=True).stdout
            self.assertNotIn("libpython", dynamic)

    def test_module_name_follows_how_it_was_loaded(self):
        """Inside a package it must register under the dotted name; loaded by hand, as velmark."""
        report = sandbox_run(self, '''import ctypes, glob, pkg.velmark as m
report = [m.__name__, sys.modules.get("pkg.velmark") is m, "velmark" in sys.modules,
          m.Group.__module__, vars(m.Velmark)["get_role_contents"].__module__]
entry = ctypes.PyDLL(glob.glob(os.path.join(ROOT, "pkg", "velmark*.so"))[0]).PyInit_velmark
entry.restype = ctypes.py_object
m = entry()
report += [m.__name__, sys.modules.get("velmark") is m, hasattr(m, "Velmark"), m.__doc__]''',
                             files={"pkg/__init__.py": ""}, into="pkg")
        self.assertEqual(report, ["pkg.velmark", True, False, "pkg.velmark", "pkg.velmark",
                                  "velmark", True, True, None])

    def test_first_import_from_many_threads_gets_the_finished_module(self):
        """Threads importing at once must wait for the one running the start-up, never take the module half-made."""
        runs = util.run_many(util.RACING_IMPORT % ("velmark", ["Velmark"]), [util.BUILD_DIR, util.STANDINS], 20)
        self.assertEqual([(run.returncode, run.stdout, run.stderr[-300:]) for run in runs],
                         [(0, "False []\n", "")] * 20)

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
            """ % util.built_module_path("velmark"), [util.BUILD_DIR, util.STANDINS])
        error, policy = "NameError: name 'Policy' is not defined", {"sub": "root", "obj": "*", "act": "*"}
        # Only line 1 imports through the caller's hook: the interpreter's own module import does so.
        printed = "%s [Marker(sub='root', obj='*', act='*')] %s\n" % ([["__future__"], True, error, error], [policy])
        self.assertEqual((done.returncode, done.stdout, done.stderr), (0, printed, ""))

    def test_failure_passes_unchanged_and_leaves_nothing_registered(self):
        """A broken outside package must give the host its own error at its line, and no module."""
        for files, error, message, line, trail, partial in FAILURES:
            with self.subTest(message=message, trail=trail):
                report = sandbox_run(self, FAILURE_RUN, files)
                self.assertEqual((report["type"], report["message"], report["left"]),
                                 (error, message, False))
                entries = report["entries"][1:]  # after the helper's own
                self.assertEqual([e[0] for e in entries], ["<module velmark>"] + trail)
                self.assertIn(entries[0][1], [line] if line else range(9, 100))
                self.assertEqual(report["partial"], [sorted(partial)] if partial else [])
                self.assertEqual(report["fixed"], {"ok": "velmark"})

    def test_package_importing_velmark_back_gets_the_unfinished_module(self):
        """An outside package importing velmark during start-up must get it, marked initialising."""
        spy = "\nimport velmark as _v\nSEEN = [sorted(k for k in vars(_v) if k[0] != '_'), " \
              "_v.__spec__._initializing]\n"
        report = sandbox_run(self, 'report = [attempt(), __import__("orvek_engine").SEEN]',
                             broken("orvek_engine", extra=spy))
        self.assertEqual(report, [{"ok": "velmark"}, [sorted(IMPORTED[:3]), True]])


if __name__ == "__main__":
    unittest.main()
