"""A studio's release: the signed exe verifies against its authority, a
changed byte breaks it, and without its signature it is the reproducible
unsigned build again, with the shape the program promises."""
import subprocess

from conftest import BUILD, REPO


def verifies(exe, ca):
    return subprocess.run(["osslsigncode", "verify", "-CAfile", str(ca), "-in", str(exe)],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


def test_signed_exe_verifies_tampering_breaks_it_and_unsigning_restores_it(signed_setup,
                                                                           tmp_path):
    signed, ca = signed_setup
    unsigned = BUILD / "GormEkSetup.exe"
    assert signed.read_bytes() != unsigned.read_bytes()
    assert verifies(signed, ca)
    # The imports, no resources and the size hold for what players download.
    assert subprocess.run(["bash", str(REPO / "tests" / "check_exe_shape.sh"), str(signed)],
                          stdout=subprocess.DEVNULL).returncode == 0

    tampered = tmp_path / "tampered.exe"
    data = bytearray(signed.read_bytes())
    data[len(data) // 3] ^= 0x01  # one bit of the code
    tampered.write_bytes(data)
    assert not verifies(tampered, ca)

    stripped = tmp_path / "stripped.exe"
    subprocess.run(["osslsigncode", "remove-signature", "-in", str(signed), "-out",
                    str(stripped)], check=True, stdout=subprocess.DEVNULL)
    assert stripped.read_bytes() == unsigned.read_bytes()


def test_sign_refuses_a_wrong_password_and_leaves_nothing(signed_setup, tmp_path):
    _, ca = signed_setup
    out = tmp_path / "signed.exe"
    rc = subprocess.run([str(REPO / "tools" / "sign"), "--pfx", str(ca.parent / "studio.pfx"),
                         "--url", "https://studio.example/", str(BUILD / "GormEkSetup.exe"),
                         str(out)], env={"PATH": "/usr/bin:/bin",
                                         "GORMEK_SIGN_PASSWORD": "wrong"},
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
    assert rc != 0 and not out.exists()
