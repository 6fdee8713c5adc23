"""Certificates for the TLS tests, made with the openssl command when a test
starts: a private CA and, signed by it, a server certificate for localhost,
127.0.0.1 and ::1, an expired one for the same names, one for another name;
and a self-signed one for localhost. Keys are P-256 (fast to make).

  certs = tls_certs.make(directory)
  certs["ca"], certs["good"] = (cert, key), certs["expired"], certs["other"], certs["self"]
"""
import os
import subprocess

LOOPBACK_SAN = "DNS:localhost,IP:127.0.0.1,IP:::1"
SERVER_EXT = ("basicConstraints=critical,CA:FALSE\n"
              "keyUsage=critical,digitalSignature,keyEncipherment\n"
              "extendedKeyUsage=serverAuth\n"
              "subjectAltName=%s\n")


def _run(*args, cwd):
    r = subprocess.run(["openssl", *args], cwd=cwd, capture_output=True, text=True)
    if r.returncode != 0:
        raise RuntimeError("openssl %s failed: %s" % (args[0], r.stderr))


def _key_and_csr(d, name, subject):
    _run("req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-keyout", name + ".key", "-out", name + ".csr", "-subj", subject, cwd=d)


def make(d):
    os.makedirs(d, exist_ok=True)
    _run("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-keyout", "ca.key", "-out", "ca.pem", "-days", "30", "-subj", "/O=Hanamail Tests/CN=Test Root CA",
         "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=d)

    def signed(name, subject, san, extra=()):
        _key_and_csr(d, name, subject)
        with open(os.path.join(d, name + ".ext"), "w") as f:
            f.write(SERVER_EXT % san)
        _run("x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
             "-out", name + ".pem", "-extfile", name + ".ext", *extra, cwd=d)

    signed("good", "/CN=localhost", LOOPBACK_SAN, ("-days", "30"))
    signed("other", "/CN=other.invalid", "DNS:other.invalid", ("-days", "30"))

    # x509 -req cannot date a certificate in the past; the ca command can.
    os.makedirs(os.path.join(d, "issued"), exist_ok=True)
    open(os.path.join(d, "index.txt"), "w").close()
    with open(os.path.join(d, "serial"), "w") as f:
        f.write("1000\n")
    with open(os.path.join(d, "ca.cnf"), "w") as f:
        f.write("[ca]\ndefault_ca = test\n"
                "[test]\ndatabase = index.txt\nnew_certs_dir = issued\nserial = serial\n"
                "default_md = sha256\npolicy = anything\nunique_subject = no\n"
                "[anything]\ncommonName = supplied\n"
                "[server]\n" + SERVER_EXT % LOOPBACK_SAN)
    _key_and_csr(d, "expired", "/CN=localhost")
    _run("ca", "-batch", "-config", "ca.cnf", "-cert", "ca.pem", "-keyfile", "ca.key", "-in", "expired.csr",
         "-out", "expired.pem", "-notext", "-extensions", "server",
         "-startdate", "20200101000000Z", "-enddate", "20200201000000Z", cwd=d)

    _run("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-keyout", "self.key", "-out", "self.pem", "-days", "30", "-subj", "/CN=localhost",
         "-addext", "subjectAltName=" + LOOPBACK_SAN, cwd=d)

    path = lambda n: os.path.join(d, n)
    return {
        "ca": path("ca.pem"),
        "good": (path("good.pem"), path("good.key")),
        "expired": (path("expired.pem"), path("expired.key")),
        "other": (path("other.pem"), path("other.key")),
        "self": (path("self.pem"), path("self.key")),
    }
