"""Fixtures of the end-to-end tests: one Xvfb and one Wine desktop per prefix, a clean profile per test."""
import os
import re
import shutil
import subprocess

import pytest

from harness import WinePrefix, Xvfb, exe_arch

BUILD_DIR = os.path.abspath(os.environ.get("LEXITRAY_BUILD", ""))
ARTIFACTS = os.path.join(BUILD_DIR, "e2e-artifacts")


def pytest_configure(config):
    # The smoke run (scripts/test gives the x86_64 program one where the i686 one has the whole suite):
    # start, a look-up from the hotkey to the viewer, Settings, Exit.
    config.addinivalue_line("markers", "smoke: the few tests that make the smoke run of a second build")
    if not os.path.exists(os.path.join(BUILD_DIR, "lexitray.exe")):
        raise pytest.UsageError(f"no lexitray.exe in LEXITRAY_BUILD={BUILD_DIR!r}")
    if not os.path.exists(os.path.join(BUILD_DIR, "probe.exe")):
        raise pytest.UsageError(f"no probe.exe in {BUILD_DIR!r}")
    shutil.rmtree(ARTIFACTS, ignore_errors=True)
    os.makedirs(ARTIFACTS, exist_ok=True)


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    setattr(item, f"report_{report.when}", report)


def write_timings(file_name, timings, in_ms=False):
    """Writes what a test module timed ([(what, seconds)]) to an artifact, a line each."""
    if timings:
        with open(os.path.join(ARTIFACTS, file_name), "w") as f:
            f.writelines(f"{what}: {seconds * 1000:.0f} ms\n" if in_ms else f"{what}: {seconds:.2f} s\n"
                         for what, seconds in timings)


def artifact_name(node_name):
    return re.sub(r"[^A-Za-z0-9_.-]+", "_", node_name)


def start_desktop(name, nt40):
    xvfb = Xvfb().start()
    prefix = WinePrefix(os.path.join(BUILD_DIR, name), xvfb, BUILD_DIR, ARTIFACTS, nt40=nt40)
    try:
        prefix.start()
    except Exception:
        prefix.stop()
        xvfb.stop()
        raise
    return prefix


def desktop_session(xvfb, prefix, bring_up):
    """Yields the prefix once bring_up(prefix) has started its desktop; stops the prefix and its X server
    afterwards, and at once when bring_up fails."""
    try:
        bring_up(prefix)
    except Exception:
        prefix.stop()
        xvfb.stop()
        raise
    yield prefix
    prefix.stop()
    xvfb.stop()


def stop_desktop(prefix):
    prefix.stop()
    prefix.xvfb.stop()


@pytest.fixture(scope="session")
def balloon_desktop():
    """The prefix that reports a current system version: status texts go to tray balloons."""
    prefix = start_desktop("e2e-wine", nt40=False)
    yield prefix
    stop_desktop(prefix)


@pytest.fixture(scope="module")
def popup_desktop():
    """A prefix set to NT 4.0 (major version 4): status texts go to the popup notice."""
    prefix = start_desktop("e2e-wine-nt40", nt40=True)
    yield prefix
    stop_desktop(prefix)


class Session:
    """What one test works with: the prefix, its screen, the programs it started."""

    def __init__(self, prefix, name):
        self.prefix = prefix
        self.name = name
        self.apps = []
        self.helpers = []
        self.shots = 0

    def start_app(self, exe=None):
        app = self.prefix.start_app(f"{self.name}-{len(self.apps)}", exe)
        self.apps.append(app)
        return app

    def background_probe(self, *args):
        proc = self.prefix.probe_background(*args)
        self.helpers.append(proc)
        return proc

    def screenshot(self, label):
        self.shots += 1
        return self.prefix.xvfb.screenshot(os.path.join(ARTIFACTS, f"{self.name}-{self.shots:02d}-{label}.png"))

    def stale_files(self):
        """Where a stale "Lexitray.cfg.new" may be looked for: beside the profile and in the current directory."""
        return [self.prefix.profile_path + ".new", os.path.join(self.prefix.workdir, "Lexitray.cfg.new")]

    def place_stale_files(self):
        for path in self.stale_files():
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as stale:
                stale.write("[Lexitray]\n")

    def stale_files_left(self):
        return [path for path in self.stale_files() if os.path.exists(path)]

    def clean_profile(self):
        # A profile an older version left in the Windows directory would be taken over at the next start.
        legacy = os.path.join(self.prefix.windows_dir, "Lexitray.cfg")
        for path in [self.prefix.profile_path, legacy] + self.stale_files():
            if os.path.exists(path):
                os.remove(path)

    def finish(self):
        for app in self.apps:
            app.stop()
        for proc in self.helpers:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        self.prefix.kill_programs()


def make_session(prefix, request):
    session = Session(prefix, artifact_name(request.node.name))
    session.clean_profile()
    prefix.set_run_value(None)
    yield session
    failed = any(getattr(request.node, f"report_{when}", None) is not None
                 and getattr(request.node, f"report_{when}").failed for when in ("setup", "call"))
    if failed:
        session.screenshot("failure")
    session.finish()


@pytest.fixture
def desk(balloon_desktop, request):
    """A clean profile and autostart value in the balloon prefix; programs closed afterwards."""
    yield from make_session(balloon_desktop, request)


@pytest.fixture
def popup_desk(popup_desktop, request):
    """A clean profile and autostart value in the NT 4.0 prefix; programs closed afterwards."""
    yield from make_session(popup_desktop, request)


# --- scripts/package, shared by the installer tests -------------------------------------------------------
TOP = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
# The installer and zip of the build under test: it names the prefix's architecture.
PACKAGE_KINDS = {"i686": ("setup-x86.exe", "win32.zip"), "x86_64": ("setup-x64.exe", "win64.zip")}


def run_package(out, work):
    subprocess.run([os.path.join(TOP, "scripts", "package"), "--out", out, "--work", work], check=True,
                   timeout=600, stdout=subprocess.DEVNULL)
    with open(os.path.join(out, "SHA256SUMS")) as f:
        return f.read()


@pytest.fixture(scope="session")
def packages():
    """scripts/package once per run: (output folder, version, installer path, zip path) for this build."""
    out = os.path.join(BUILD_DIR, "e2e-dist")
    shutil.rmtree(out, ignore_errors=True)
    run_package(out, os.path.join(BUILD_DIR, "e2e-package"))
    with open(os.path.join(BUILD_DIR, "version.txt")) as f:
        version = f.read().strip()
    setup, portable = PACKAGE_KINDS[exe_arch(os.path.join(BUILD_DIR, "lexitray.exe"))]
    return out, version, os.path.join(out, f"lexitray-{version}-{setup}"), os.path.join(out, f"lexitray-{version}-{portable}")
