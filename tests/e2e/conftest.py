"""Fixtures of the end-to-end tests: the two Windows targets, the Wine session
(one Xvfb and the prefix's wineserver, stopped at the end) and a clean launch
log directory.

Under pytest-xdist (scripts/test.sh runs ``-n N --dist loadgroup``, two
workers per core) every worker process has its own prefix, display and
wineserver (wine_prefix.py, harness.py), so tests are spread one by one;
only the tests that share a module- or class-scoped fixture, which runs one
program for several tests, stay together on one worker so that the fixture
runs once.
"""

import shutil

import pytest

import harness


def pytest_configure(config):
    config.addinivalue_line("markers", "dialogs: runs under Xvfb through the dialog watcher")
    config.addinivalue_line("markers", "xdist_group(name): runs on the same xdist worker as its group")


@pytest.hookimpl(tryfirst=True)  # before xdist reads the groups
def pytest_collection_modifyitems(config, items):
    for item in items:
        info = getattr(item, "_fixtureinfo", None)
        shared = sorted(name for name, defs in (info.name2fixturedefs.items() if info else ())
                        if defs and defs[-1].scope in ("module", "class"))
        if shared:
            item.add_marker(pytest.mark.xdist_group(item.nodeid.split("::")[0] + ":" + ",".join(shared)))


@pytest.fixture(autouse=True)
def wine_start_retries(request):
    """Attaches the program starts the dialog watcher tried again during the
    test (or a fixture set up for it) to its report."""
    yield
    for note in harness.start_retries:
        request.node.user_properties.append(("wine start tried again", note))
    del harness.start_retries[:]


def pytest_terminal_summary(terminalreporter):
    notes = sorted({(report.nodeid, value) for reports in terminalreporter.stats.values() for report in reports
                    for name, value in getattr(report, "user_properties", ()) if name == "wine start tried again"})
    if notes:
        terminalreporter.section("program starts that Wine gave up and the dialog watcher tried again")
        for nodeid, note in notes:
            terminalreporter.write_line(f"{nodeid}: {note}")


@pytest.fixture(scope="session", autouse=True)
def wine_session():
    """Stops Xvfb and the prefix's wineserver after the last test."""
    yield
    if shutil.which("wine") is not None:
        harness.shutdown()


def _require(path, what):
    if shutil.which("wine") is None:
        pytest.skip("Wine is not installed (scripts/setup.sh installs it)")
    if not path.exists():
        pytest.skip(f"{what} is not built: {path}")


@pytest.fixture(params=harness.TARGETS)
def tools_target(request):
    """A target whose helper programs (watcher, probe) are built."""
    _require(harness.watcher_path(request.param), "the dialog watcher")
    _require(harness.probe_path(request.param), "the Wine probe")
    return request.param


@pytest.fixture(params=harness.TARGETS)
def target(request):
    """A target whose launcher stub and dialog watcher are built."""
    _require(harness.stub_path(request.param), "the launcher stub")
    _require(harness.watcher_path(request.param), "the dialog watcher")
    return request.param


@pytest.fixture
def logs():
    """The prefix's temporary directory (the launch log directory of programs
    started from Linux), emptied of earlier logs."""
    harness.LogDir.clear()
    yield harness.LogDir


@pytest.fixture
def temp(tmp_path):
    """A private, empty Windows temporary directory for runs through the
    watcher (``run_with_watcher(..., temp=temp)``)."""
    return harness.TempDir.private(tmp_path / "wintemp")
