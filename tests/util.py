"""Helpers shared by the tests; imported first by each, it puts the built modules and stand-ins on sys.path."""
import copy
import gc
import glob
import os
import pickle
import re
import resource
import shutil
import subprocess
import sys
import tempfile
import textwrap
import tracemalloc
from concurrent.futures import ThreadPoolExecutor

HERE = os.path.dirname(os.path.abspath(__file__))
STANDINS = os.path.join(os.path.dirname(HERE), "standins")
# VELMARK_BUILD_DIR if set (CTest sets it), else the folder ./run-tests builds; PATH: what this and every child import.
BUILD_DIR = os.path.abspath(os.environ.get("VELMARK_BUILD_DIR") or os.path.join(HERE, "..", "build", "python"))
PATH = [BUILD_DIR, STANDINS, HERE]
# The sanitizer build preloads ASan, whose shadow memory rules out any address-space limit.
SANITIZED = "libasan" in os.environ.get("LD_PRELOAD", "")


def built_module_path(name):
    """Path of the freshly built extension module `name`."""
    found = glob.glob(os.path.join(BUILD_DIR, name + ".*.so"))
    if not found:
        raise ImportError("no built %s module in %s: run ./run-tests, or set VELMARK_BUILD_DIR" % (name, BUILD_DIR))
    return found[0]


BUILT = [built_module_path(name) for name in ("velmark", "messages")]   # fails, naming the folder, if one is missing
sys.path[:0] = [folder for folder in PATH if folder not in map(os.path.abspath, sys.path)]
import velmark  # noqa: E402  (only now can it be found)


def groups(*pairs):
    return [velmark.Group(child=child, parent=parent) for child, parent in pairs]


def policies(*triples):
    return [velmark.Policy(sub=sub, obj=obj, act=act) for sub, obj, act in triples]


def make_doc(pairs=(), triples=(), cls=velmark.Velmark, name="app", **fields):
    """A `cls` document with the containments (child, parent) `pairs` and the permissions (sub, obj, act) `triples`."""
    return cls(name=name, groups=groups(*pairs), policies=policies(*triples), **fields)


def perm(obj, act):   # a permission in the display form that the updates take and the answers give
    return {"obj": obj, "act": act}


def twin(test, hashed, text):
    """A new str equal to `text` but another object, as a name read from a request or a file is; with `hashed` its
    hash is cached now, as after a dict lookup, else not yet.  One-character strs are shared and have no twin."""
    copy = "".join([text[:1], text[1:]])
    test.assertIsNot(copy, text)
    if hashed:
        hash(copy)
    return copy


def twins(test, hashed, *rows):
    """The tuples of strs `rows`, each str replaced by its own twin."""
    return [tuple(twin(test, hashed, text) for text in row) for row in rows]


class CountingDoc(velmark.Velmark):
    """Counts its saves: every update must save exactly once."""
    saves = 0

    def save(self):
        self.saves += 1
        return super().save()


class QuietDoc(velmark.Velmark):
    """Saves nothing, so that large graphs measure the module and not the stand-in engine's store."""

    def save(self):
        pass


def capture_from_display(test, name):
    """Swaps velmark.`name`, until `test` ends, for a class whose from_display logs its keyword pairs in order."""
    real, calls = getattr(velmark, name), []

    class Recorder:
        @classmethod
        def from_display(cls, **display):
            calls.append(list(display.items()))
            return real.from_display(**display)
    setattr(velmark, name, Recorder)
    test.addCleanup(setattr, velmark, name, real)
    return calls


def assert_parts(test, held, **expected):
    """Checks each part named in `expected` against that part of `held`, one by one, so a failure names it."""
    for part, value in expected.items():
        test.assertEqual(held[part], value, part)


