"""Configuring the project: where `cmake --install` goes and which Release flags reach the compiler."""
import json
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import unittest

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))   # needs no built module, so no util
CMAKE = os.environ.get("PYEXT_CMAKE") or shutil.which("cmake")
# Configuring runs no module code; the sanitizer runtimes would only slow cmake and the compiler checks down.
CHILD_ENV = {key: value for key, value in os.environ.items() if key != "LD_PRELOAD"}


def run(command):
    result = subprocess.run(command, env=CHILD_ENV, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            universal_newlines=True, timeout=600)
    if result.returncode != 0:
        raise AssertionError("%s failed:\n%s" % (" ".join(command), result.stdout))
    return result.stdout


@unittest.skipUnless(CMAKE and os.path.isfile(CMAKE), "no cmake: PYEXT_CMAKE is unset and none is on PATH")
class ConfigureTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="pyext-configure-")
        venv = os.path.join(cls.scratch, "venv")
        run([sys.executable, "-m", "venv", "--without-pip", venv])
        cls.other_python = os.path.join(venv, "bin", "python")
        platlib = "import sysconfig; print(sysconfig.get_paths()['platlib'])"
        cls.other_site = run([cls.other_python, "-c", platlib]).strip()
        cls.own_site = sysconfig.get_paths()["platlib"]
        assert cls.other_site != cls.own_site, "the venv should have its own site-packages"

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def configure(self, build, *options):
        """Configures `build` (no build step) and answers its cache entries as {name: value}."""
        run([CMAKE, "-S", REPO, "-B", build, "-DPYEXT_SANITIZE=OFF"] + list(options))
        with open(os.path.join(build, "CMakeCache.txt")) as handle:
            return dict(re.findall(r"^(\w[\w-]*):\w+=(.*)$", handle.read(), re.MULTILINE))

    def test_install_dir_and_host_python_follow_the_interpreter_chosen_last(self):
        """Otherwise `cmake --install` after switching PYTHON puts the modules into the first
        interpreter's site-packages, where the chosen one never imports them, and <build>/host-python
        runs an interpreter the modules were not built for."""
        build = tempfile.mkdtemp(dir=self.scratch)
        for python, site in [(sys.executable, self.own_site), (self.other_python, self.other_site),
                             (sys.executable, self.own_site)]:
            cache = self.configure(build, "-DPYTHON=" + python)
            self.assertEqual(cache["HOST_PYTHON"], python)
            self.assertEqual(cache["PYEXT_INSTALL_DIR"], site)
            ran = run([os.path.join(build, "host-python"), "-c", "import sys; print(sys.executable)"])
            self.assertEqual(ran.strip(), python)

    def test_install_dir_given_by_the_user_survives_other_interpreters(self):
        """A folder the user chose, on the first configure or a later one, must not be replaced by
        site-packages when the interpreter changes."""
        first, later = tempfile.mkdtemp(dir=self.scratch), tempfile.mkdtemp(dir=self.scratch)
        self.configure(first, "-DPYTHON=" + sys.executable, "-DPYEXT_INSTALL_DIR=/opt/pyext-first")
        self.configure(later, "-DPYTHON=" + sys.executable)
        self.configure(later, "-DPYEXT_INSTALL_DIR=/opt/pyext-later")
        for build, wanted in [(first, "/opt/pyext-first"), (later, "/opt/pyext-later")]:
            for python in (self.other_python, sys.executable):
                self.assertEqual(self.configure(build, "-DPYTHON=" + python)["PYEXT_INSTALL_DIR"], wanted)

    def test_release_flags_reach_the_compiler(self):
        """The project's -O2 -DNDEBUG applies when the user sets nothing, and a user's
        CMAKE_CXX_FLAGS_RELEASE (even CMake's own -O3 default) replaces it instead of being dropped;
        link-time optimisation is not among those flags and stays either way."""
        for given, wanted, unwanted in [(None, ["-O2", "-DNDEBUG"], ["-O3"]),
                                        ("-O1 -DPYEXT_FLAG_PROBE", ["-O1", "-DPYEXT_FLAG_PROBE"], ["-O2", "-O3"]),
                                        ("-O3 -DNDEBUG", ["-O3", "-DNDEBUG"], ["-O2"])]:
            wanted = wanted + ["-flto=auto"]
            build = tempfile.mkdtemp(dir=self.scratch)
            options = ["-DPYTHON=" + sys.executable, "-DCMAKE_BUILD_TYPE=Release", "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON"]
            self.configure(build, *options + (["-DCMAKE_CXX_FLAGS_RELEASE=" + given] if given else []))
            with open(os.path.join(build, "compile_commands.json")) as handle:
                commands = json.load(handle)
            sources = {os.path.relpath(entry["file"], REPO).split(os.sep)[0] for entry in commands}
            self.assertEqual(sources, {"core", "velmark", "messages"})
            for entry in commands:
                flags = entry["command"].split()
                with self.subTest(given=given, file=entry["file"]):
                    self.assertTrue(set(wanted) <= set(flags), entry["command"])
                    self.assertFalse(set(unwanted) & set(flags), entry["command"])
