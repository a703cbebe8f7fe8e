"""Signed installers, end to end: installers are packed, then signed with
osslsigncode and a throwaway certificate made here with openssl (a test CA and
a code-signing certificate it issued).

Signing appends a certificate table after everything else in the file (after
zero padding to a multiple of eight bytes) and writes its offset and size into
the security directory entry and a new checksum into the optional header. The
launcher finds its block after the last section of the section table and reads
only as far as the block says, so the table is never in its way; the tests
show that on both targets: the integrity check passes, the 64-bit installer
starts the real Java 11 runtime and the 32-bit one the recording jvm.dll
double (no 32-bit Windows JVM exists here). A changed block byte still fails
the check, and the signature no longer verifies either.

A stub that is signed before packing is packed without its signature (its
signature could not have covered the appended block): the packer leaves out
the table, zeroes the security entry and computes the checksum again, so the
installer is the one the unsigned stub gives, and it can be signed like any
other.
"""

from __future__ import annotations

import dataclasses
import re
import shutil
import struct
import subprocess
from pathlib import Path

import pytest

import expect
import harness
import java_runtime as jr
from harness import run_with_watcher

OSSLSIGNCODE = shutil.which("osslsigncode")
OPENSSL = shutil.which("openssl")

pytestmark = [
    pytest.mark.skipif(shutil.which("wine") is None, reason="Wine is not installed (scripts/setup.sh installs it)"),
    pytest.mark.skipif(OSSLSIGNCODE is None or OPENSSL is None,
                       reason="osslsigncode and openssl are not installed (scripts/setup.sh installs them)"),
]

SEARCH_VARIABLES = ("JAVA_HOME", "JDK_HOME", "KELPA_JAVA_HOME", "TOVRIX_JAVA_HOME", "_JAVA_OPTIONS")
TOVRIX_LAUNCHER = "com/tovrix/runtime/launcher/WinLauncher"
OPENJDK_11 = 'openjdk version "11.0.2" 2019-01-15'


# --------------------------------------------------------------------------
# The test certificate and osslsigncode


@dataclasses.dataclass
class Signer:
    ca: Path
    certificate: Path
    key: Path

    def sign(self, source: Path, output: Path) -> Path:
        done = subprocess.run([OSSLSIGNCODE, "sign", "-certs", str(self.certificate), "-key", str(self.key),
                               "-n", "tovrix test installer", "-h", "sha256", "-in", str(source), "-out", str(output)],
                              capture_output=True, text=True, timeout=120, check=False)
        assert done.returncode == 0, done.stdout + done.stderr
        return output

    def verify(self, path: Path) -> subprocess.CompletedProcess:
        return subprocess.run([OSSLSIGNCODE, "verify", "-CAfile", str(self.ca), "-in", str(path)],
                              capture_output=True, text=True, timeout=120, check=False)


def _openssl(*args: str, cwd: Path) -> None:
    done = subprocess.run([OPENSSL, *args], cwd=cwd, capture_output=True, text=True, timeout=120, check=False)
    assert done.returncode == 0, f"openssl {' '.join(args)}\n{done.stdout}{done.stderr}"


