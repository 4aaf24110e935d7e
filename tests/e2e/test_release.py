"""A studio's release: the signed exe verifies against its authority, a
changed byte breaks it, and without its signature it is the reproducible
unsigned build again, with the shape the program promises."""
import http.server
import os
import subprocess
import threading

import pytest

from conftest import BUILD, REPO, authority


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
                         "--url", "https://studio.example/", "--no-timestamp",
                         str(BUILD / "GormEkSetup.exe"),
                         str(out)], env={"PATH": "/usr/bin:/bin",
                                         "GORMEK_SIGN_PASSWORD": "wrong"},
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
    assert rc != 0 and not out.exists()


SOFTHSM = "/usr/lib/softhsm/libsofthsm2.so"


@pytest.fixture(scope="module")
def token(signed_setup, tmp_path_factory):
    """A throwaway SoftHSM2 token holding the studio's key, generated inside
    it, and its certificate from the test's authority: (env, key URI, cert)."""
    _, ca = signed_setup
    d = tmp_path_factory.mktemp("token")
    (d / "tokens").mkdir()
    (d / "softhsm2.conf").write_text(f"directories.tokendir = {d / 'tokens'}\n"
                                     "objectstore.backend = file\n")
    env = {**os.environ, "SOFTHSM2_CONF": str(d / "softhsm2.conf")}

    def run(*args):
        subprocess.run(args, cwd=d, env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    run("softhsm2-util", "--init-token", "--free", "--label", "GormEkStudio",
        "--pin", "1234", "--so-pin", "5678")
    run("pkcs11-tool", "--module", SOFTHSM, "--login", "--pin", "1234", "--keypairgen",
        "--key-type", "rsa:2048", "--id", "01", "--label", "codesign")
    (d / "pin").write_text("1234")
    key = "pkcs11:token=GormEkStudio;object=codesign;type=private"
    run("openssl", "req", "-new", "-engine", "pkcs11", "-keyform", "engine", "-key",
        f"{key};pin-source=file:{d / 'pin'}", "-subj", "/CN=GormEk Token Studio",
        "-out", "studio.csr")
    run("openssl", "x509", "-req", "-in", "studio.csr", "-CA", str(ca), "-CAkey",
        str(ca.parent / "ca.key"), "-CAcreateserial", "-days", "30", "-out", "studio.pem",
        "-extfile", str(ca.parent / "ext.cnf"), "-extensions", "leaf")
    return env, key, d / "studio.pem"


@pytest.fixture(scope="module")
def time_stamps(tmp_path_factory):
    """A local RFC 3161 time-stamp authority (openssl ts behind a few lines of
    HTTP) with an authority of its own: (URL, the authority's certificate)."""
    d = tmp_path_factory.mktemp("tsa")
    openssl = authority(d, "tsaca", "GormEk Test TSA CA")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "tsa.key", "-out", "tsa.csr",
            "-subj", "/CN=GormEk Test TSA")
    (d / "ext.cnf").write_text("[tsa]\nbasicConstraints=CA:FALSE\n"
                               "keyUsage=critical,digitalSignature\n"
                               "extendedKeyUsage=critical,timeStamping\n")
    openssl("x509", "-req", "-in", "tsa.csr", "-CA", "tsaca.pem", "-CAkey", "tsaca.key",
            "-CAcreateserial", "-days", "30", "-out", "tsa.pem", "-extfile", "ext.cnf",
            "-extensions", "tsa")
    (d / "serial").write_text("01\n")
    (d / "ts.cnf").write_text(
        "[tsa]\ndefault_tsa = t\n[t]\n"
        f"serial = {d / 'serial'}\ncrypto_device = builtin\nsigner_digest = sha256\n"
        "default_policy = 1.2.3.4.1\ndigests = sha256, sha384, sha512\n"
        "accuracy = secs:1\ness_cert_id_alg = sha256\n")

    class Authority(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query = d / f"q{threading.get_ident()}"
            query.write_bytes(self.rfile.read(int(self.headers["Content-Length"])))
            reply = subprocess.run(
                ["openssl", "ts", "-reply", "-config", str(d / "ts.cnf"), "-queryfile",
                 str(query), "-inkey", str(d / "tsa.key"), "-signer", str(d / "tsa.pem"),
                 "-chain", str(d / "tsa.pem")], capture_output=True).stdout
            self.send_response(200 if reply else 500)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, *args):
            pass
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Authority)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    yield f"http://127.0.0.1:{server.server_address[1]}/", d / "tsaca.pem"
    server.shutdown()