# What a child prints when its memory or its runtime broke, whether or not its exit status says so: a sanitizer's
# report (a thread's report can lose the race with the exit of the process), an interpreter's fatal error, a C++ abort.
FAULT_REPORT = re.compile(r"ERROR: AddressSanitizer|AddressSanitizer: CHECK failed|runtime error: |"
                          r"SUMMARY: UndefinedBehaviorSanitizer|Fatal Python error|terminate called")


def run_python(code, path=PATH, timeout=300):
    """Runs `code` in a fresh interpreter whose sys.path starts with the folders `path`; fails the test, showing the
    child's whole stderr, if the child printed a fault report."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(path), VELMARK_BUILD_DIR=BUILD_DIR)
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, universal_newlines=True, timeout=timeout)
    if FAULT_REPORT.search(done.stderr):
        raise AssertionError("the child reported a fault (exit status %d):\n%s" % (done.returncode, done.stderr))
    return done


def assert_printed(test, done, stdout):
    """Checks that the child run `done` ended cleanly after printing exactly `stdout`; failures show its stderr."""
    test.assertEqual(done.returncode, 0, done.stderr)
    test.assertEqual(done.stdout, stdout, done.stderr)


def run_many(code, count, path=PATH, workers=8, timeout=300):
    """Runs `code` in `count` fresh interpreters, `workers` at a time; their outcomes in order."""
    with ThreadPoolExecutor(workers) as pool:
        return list(pool.map(lambda _: run_python(code, path, timeout), range(count)))


# Sixteen threads import a module at once, then read names from it; prints whether importlib was
# loaded beforehand (the module's start-up must be the one to load it) and what no thread could read.
RACING_IMPORT = """
import sys, threading
preloaded, barrier, missing = "importlib" in sys.modules, threading.Barrier(16), set()
def load():
    barrier.wait()
    try:
        module = __import__(%r)
        for name in %r:
            getattr(module, name)
    except AttributeError as exc:
        missing.add(str(exc))
threads = [threading.Thread(target=load) for _ in range(16)]
for thread in threads:
    thread.start()
for thread in threads:
    thread.join()
print(preloaded, sorted(missing))
"""


def with_address_space_headroom(call, headroom=16 << 20):
    """Runs `call` with the address space capped `headroom` bytes above what the process maps now."""
    with open("/proc/self/status") as status:
        size = next(int(line.split()[1]) << 10 for line in status if line.startswith("VmSize:"))
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    resource.setrlimit(resource.RLIMIT_AS, (size + headroom, hard))
    try:
        return call()
    finally:
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))


def copies(value):
    """`value` copied, deep-copied, and sent through pickle with every protocol."""
    return [copy.copy(value), copy.deepcopy(value)] + [
        pickle.loads(pickle.dumps(value, protocol)) for protocol in range(pickle.HIGHEST_PROTOCOL + 1)]


class PackageSandbox:
    """A temporary folder for copies of the built modules and stand-ins, and for purpose-made broken packages."""

    def __enter__(self):
        self.root = tempfile.mkdtemp(prefix="velmark-test-")
        return self

    def __exit__(self, *exc):
        shutil.rmtree(self.root, ignore_errors=True)

    def copy_module(self, name, into=""):
        os.makedirs(os.path.join(self.root, into), exist_ok=True)
        shutil.copy(built_module_path(name), os.path.join(self.root, into))

    def copy_standin(self, package):
        shutil.copytree(os.path.join(STANDINS, package), os.path.join(self.root, package))

    def write(self, relative_path, text):
        path = os.path.join(self.root, relative_path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as handle:
            handle.write(textwrap.dedent(text))
        return path

    def run(self, code, timeout=300):
        return run_python(code, [self.root], timeout=timeout)


def memory_growth(action, repeat=10000, warmup=200):
    """Bytes tracemalloc still sees allocated after `repeat` runs of `action`, beyond a warmed-up baseline."""
    for _ in range(warmup):
        action()
    gc.collect()
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        for _ in range(repeat):
            action()
        gc.collect()
        return tracemalloc.get_traced_memory()[0] - before
    finally:
        tracemalloc.stop()