@pytest.fixture(scope="session")
def signer(tmp_path_factory) -> Signer:
    """A test CA and a code-signing certificate issued by it, valid for two days."""
    work = tmp_path_factory.mktemp("signing_certificate")
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
             "-subj", "/CN=tovrix test CA", "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=work)
    _openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key", "-out", "signer.csr",
             "-subj", "/CN=tovrix test signer", cwd=work)
    (work / "signer.ext").write_text("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                                     "extendedKeyUsage=codeSigning\n")
    _openssl("x509", "-req", "-in", "signer.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
             "-out", "signer.pem", "-days", "2", "-extfile", "signer.ext", cwd=work)
    return Signer(work / "ca.pem", work / "signer.pem", work / "signer.key")


# --------------------------------------------------------------------------
# PE fields that signing changes


@dataclasses.dataclass
class SignatureFields:
    checksum_at: int
    entry_at: int
    table_offset: int
    table_size: int

    @classmethod
    def read(cls, data: bytes) -> "SignatureFields":
        optional = struct.unpack_from("<I", data, 60)[0] + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + {0x10B: 96, 0x20B: 112}[magic]
        entry = directories + 8 * 4
        return cls(optional + 64, entry, *struct.unpack_from("<II", data, entry))

    def outside(self, offset: int) -> bool:
        """True for an offset outside the fields signing writes."""
        return not (self.checksum_at <= offset < self.checksum_at + 4 or self.entry_at <= offset < self.entry_at + 8)


def dump(path: Path) -> list:
    done = subprocess.run([str(harness.tvxpack_path()), "--dump", str(path)], capture_output=True, text=True,
                          timeout=60, check=False)
    assert done.returncode == 0, done.stderr
    return done.stdout.splitlines()


def verified(signer: Signer, path: Path) -> str:
    """osslsigncode's verification output of a file it must accept."""
    done = signer.verify(path)
    assert done.returncode == 0 and "Signature verification: ok" in done.stdout, done.stdout + done.stderr
    return done.stdout


# --------------------------------------------------------------------------
# The signed file


def test_signing_appends_only_the_table_and_the_signed_installer_dumps(target, signer, tmp_path):
    unsigned = harness.build_installer(tmp_path, target)
    signed = signer.sign(unsigned, tmp_path / "signed.exe")
    before, after = unsigned.read_bytes(), signed.read_bytes()

    fields = SignatureFields.read(after)
    unsigned_fields = SignatureFields.read(before)
    assert (unsigned_fields.table_offset, unsigned_fields.table_size) == (0, 0)
    assert fields.table_offset == (len(before) + 7) // 8 * 8 and fields.table_offset + fields.table_size == len(after)
    assert after[len(before):fields.table_offset] == bytes(fields.table_offset - len(before))
    changed = [i for i in range(len(before)) if before[i] != after[i]]
    assert changed and all(not fields.outside(i) for i in changed), changed[:20]

    output = verified(signer, signed)
    assert "Signer's certificate:" in output and "tovrix test signer" in output, output

    lines_before, lines_after = dump(unsigned), dump(signed)
    assert [line for line in lines_after if not line.startswith(("file_length: ", "certificate_table: "))] == \
        [line for line in lines_before if not line.startswith("file_length: ")]
    assert f"file_length: {len(after)}" in lines_after
    assert f"certificate_table: offset {fields.table_offset} size {fields.table_size}" in lines_after
    assert any(re.fullmatch(r"crc: 0x[0-9a-f]{8} \(ok\)", line) for line in lines_after), lines_after


# --------------------------------------------------------------------------
# Signed installers started end to end


def _installer(tmp_path: Path, target: str) -> Path:
    if not jr.JAR.exists():
        pytest.skip(f"the Java runtime is not built ({jr.JAR}; java/build.sh builds it)")
    params = jr.params_text(harness.windows_path(tmp_path / "report.txt"), end="return",
                            natives=[jr.call("Registry.keyExists0", 1, "SOFTWARE", 0)])
    return harness.build_installer(tmp_path, target, {"config": {"126": "1.8", "128": "EJAVA_HOME;",
                                                                 "122": "com.example.Main"}},
                                   files={"tvxruntime.jar": jr.JAR.read_bytes(), "tvxparams.conf": params.encode()},
                                   name="unsigned.exe")


def _launch(target: str, exe: Path, home: Path) -> tuple[harness.RunResult, harness.LaunchLog]:
    env = {name: None for name in SEARCH_VARIABLES}
    env.update(JAVA_HOME=harness.windows_path(home), TOVRIX_LOG="yes")
    result = harness.run(target, exe, ["-q", "signed run"], env=env, timeout=90)
    log = harness.LogDir.for_executable(exe)
    assert log is not None, f"no launch log of {exe}\n{result.describe()}"
    return result, log


def _checked_integrity(log: harness.LaunchLog, unsigned: Path) -> None:
    """The log shows the integrity check over the unsigned file's covered range, passed."""
    layout = harness.BlockLayout.read(unsigned)
    assert [m.group(1) for m in log.find(r"^starting at (\d+)$")] == [str(layout.start)], log.text
    assert [m.group(1) for m in log.find(r"^verifying integrity length (\d+)$")] == [str(layout.covered_length)]
    (checksums,) = log.find(r"^checksums: (\d+) (\d+) ")
    assert int(checksums.group(1)) == int(checksums.group(2)) == layout.crc, log.text


def test_signed_64_bit_installer_starts_the_real_runtime(logs, tmp_path, signer):
    home = harness.BUILD_DIR / "java" / "11"
    if not (home / "bin" / "server" / "jvm.dll").exists():
        pytest.skip(f"no real Java 11 runtime in {home} (scripts/fetch_java.sh fetches it)")
    if not harness.stub_path("win64").exists():
        pytest.skip(f"the launcher stub is not built: {harness.stub_path('win64')}")
    unsigned = _installer(tmp_path, "win64")
    exe = signer.sign(unsigned, tmp_path / "installer.exe")
    verified(signer, exe)

    result, log = _launch("win64", exe, home)
    assert result.returncode == 0, result.describe() + log.text
    _checked_integrity(log, unsigned)
    report = jr.read_report(tmp_path / "report.txt")
    assert report.args[1] == "com.example.Main" and report.args[-2:] == ["-q", "signed run"], report.args
    assert report.args[5] == harness.windows_path(exe)
    _, data_at, size = harness.BlockLayout.read(unsigned).payload_files[-1]
    assert report.properties["kelpa.unextractedPosition"] == str(data_at + size)
    assert report["natives.registered"] == "true"
    assert report.calls[0].error is None and report.calls[0].thrown is None, report.calls
    assert harness.ordered_lines_present("\n".join(log.messages()), ["calling main", "main returned", "launch done"])


def test_signed_32_bit_installer_starts_the_jvm_double(logs, tmp_path, signer):
    doubles = harness.target_dir("win32") / "doubles"
    java, jvm = doubles / "java.exe", doubles / "jvm_double" / "jvm.dll"
    if not java.exists() or not jvm.exists():
        pytest.skip(f"the Java runtime doubles are not built in {doubles}")
    if not harness.stub_path("win32").exists():
        pytest.skip(f"the launcher stub is not built: {harness.stub_path('win32')}")
    home = tmp_path / "jre"
    (home / "bin" / "client").mkdir(parents=True)
    shutil.copyfile(java, home / "bin" / "java.exe")
    (home / "bin" / "java.cfg").write_text(f"line={OPENJDK_11}\r\nexit=0\r\n", encoding="latin-1")
    shutil.copyfile(jvm, home / "bin" / "client" / "jvm.dll")
    (home / "bin" / "client" / "jvm_double.cfg").write_text("record=..\\..\\record.txt\n", encoding="utf-8")
    unsigned = _installer(tmp_path, "win32")
    exe = signer.sign(unsigned, tmp_path / "installer.exe")
    verified(signer, exe)

    result, log = _launch("win32", exe, home)
    assert result.returncode == 0, result.describe() + log.text
    _checked_integrity(log, unsigned)
    record = (home / "record.txt").read_text(encoding="utf-8").splitlines()
    main = [line for line in record if line.startswith("CallStatic") and '"main"' in line]
    assert len(main) == 1 and f'"{TOVRIX_LAUNCHER}"' in main[0] and '"signed run"' in main[0], record
    assert record[-2:] == ["ExceptionOccurred -> null", "DestroyJavaVM"], record
    assert harness.ordered_lines_present("\n".join(log.messages()), ["calling main", "dest JVM", "launch done"])


# --------------------------------------------------------------------------
# Changed after signing


CHANGED = [
    ("configuration text", lambda b: b.config_record(107).text),
    ("first payload byte", lambda b: b.payload_files[0][1]),
    ("last covered byte", lambda b: b.covered_end - 1),
]


@pytest.mark.parametrize("where, offset", CHANGED, ids=[c[0] for c in CHANGED])
def test_a_changed_block_of_a_signed_installer_fails_the_check_and_the_signature(target, temp, tmp_path, signer,
                                                                                  where, offset):
    unsigned = harness.build_installer(tmp_path, target, name="unsigned.exe")
    signed = signer.sign(unsigned, tmp_path / "signed.exe")
    exe = harness.changed_copy(signed, offset(harness.BlockLayout.read(unsigned)), tmp_path / "changed.exe")

    check = signer.verify(exe)
    assert check.returncode != 0, check.stdout + check.stderr
    assert re.search(r"^Calculated message digest : [0-9A-F]+ +MISMATCH!!!$", check.stdout, re.M), check.stdout
    assert "Signature verification: failed" in check.stderr, check.stderr
    expect.corrupted_box(run_with_watcher(target, exe, temp=temp))


# --------------------------------------------------------------------------
# A stub signed before packing


def test_a_signed_stub_is_packed_without_its_signature(target, signer, tmp_path):
    stub = harness.stub_path(target)
    signed_stub = signer.sign(stub, tmp_path / "signed_stub.exe")
    verified(signer, signed_stub)
    fields = SignatureFields.read(signed_stub.read_bytes())

    packer = harness.tvxpack_path()
    manifest = tmp_path / "manifest.json"
    manifest.write_text('{"config": {"107": "5", "2001": "i"}, "payload": [{"name": "a.txt", "content": "a"}]}')
    outputs = {}
    for name, source in (("from_unsigned", stub), ("from_signed", signed_stub)):
        done = subprocess.run([str(packer), "--stub", str(source), "--manifest", str(manifest),
                               "--output", str(tmp_path / f"{name}.exe")], capture_output=True, text=True,
                              timeout=60, check=False)
        assert done.returncode == 0, done.stderr
        outputs[name] = (tmp_path / f"{name}.exe", done.stderr)

    assert outputs["from_unsigned"][1] == ""
    assert outputs["from_signed"][1] == (
        f"tvxpack: note: {signed_stub} is signed; its signature (certificate table of {fields.table_size} bytes "
        f"at offset {fields.table_offset}) is not part of the installer: sign the installer after packing\n")
    # Leaving the signature out gives back the unsigned stub byte for byte,
    # the linker's checksum included.
    assert outputs["from_signed"][0].read_bytes() == outputs["from_unsigned"][0].read_bytes()

    signed = signer.sign(outputs["from_signed"][0], tmp_path / "installer.exe")
    verified(signer, signed)
    assert any(re.fullmatch(r"crc: 0x[0-9a-f]{8} \(ok\)", line) for line in dump(signed))