def sign(*args, env=None, **kwargs):
    return subprocess.run([str(REPO / "tools" / "sign"), "--url", "https://studio.example/",
                           *map(str, args)], env=env, capture_output=True, text=True, **kwargs)


def test_a_key_on_a_token_signs_with_a_time_stamp_that_is_checked(signed_setup, token,
                                                                  time_stamps, tmp_path):
    """The studio's key never leaves the token; the PIN goes in through a file
    descriptor; the time stamp's own signature must verify against its
    authority, and one from an authority not trusted is refused."""
    _, ca = signed_setup
    env, key, cert = token
    tsa_url, tsa_ca = time_stamps

    def with_pin(pin, tsa_roots, out):
        read, write = os.pipe()
        os.write(write, pin)
        os.close(write)
        try:
            return sign("--pkcs11-module", SOFTHSM, "--key", key, "--cert", cert,
                        "--password-file", f"/dev/fd/{read}", "--timestamp", tsa_url,
                        "--tsa-ca", tsa_roots, "--ca", ca, BUILD / "GormEkSetup.exe", out,
                        env=env, pass_fds=(read,))
        finally:
            os.close(read)
    out = tmp_path / "signed.exe"
    result = with_pin(b"1234", tsa_ca, out)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "Timestamp Server Signature verification: ok" in result.stdout
    check = subprocess.run(["osslsigncode", "verify", "-CAfile", str(ca), "-TSA-CAfile",
                            str(tsa_ca), "-in", str(out)], capture_output=True, text=True)
    assert "Timestamp Server Signature verification: ok" in check.stdout
    assert "Subject: /CN=GormEk Token Studio" in check.stdout

    refused = tmp_path / "refused.exe"
    for pin, roots in ((b"1234", ca), (b"9999", tsa_ca)):  # untrusted authority, wrong PIN
        result = with_pin(pin, roots, refused)
        assert result.returncode != 0 and not refused.exists(), result.stdout
        assert not list(tmp_path.glob("*.partial"))


def test_sign_refuses_what_is_unsafe_or_unclear(signed_setup, tmp_path):
    """Its own input as output under another name, no word on the time stamp,
    an empty password: each refused with one clear line, the input intact."""
    _, ca = signed_setup
    pfx = ca.parent / "studio.pfx"
    exe = tmp_path / "GormEkSetup.exe"
    exe.write_bytes((BUILD / "GormEkSetup.exe").read_bytes())
    env = {"PATH": "/usr/bin:/bin", "GORMEK_SIGN_PASSWORD": "pfx password"}
    cases = [
        (["--no-timestamp", exe, "./GormEkSetup.exe"], env, "must not replace"),
        ([exe, tmp_path / "out.exe"], env, "give --timestamp URL"),
        (["--no-timestamp", exe, tmp_path / "out.exe"],
         {**env, "GORMEK_SIGN_PASSWORD": ""}, "password or PIN is empty"),
    ]
    for args, environment, said in cases:
        result = sign("--pfx", pfx, "--ca", ca, *args, env=environment, cwd=tmp_path)
        assert result.returncode != 0 and said in result.stderr, result.stderr
        assert exe.read_bytes() == (BUILD / "GormEkSetup.exe").read_bytes()
        assert not (tmp_path / "out.exe").exists()


def test_reproduce_builds_commits_only(tmp_path):
    """A tree with uncommitted changes, or a buildinfo of a build made from
    one, cannot be reproduced from a commit: refused before any build."""
    clone = tmp_path / "clone"
    subprocess.run(["git", "clone", "--quiet", str(REPO), str(clone)], check=True)
    (clone / "README.md").write_text("changed\n")
    exe = BUILD / "GormEkSetup.exe"
    result = subprocess.run([str(clone / "tools" / "reproduce"), str(exe)],
                            capture_output=True, text=True)
    assert result.returncode == 2 and "uncommitted changes" in result.stderr, result.stderr
    info = tmp_path / "dirty.buildinfo"
    info.write_text("commit: 0123456789abcdef0123456789abcdef01234567-dirty\nsha256: 00\n")
    result = subprocess.run([str(REPO / "tools" / "reproduce"), "--buildinfo", str(info),
                             str(exe)], capture_output=True, text=True)
    assert result.returncode == 2 and "cannot be reproduced" in result.stderr, result.stderr
