"""Message locale: locale blocks whose name is a prefix of the user's locale
code replace the default messages, in file order (the last one wins).

Wine answers GetUserDefaultUILanguage from LC_ALL (de_DE.UTF-8 gives 0x0407,
de_AT 0x0C07, en_US 0x0409), which the launcher maps to de_DE, de_AT, en_US.
The corrupted-installer box shows the selected message 20016 and caption 20013.
Arguments stay ASCII: with a locale that is not generated on the machine Wine
converts the command line as ASCII.
"""

import pytest

import expect
import harness
from harness import run_with_watcher

GERMAN = "Die Installationsdatei ist beschädigt. Bitte laden Sie sie erneut herunter."
SWISS = "Die Installationsdatei ist defekt (CH)."
ANY = "Corrupted (every locale)."


def _block(name, text, caption=None):
    messages = {"20016": text}
    if caption is not None:
        messages["20013"] = caption
    return {"name": name, "messages": messages}


# (case, LC_ALL, locale blocks, expected locale code, expected text, expected caption)
CASES = [
    ("de block, German UI", "de_DE.UTF-8", [_block("de", GERMAN, "tovrix Assistent")], "de_DE",
     GERMAN, "tovrix Assistent"),
    ("de block, Austrian UI", "de_AT.UTF-8", [_block("de", GERMAN)], "de_AT", GERMAN, expect.WIZARD_CAPTION),
    ("de block, English UI", "en_US.UTF-8", [_block("de", GERMAN)], "en_US", expect.CORRUPTED,
     expect.WIZARD_CAPTION),
    ("de_CH block, German UI", "de_DE.UTF-8", [_block("de_CH", SWISS)], "de_DE", expect.CORRUPTED,
     expect.WIZARD_CAPTION),
    ("de then de_DE", "de_DE.UTF-8", [_block("de", GERMAN), _block("de_DE", SWISS)], "de_DE", SWISS,
     expect.WIZARD_CAPTION),
    ("de_DE then de", "de_DE.UTF-8", [_block("de_DE", SWISS), _block("de", GERMAN)], "de_DE", GERMAN,
     expect.WIZARD_CAPTION),
    ("en block does not hide de", "de_DE.UTF-8", [_block("de", GERMAN), _block("en", "English block")],
     "de_DE", GERMAN, expect.WIZARD_CAPTION),
    ("empty name applies everywhere", "en_US.UTF-8", [_block("", ANY)], "en_US", ANY, expect.WIZARD_CAPTION),
    ("d is a prefix of de_DE", "de_DE.UTF-8", [_block("d", ANY)], "de_DE", ANY, expect.WIZARD_CAPTION),
]


@pytest.mark.parametrize("case, lc_all, locales, code, text, caption", CASES, ids=[c[0] for c in CASES])
def test_locale_blocks_replace_the_messages(target, temp, tmp_path, case, lc_all, locales, code, text, caption):
    installer = harness.build_installer(tmp_path, target, manifest={"locales": locales})
    layout = harness.BlockLayout.read(installer)
    exe = harness.changed_copy(installer, layout.payload_files[0][1], tmp_path / "changed.exe")
    result = run_with_watcher(target, exe, env={"LC_ALL": lc_all, "TOVRIX_LOG": "yes"}, temp=temp)
    expect.corrupted_box(result, text=text, caption=caption)
    log = temp.for_executable(exe)
    assert log is not None
    assert [m.group(1) for m in log.find(r"^language/country is (\S+)$")] == [code], log.text


@pytest.mark.parametrize("args, flag", [
    ([], "false"),
    (["-Dsun.locale.formatasdefault=true"], "true"),
    (["-Dsun.locale.formatasdefault=true", "-Dsun.locale.formatasdefault=false"], "false"),
    (["-Dsun.locale.formatasdefault=false", "-Dsun.locale.formatasdefault=true"], "true"),
    (["-Dsun.locale.formatasdefault=TRUE"], "false"),
])
def test_format_locale_switch_is_logged(target, temp, tmp_path, args, flag):
    exe = expect.failing_installer(tmp_path, target)
    result = run_with_watcher(target, exe, args, temp=temp)
    _, log = expect.error_box(result, exe)
    assert [m.group(1) for m in log.find(r"^sun\.locale\.formatasdefault is (\S+)$")] == [flag], log.text
