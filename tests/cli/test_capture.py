"""hanamail capture against real peers on 127.0.0.1: Debian's nginx serving
pages the test writes (keep-alive, chunked answers, redirects, Basic auth,
404s), byte-level servers for the answers no real server gives, and wget's
page-requisite download as the peer the embedded resources are held against.
Emails are judged by Python's email package, the wire by nginx's access log."""
import base64
import email
import email.policy
import hashlib
import html as html_text
import os
import quopri
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import warnings

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from child_usage import run_measured  # noqa: E402
from http_servers import Nginx, RawServer, authorization_headers  # noqa: E402

CLI = os.environ.get("HANAMAIL_CLI")


def sanitized(path):
    """Whether the tool was built with AddressSanitizer, whose shadow memory
    and quarantine of freed blocks multiply what a process holds."""
    try:
        with open(path, "rb") as f:
            return b"__asan_init" in f.read()
    except OSError:
        return False


# How much more memory a run may take in such a build.
MEMORY_FACTOR = 3 if CLI and sanitized(CLI) else 1
WGET = shutil.which("wget")

USER = "web-user"
PASSWORD = "Pw:9x!Qz7"
# 表, ソ and 能 end in the byte of "\\" in Shift_JIS: text that is not read as
# characters first loses or turns them into "/".
JTEXT = "日本語のページです。漢字、ひらがな、カタカナ（全角）。表示ソフトの機能。"
SENTINEL = b"SENTINEL-do-not-mail-7c1e2f"

PNG = b"\x89PNG\r\n\x1a\n"
GIF = b"GIF89a"
JPEG = b"\xff\xd8\xff\xe0"


def blob(name, magic=b"", size=2000):
    """Bytes of a resource, the same on every run and different for every name."""
    rng = random.Random(name)
    return magic + rng.randbytes(size)


def sha(data):
    return hashlib.sha256(data).hexdigest()


def image(name, size=2000):
    ext = name.rsplit(".", 1)[-1].lower()
    return blob(name, {"png": PNG, "gif": GIF, "jpg": JPEG}.get(ext, b""), size)


# ------------------------------------------------------------------ the site

# Every page the tests capture, with the resources each must embed (by the
# path nginx serves them from) and those it must leave alone.
PAGES = {}


def page(name, html, embeds=(), leaves=(), frames=(), charset=None):
    PAGES[name] = dict(html=html, embeds=list(embeds), leaves=list(leaves), frames=list(frames), charset=charset)


page("tags.html", """<html><head><title>Tags</title>
<LINK REL="stylesheet" HREF="css/plain.css">
<link rel="icon" href="img/icon.png">
<SCRIPT SRC="js/app.js"></SCRIPT>
<script type="text/javascript">var s = "<img src='img/in-script.png'>";</script>
</head>
<BODY BACKGROUND="img/bg-body.gif">
<IMG SRC="img/a.png" alt="upper case">
<img src="img/a.png" alt="the same image again">
<img src='img/b.gif' onmouseover="this.src='img/hover.png'">
<IMAGE src="img/c.jpg">
<img src=img/e1.jpg>
<Img src="img/mixed.png">
<img src="img/my%20pic.png"><img src="img/画像.png">
<input type="image" src="img/input.gif">
<v:image src="img/vml.png"/>
<table background="img/bg-table.png"><tr><TD BACKGROUND="img/bg-td.jpg">cell</td></tr></table>
<div style="background-image: url(img/bg-div.png)">styled</div>
<a href="other.html">link</a> <a href="#top">top</a> <a href="mailto:x@example.com">mail</a>
<a href="javascript:void(0)">js</a>
<map name="m"><area shape="rect" coords="0,0,1,1" href="map.html"></map>
<embed src="media/clip.swf">
<form action="cgi/submit"><input name="q"></form>
<iframe src="iframe.html"></iframe>
</body></html>
""", embeds=["img/a.png", "img/b.gif", "img/hover.png", "img/c.jpg", "img/e1.jpg", "img/my pic.png", "img/画像.png",
             "img/input.gif", "img/vml.png", "img/bg-body.gif", "img/bg-table.png", "img/bg-td.jpg",
             "img/bg-div.png", "js/app.js"],
     leaves=["img/mixed.png", "img/in-script.png", "img/icon.png", "media/clip.swf"], frames=["iframe.html"])

page("iframe.html", """<html><head><title>Inner</title></head><body><img src="img/in-iframe.png"></body></html>
""", embeds=["img/in-iframe.png"])

page("css.html", """<html><head><title>CSS</title>
<style type="text/css">
@import url("css/imported.css");
body { background: #fff url("img/css-bg.png") no-repeat; }
ul.a { list-style-image: url('img/bullet.gif'); }
.b { background-image:url(img/b-image.png); }
</style>
<link rel="stylesheet" type="text/css" href="css/site.css">
<link rel="stylesheet" href="css/cycle-a.css">
</head><body><ul class="a"><li>item</li></ul>
<p style="background: url(img/attr-bg.jpg)">para</p></body></html>
""", embeds=["img/css-bg.png", "img/bullet.gif", "img/b-image.png", "img/attr-bg.jpg", "css/img/s1.png",
             "css/img/s2.gif", "css/img/s3.png", "img/root.gif"])

page("frames.html", """<html><head><title>Frames</title></head>
<frameset cols="50%,50%"><FRAME SRC="frames/left.html"><frame src="frames/right.html"></frameset></html>
""", frames=["frames/left.html", "frames/right.html"], embeds=["frames/pic.png", "frames/jp.gif"])

page("frames/left.html", """<html><head><title>Left</title></head><body><img src="pic.png"></body></html>
""", embeds=["frames/pic.png"])

page("frames/right.html", ("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">"
                           "<title>Right</title></head><body><p>" + JTEXT + "</p><img src=\"jp.gif\"></body></html>\n"),
     embeds=["frames/jp.gif"], charset="shift_jis")

page("base.html", """<html><head><title>Base</title><base href="http://127.0.0.1:{port}/sub/"></head>
<body><img src="x.png"><img src="../img/a.png"><a href="doc.html">doc</a></body></html>
""", embeds=["sub/x.png", "img/a.png"])

page("dir/rel-base.html", """<html><head><title>Relative base</title><base href="../sub/"></head>
<body><img src="y.png"></body></html>
""", embeds=["sub/y.png"])

page("chunked/page.html", """<html><head><title>Chunked</title></head>
<body><!--#include virtual="/chunked/part.inc" --><img src="c1.png"><img src="c2.gif"></body></html>
""", embeds=["chunked/c1.png", "chunked/c2.gif"])

page("redirects.html", """<html><head><title>Redirects</title></head><body>
<img src="r/abs.png"><img src="r/rooted.png"><img src="r/dotdot.png">
<img src="r/loop.png"><img src="img/missing.png"></body></html>
""", embeds=["img/a.png", "img/b.gif", "img/c.jpg"])

page("dir/real.html", """<html><head><title>Moved here</title></head><body><img src="pic.png"></body></html>
""", embeds=["dir/pic.png"])

page("private/page.html", """<html><head><title>Private</title></head><body>
<img src="p.png"><img src="http://127.0.0.1:{recorder}/elsewhere.png"><img src="to-recorder.png">
</body></html>
""", embeds=["private/p.png"])

SECRET_DIR = "{secret}"
HOSTILE_REFS = [
    "file://{secret}/sentinel.png", "FILE://{secret}/sentinel.png", "file:{secret}/sentinel.png",
    "FiLe:///{secret_rel}/sentinel.png", "C:\\secret\\sentinel.png", "c:/secret/sentinel.png",
    "x:\\secret/sentinel.png",
]
page("hostile.html", ("<html><head><title>Hostile</title>\n"
                      "<link rel=\"stylesheet\" href=\"file://{secret}/evil.css\">\n"
                      "<style>@import url(\"file://{secret}/evil.css\");\n"
                      ".x {{ background: url(file://{secret}/sentinel.png) }}</style>\n"
                      "<script src=\"file://{secret}/evil.js\"></script>\n"
                      "</head><body background=\"file://{secret}/sentinel.png\">\n" +
                      "".join('<img src="%s">\n' % r for r in HOSTILE_REFS) +
                      "<div style=\"background-image:url('file://{secret}/sentinel.png')\">d</div>\n"
                      "<iframe src=\"file://{secret}/frame.html\"></iframe>\n"
                      "<img src=\"img/a.png\"></body></html>\n"), embeds=["img/a.png"])

page("hostile-base.html", """<html><head><title>Hostile base</title><base href="file://{secret}/">
<link rel="stylesheet" href="evil.css"></head>
<frameset><frame src="frame.html"></frameset></html>
""")

page("placeholders.html", """<html><head><title>Placeholders</title>
<style>.first { color: red; }</style>
<script>var first = 1;</script>
</head><body><p>The text &lt;tembrix_script&gt; is literal: <tembrix_script> and <tembrix_style></p>
<script>var second = "<tembrix_script>";</script>
<style>.second { background: url(img/a.png); }</style>
</body></html>
""", embeds=["img/a.png"])

page("hostile-sheet.html", """<html><head><title>Hostile sheet</title>
<link rel="stylesheet" href="css/evil-import.css"></head>
<body><img src="r/to-file.png"><img src="img/a.png"><iframe src="hostile-frame.html"></iframe></body></html>
""", embeds=["img/a.png"])

page("hostile-frame.html", """<html><head><title>Hostile frame</title></head>
<body><img src="file://{secret}/sentinel.png"><img src="img/b.gif"></body></html>
""", embeds=["img/b.gif"])

# A path of more than 2,000 characters, for the page and for an image.
LONG_DIR = "/".join(("segment-%d-" % i) + "x" * 190 for i in range(11))
page(LONG_DIR + "/long.html", '<html><head><title>Long</title></head><body><img src="long.png"></body></html>\n',
     embeds=[LONG_DIR + "/long.png"])

page("many.html", "<html><head><title>Many</title></head><body>\n" +
     "".join('<img src="many/%d.gif">\n' % i for i in range(2005)) + "</body></html>\n")

page("deep-frames.html",
     '<html><head><title>Deep</title></head><frameset><frame src="deep/d1.html"></frameset></html>\n')
for _i in range(1, 12):
    PAGES["deep/d%d.html" % _i] = dict(
        html='<html><head><title>d%d</title></head><frameset><frame src="d%d.html"></frameset></html>\n' % (_i, _i + 1),
        embeds=[], leaves=[], frames=[], charset=None)

page("imports.html", '<html><head><title>Imports</title><link rel="stylesheet" href="imp/i0.css"></head>'
     '<body>x</body></html>\n')

page("big.html", '<html><head><title>Big</title></head><body><img src="img/big.png"></body></html>\n',
     embeds=["img/big.png"])

# Nine names for the 30 MB image: more than one capture may take.
page("huge.html", '<html><head><title>Huge</title></head><body>' +
     "".join('<img src="big/%d.png">' % i for i in range(9)) + "</body></html>\n")

CHARSETS = {"shift_jis": "Shift_JIS", "euc-jp": "EUC-JP", "utf-8": "UTF-8"}
DECLARATIONS = ["http", "equiv", "meta", "none"]
for _cs, _label in CHARSETS.items():
    for _decl in DECLARATIONS:
        _head = {"equiv": '<meta http-equiv="Content-Type" content="text/html; charset=%s">' % _label,
                 "meta": '<meta charset="%s">' % _label}.get(_decl, "")
        page("charset/%s-%s.html" % (_cs, _decl),
             "<html><head>%s<title>Charset</title></head><body><p>%s</p></body></html>\n" % (_head, JTEXT),
             charset=_cs)
# Served as Shift_JIS while the page says otherwise: the answer's charset wins.
page("charset/shift_jis-conflict.html",
     '<html><head><meta http-equiv="Content-Type" content="text/html; charset=EUC-JP"><title>C</title></head>'
     "<body><p>%s</p></body></html>\n" % JTEXT, charset="shift_jis")

OTHER_FILES = {
    "css/plain.css": ".plain { color: #123456; }\n",
    "css/imported.css": ".imp { background: url(img/s3.png) }\n",
    "css/site.css": '@import "more.css";\n.site { background-image: url(img/s1.png); }\n'
                    ".site2 { background: url(/img/root.gif) }\n",
    "css/more.css": '.more { list-style-image: url("img/s2.gif"); }\n',
    "css/cycle-a.css": '@import url(cycle-b.css);\n.cycle-a { color: red; }\n',
    "css/cycle-b.css": '@import url(cycle-a.css);\n.cycle-b { color: blue; }\n',
    "css/evil-import.css": '@import url("file://{secret}/evil.css");\n'
                           ".e { background: url(file://{secret}/sentinel.png) }\n.ok { color: green; }\n",
    "js/app.js": "function hello() { return '<img src=\"never.png\">'; }\n",
    "chunked/part.inc": "<p>included by the server</p>",
    "other.html": "<html><body>other</body></html>\n",
}
for _i in range(12):
    OTHER_FILES["imp/i%d.css" % _i] = '@import url("i%d.css");\n.imp%d { margin: %dpx; }\n' % (_i + 1, _i, _i)

SERVER_LINES = """
    # Chunked answers for every type: SSI on the pages (HTML only: it would
    # alter binary files), a filter that never matches on everything.
    location /chunked/ { ssi on; sub_filter 'never-in-any-file' ''; sub_filter_types *; }
    location ~ ^/charset/shift_jis-(http|conflict)\\.html$ { charset Shift_JIS; }
    location = /charset/euc-jp-http.html { charset EUC-JP; }
    location = /charset/utf-8-http.html { charset UTF-8; }
    location = /r/abs.png { return 301 http://127.0.0.1:{port}/img/a.png; }
    location = /r/rooted.png { absolute_redirect off; return 302 /img/b.gif; }
    location = /r/dotdot.png { absolute_redirect off; return 302 ../img/c.jpg; }
    location = /r/loop.png { absolute_redirect off; return 302 /r/loop.png; }
    location = /r/to-file.png { absolute_redirect off; return 302 "file://{secret}/sentinel.png"; }
    location = /loop.html { return 302 http://127.0.0.1:{port}/loop.html; }
    location = /moved.html { return 301 http://127.0.0.1:{port}/dir/real.html; }
    location = /moved-rel.html { absolute_redirect off; return 302 /dir/real.html; }
    location /private/ {
        auth_basic "capture";
        auth_basic_user_file {htpasswd};
        location = /private/to-recorder.png { return 302 http://127.0.0.1:{recorder}/redirected.png; }
    }
    location /many/ { try_files /img/b.gif =404; }
    location /big/ { try_files /img/big.png =404; }
"""


def htpasswd_line(user, password):
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DeprecationWarning)
            import crypt
        return "%s:%s\n" % (user, crypt.crypt(password, crypt.mksalt(crypt.METHOD_SHA512)))
    except ImportError:
        # nginx also reads salted SHA-1 ("{SSHA}").
        salt = os.urandom(8)
        digest = hashlib.sha1(password.encode() + salt).digest()
        return "%s:{SSHA}%s\n" % (user, base64.b64encode(digest + salt).decode())


class Site:
    """The pages and resources on disk, the sentinel outside them, and the
    peers that serve them."""

    def __init__(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="hanamail_capture_")
        self.dir = self.tmp.name
        self.www = os.path.join(self.dir, "www")
        self.secret = os.path.join(self.dir, "secret")
        # The tool runs here: drive-letter forms would name files below it.
        self.cwd = os.path.join(self.dir, "cwd")
        self.recorder = RawServer(self._record_answer)
        self.nginx = Nginx(self.dir, self.www)
        self.port = self.nginx.port
        self.files = {}
        self._write_site()
        self.nginx.configure(self.fill(SERVER_LINES).replace("{htpasswd}", os.path.join(self.dir, "htpasswd")))
        self.nginx.start()

    @staticmethod
    def _record_answer(path, request, conn):
        body = image(path.rsplit("/", 1)[-1] or "x.png")
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: %d\r\n\r\n" % len(body) + body)

    def fill(self, text):
        return (text.replace("{port}", str(self.port)).replace("{recorder}", str(self.recorder.port))
                .replace("{secret_rel}", self.secret.lstrip("/")).replace("{secret}", self.secret)
                .replace("{{", "{").replace("}}", "}"))

    def put(self, root, rel, data):
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def _write_site(self):
        for name, p in PAGES.items():
            text = self.fill(p["html"])
            data = text.encode(p["charset"] or "utf-8")
            self.put(self.www, name, data)
            self.files[name] = data
            for res in p["embeds"] + p["leaves"]:
                if res not in self.files and not res.endswith(".js"):
                    self.files[res] = image(res, 30 * 1000 * 1000 if res == "img/big.png" else 2000)
        for name, text in OTHER_FILES.items():
            self.files[name] = self.fill(text).encode("utf-8")
        for name, data in self.files.items():
            self.put(self.www, name, data)
        with open(os.path.join(self.dir, "htpasswd"), "w") as f:
            f.write(htpasswd_line(USER, PASSWORD))
        # The sentinel: local files a remote page names, in every form.
        sentinel_png = PNG + SENTINEL
        for rel in ["sentinel.png"]:
            self.put(self.secret, rel, sentinel_png)
        self.put(self.secret, "evil.css", b".evil { content: '" + SENTINEL + b"'; }\n")
        self.put(self.secret, "evil.js", b"var s = '" + SENTINEL + b"';\n")
        self.put(self.secret, "frame.html", b"<html><body>" + SENTINEL + b"</body></html>\n")
        os.makedirs(self.cwd, exist_ok=True)
        self.put(self.cwd, "C:\\secret\\sentinel.png", sentinel_png)
        self.put(self.cwd, "c:/secret/sentinel.png", sentinel_png)
        self.put(self.cwd, "x:\\secret/sentinel.png", sentinel_png)
        self.put(self.cwd, "sentinel.png", sentinel_png)

    def url(self, path):
        return self.nginx.url(path)

    def close(self):
        self.nginx.stop()
        self.recorder.stop()
        self.tmp.cleanup()


# ------------------------------------------------------------------ running and judging


class Run:
    def __init__(self, returncode, stdout, stderr, log, eml, seconds, max_rss_kb):
        # stderr holds the log of a failure, log that of --log-xml.
        self.returncode, self.stdout, self.stderr = returncode, stdout, stderr
        self.log, self.eml, self.seconds, self.max_rss_kb = log, eml, seconds, max_rss_kb

    def text(self):
        return self.stderr.decode("utf-8", "replace") + self.log.decode("utf-8", "replace")


def capture(target, out, *args, cwd=None, timeout=120, read_timeout="5"):
    """Runs hanamail capture; the log comes from --log-xml."""
    log = out + ".log.xml"
    if os.path.exists(log):
        os.remove(log)
    cmd = [CLI, "capture", target, "-o", out, "--log-xml", log, "--timeout", read_timeout, *args]
    u = run_measured(cmd, cwd=cwd, timeout=timeout)
    log_text = b""
    if os.path.exists(log):
        with open(log, "rb") as f:
            log_text = f.read()
    eml = None
    if u.returncode == 0 and os.path.exists(out):
        with open(out, "rb") as f:
            eml = f.read()
    return Run(u.returncode, u.stdout, u.stderr, log_text, eml, u.seconds, u.max_rss_kb)


def has_limit(text, name):
    """Whether the log names the bound that stopped a fetch (data line "limit")."""
    return re.search(r"limit\W{1,20}%s\b" % re.escape(name), text) is not None


CID_REF = re.compile(r"cid:([^\"'\s)>&]+)")
# The attributes whose values the mailed page loads by itself.
LOADED = re.compile(r"<(img|script|input|body|table|td|v:\w+|frame|iframe)\b([^>]*)>")
LOADED_ATTR = re.compile(r"""\b(src|background)\s*=\s*("([^"]*)"|'([^']*)'|([^\s>]+))""", re.I)
CSS_URL = re.compile(r"""url\(\s*(?:"([^"]*)"|'([^']*)'|([^)]*?))\s*\)""", re.I)


class Capture:
    """One captured email as Python's email package reads it."""

    def __init__(self, test, data):
        self.raw = data
        self.msg = email.message_from_bytes(data, policy=email.policy.default)
        test.assertEqual(self.msg.get_content_type(), "multipart/related")
        test.assertEqual(self.msg.defects, [])
        self.parts = list(self.msg.iter_parts())
        test.assertGreater(len(self.parts), 0)
        test.assertEqual(self.parts[0].get_content_type(), "text/html")
        self.by_cid = {}
        self.by_location = {}
        for part in self.parts:
            test.assertEqual(part.get_content_maintype() == "multipart", False)
            cid = part.get("Content-ID")
            if cid is not None:
                self.by_cid[str(cid).strip().strip("<>")] = part
            loc = part.get("Content-Location")
            if loc is not None:
                self.by_location[str(loc).strip()] = part
        self.hashes = {sha(p.get_payload(decode=True)) for p in self.parts}
        self.html = [p for p in self.parts if p.get_content_type() == "text/html"]

    def page(self):
        return self.parts[0].get_content()

    def texts(self):
        return [p.get_content() for p in self.html]

    def has(self, data):
        return sha(data) in self.hashes

    def loaded_refs(self, text):
        """Every value the page loads by itself: src and background of the
        loading tags, and url() anywhere (style blocks and attributes)."""
        out = []
        for m in LOADED.finditer(text):
            for a in LOADED_ATTR.finditer(m.group(2)):
                out.append((m.group(1).lower(), next(v for v in a.groups()[2:] if v is not None)))
        for m in CSS_URL.finditer(text):
            # In a style attribute the quotes may be written as &quot;.
            value = html_text.unescape(next((v for v in m.groups() if v is not None), ""))
            out.append(("url", value.strip("\"'")))
        return out


class CaptureCase(unittest.TestCase):
    site = None

    @classmethod
    def setUpClass(cls):
        if CLI is None:
            raise unittest.SkipTest("HANAMAIL_CLI is not set")
        CaptureCase.site = CaptureCase.site or Site()

    def setUp(self):
        self.out_dir = tempfile.mkdtemp(prefix="out_", dir=self.site.dir)

    def out(self, name="out.eml"):
        return os.path.join(self.out_dir, name)

    def capture_ok(self, target, *args, cwd=None, **kw):
        r = capture(target, self.out(), *args, cwd=cwd or self.site.cwd, **kw)
        self.assertEqual(r.returncode, 0, r.stderr.decode("utf-8", "replace")[-3000:])
        self.assertIsNotNone(r.eml)
        self.assert_nothing_secret(r)
        return r, Capture(self, r.eml)

    def assert_nothing_secret(self, r):
        secrets = [SENTINEL, PASSWORD.encode(), base64.b64encode(("%s:%s" % (USER, PASSWORD)).encode()),
                   base64.b64encode(SENTINEL)[:20]]
        for where in [r.stdout, r.stderr, r.log, r.eml or b""]:
            for s in secrets:
                self.assertNotIn(s, where)
        if r.eml:
            msg = email.message_from_bytes(r.eml, policy=email.policy.default)
            for part in msg.walk():
                payload = part.get_payload(decode=True)
                if payload:
                    self.assertNotIn(SENTINEL, payload)

    def assert_well_formed(self, cap, allowed=()):
        """Every cid: resolves, and nothing the page loads points elsewhere:
        frames by absolute URL are parts (by Content-Location), and only the
        values in allowed are left as written."""
        for text in cap.texts():
            for cid in CID_REF.findall(text):
                self.assertIn(cid, cap.by_cid, "cid:%s points at no part" % cid)
            for kind, value in cap.loaded_refs(text):
                if value.startswith("cid:"):
                    continue
                if kind in ("frame", "iframe") and value in cap.by_location:
                    continue
                self.assertTrue(any(a in value for a in allowed), "%s %r was left pointing out" % (kind, value))

    def assert_embeds(self, cap, paths):
        for path in paths:
            self.assertTrue(cap.has(self.site.files[path]), "%s is not embedded" % path)

    def assert_leaves(self, cap, paths):
        for path in paths:
            self.assertFalse(cap.has(self.site.files[path]), "%s should not be embedded" % path)


class RemotePagesTest(CaptureCase):
    def test_every_tag_kind_is_embedded_once_over_one_connection(self):
        mark = self.site.nginx.mark()
        r, cap = self.capture_ok(self.site.url("tags.html"))
        self.assert_embeds(cap, PAGES["tags.html"]["embeds"] + PAGES["iframe.html"]["embeds"])
        self.assert_leaves(cap, PAGES["tags.html"]["leaves"])
        self.assert_well_formed(cap, allowed=["img/mixed.png", "img/in-script.png"])
        html = cap.page()
        base = self.site.url("")
        # One part for the image used twice; both tags name it.
        a_cids = set(re.findall(r'<img src="cid:([^"]+)" alt="(?:upper case|the same image again)"', html))
        self.assertEqual(len(a_cids), 1, html)
        self.assertEqual(sum(1 for p in cap.parts if p.get_payload(decode=True) == self.site.files["img/a.png"]), 1)
        # Links become absolute; fragments, mail and script links stay.
        for value in ["other.html", "map.html", "media/clip.swf", "cgi/submit", "img/icon.png"]:
            self.assertIn('"%s%s"' % (base, value), html)
        for value in ['href="#top"', 'href="mailto:x@example.com"', 'href="javascript:void(0)"',
                      '<Img src="img/mixed.png">', "var s = \"<img src='img/in-script.png'>\";"]:
            self.assertIn(value, html)
        # The linked sheet is inline; the page's part says where it came from.
        self.assertIn(".plain { color: #123456; }", html)
        self.assertEqual(str(cap.parts[0]["Content-Location"]), self.site.url("tags.html"))
        self.assertEqual(str(cap.by_location[self.site.url("iframe.html")].get_content_type()), "text/html")
        # An image part carries its Content-ID and a name, not the server's URL.
        part = cap.by_cid[a_cids.pop()]
        self.assertEqual(part.get_content_type(), "image/png")
        self.assertIsNone(part.get("Content-Location"))
        self.assertEqual(cap.msg.get("To"), None)
        # nginx saw each resource once, all over the one kept-open connection.
        seen = self.site.nginx.requests_since(mark)
        uris = [u for _, _, u in seen]
        self.assertEqual(len(uris), len(set(uris)), uris)
        self.assertEqual(len({c for c, _, _ in seen}), 1, seen)
        self.assertTrue(all(s == 200 for _, s, _ in seen), seen)

    def test_css_in_every_form(self):
        mark = self.site.nginx.mark()
        r, cap = self.capture_ok(self.site.url("css.html"))
        self.assert_embeds(cap, PAGES["css.html"]["embeds"])
        self.assert_well_formed(cap)
        html = cap.page()
        # Linked and imported sheets are inline, imports in place, cycles once.
        for text in [".site {", ".site2 {", ".more {", ".imp {", ".cycle-a { color: red; }",
                     ".cycle-b { color: blue; }"]:
            self.assertIn(text, html)
        self.assertEqual(html.count(".cycle-a { color: red; }"), 1)
        self.assertIn("list-style-image: url('cid:", html)
        self.assertIn("no-repeat", html)
        self.assertNotIn("@import", html)
        self.assertRegex(html, r'style="background: url\((&quot;)?cid:')
        uris = [u for _, _, u in self.site.nginx.requests_since(mark)]
        self.assertEqual(len(uris), len(set(uris)), uris)

    def test_frames_are_parts_in_their_own_charset(self):
        r, cap = self.capture_ok(self.site.url("frames.html"))
        self.assert_embeds(cap, PAGES["frames.html"]["embeds"])
        self.assert_well_formed(cap)
        for frame in PAGES["frames.html"]["frames"]:
            self.assertIn(self.site.url(frame), cap.by_location)
            self.assertIn('"%s"' % self.site.url(frame), cap.page())
        right = cap.by_location[self.site.url("frames/right.html")]
        self.assertEqual(right.get_content_charset(), "shift_jis")
        self.assertIn(JTEXT, right.get_content())
        self.assertIn('charset=shift_jis"', right.get_content().lower())

    def test_base_href_absolute_and_relative(self):
        r, cap = self.capture_ok(self.site.url("base.html"))
        self.assert_embeds(cap, PAGES["base.html"]["embeds"])
        self.assert_well_formed(cap)
        self.assertIn(self.site.url("sub/doc.html"), cap.page())
        r, cap = self.capture_ok(self.site.url("dir/rel-base.html"))
        self.assert_embeds(cap, ["sub/y.png"])

    def test_chunked_answers(self):
        import http.client
        conn = http.client.HTTPConnection("127.0.0.1", self.site.port, timeout=10)
        conn.request("GET", "/chunked/c1.png")
        response = conn.getresponse()
        self.assertEqual(response.getheader("Transfer-Encoding"), "chunked")
        response.read()
        conn.close()
        mark = self.site.nginx.mark()
        r, cap = self.capture_ok(self.site.url("chunked/page.html"))
        self.assert_embeds(cap, PAGES["chunked/page.html"]["embeds"])
        self.assertIn("<p>included by the server</p>", cap.page())
        self.assertEqual(len({c for c, _, _ in self.site.nginx.requests_since(mark)}), 1)

    def test_redirects_missing_resources_and_loops(self):
        r, cap = self.capture_ok(self.site.url("redirects.html"))
        self.assert_embeds(cap, PAGES["redirects.html"]["embeds"])
        html = cap.page()
        # What could not be had keeps the URL it was registered under.
        self.assertIn('src="%s"' % self.site.url("img/missing.png"), html)
        self.assertIn('src="%s"' % self.site.url("r/loop.png"), html)
        self.assert_well_formed(cap, allowed=[self.site.url("img/missing.png"), self.site.url("r/loop.png")])
        text = r.text()
        self.assertIn("Failed to download or include external content.", text)
        self.assertIn("404", text)

    def test_a_moved_page_is_based_at_its_final_url(self):
        for start in ["moved.html", "moved-rel.html"]:
            with self.subTest(start=start):
                r, cap = self.capture_ok(self.site.url(start))
                self.assert_embeds(cap, ["dir/pic.png"])
                self.assertEqual(str(cap.parts[0]["Content-Location"]), self.site.url("dir/real.html"))

    def test_pages_that_are_not_there_fail(self):
        for page_name, words in [("nothing-here.html", "404"), ("loop.html", "302")]:
            with self.subTest(page=page_name):
                out = self.out(page_name + ".eml")
                with open(out, "wb") as f:
                    f.write(b"OLD")
                r = capture(self.site.url(page_name), out, cwd=self.site.cwd)
                self.assertEqual(r.returncode, 1, r.stderr)
                self.assertIn("HTTP request failed", r.stderr.decode())
                self.assertIn(words, r.stderr.decode())
                with open(out, "rb") as f:
                    self.assertEqual(f.read(), b"OLD")

    def test_credentials_go_to_their_host_only_and_never_show(self):
        before = len(self.site.recorder.seen())
        url = self.site.url("private/page.html").replace("http://", "http://%s:%s@" % (USER, PASSWORD))
        r, cap = self.capture_ok(url)
        self.assert_embeds(cap, ["private/p.png"])
        self.assertTrue(cap.has(image("elsewhere.png")))
        self.assertTrue(cap.has(image("redirected.png")))
        seen = self.site.recorder.seen()[before:]
        self.assertEqual(len(seen), 2, seen)
        self.assertEqual(authorization_headers(seen), [])
        self.assertEqual(str(cap.parts[0]["Content-Location"]), self.site.url("private/page.html"))
        self.assertNotIn(USER.encode() + b":" + PASSWORD.encode()[:3], r.eml)
        self.assert_masked(r)
        # Without them the page is refused, and the capture fails.
        r = capture(self.site.url("private/page.html"), self.out("refused.eml"), cwd=self.site.cwd)
        self.assertEqual(r.returncode, 1)
        self.assertIn("401", r.text())
        # A wrong password fails alike, and the log still shows neither.
        wrong = url.replace(PASSWORD, "Wrong-Pw-3")
        r = capture(wrong, self.out("wrong.eml"), cwd=self.site.cwd)
        self.assertEqual(r.returncode, 1)
        self.assertIn("401", r.text())
        self.assertNotIn(b"Wrong-Pw-3", r.stderr + r.log)
        self.assert_masked(r)

    def assert_masked(self, r):
        """A logged URL shows its user, never the password that came with it."""
        for m in re.finditer(re.escape(USER) + r"(:[^@\s<]*)?@", r.text()):
            self.assertEqual(m.group(1), ":***", m.group(0))

    def test_remote_pages_never_read_local_files(self):
        for name in ["hostile.html", "hostile-base.html"]:
            with self.subTest(page=name):
                r, cap = self.capture_ok(self.site.url(name))
                self.assert_embeds(cap, PAGES[name]["embeds"])
                self.assertIn("Skipping local file reference in remote page.", r.text())
                if name != "hostile.html":
                    continue
                # Each reference stays as written (a backslash may read as "/").
                html = cap.page().replace("\\", "/")
                for ref in HOSTILE_REFS:
                    self.assertIn('src="%s"' % self.site.fill(ref).replace("\\", "/"), html)

    def test_local_references_in_sheets_frames_and_redirects(self):
        r, cap = self.capture_ok(self.site.url("hostile-sheet.html"))
        self.assert_embeds(cap, ["img/a.png", "img/b.gif"])
        self.assertIn(self.site.url("hostile-frame.html"), cap.by_location)
        self.assertIn(".ok { color: green; }", cap.page())
        self.assertIn('src="%s"' % self.site.url("r/to-file.png"), cap.page())
        self.assert_well_formed(cap, allowed=["file:", self.site.url("r/to-file.png")])

    def test_placeholder_text_in_the_page_keeps_every_block_in_place(self):
        r, cap = self.capture_ok(self.site.url("placeholders.html"))
        html = cap.page()
        pieces = [".first { color: red; }", "var first = 1;",
                  "<p>The text &lt;tembrix_script&gt; is literal: <tembrix_script> and <tembrix_style></p>",
                  'var second = "<tembrix_script>";', ".second { background: url("]
        at = [html.find(p) for p in pieces]
        self.assertNotIn(-1, at, html)
        self.assertEqual(at, sorted(at), html)
        self.assert_embeds(cap, ["img/a.png"])

    def test_urls_of_more_than_2000_characters(self):
        url = self.site.url(LONG_DIR + "/long.html")
        self.assertGreater(len(url), 2000)
        r, cap = self.capture_ok(url)
        # The header may be folded; a URL holds no white space of its own.
        self.assertEqual(re.sub(r"\s", "", str(cap.parts[0]["Content-Location"])), url)
        self.assert_embeds(cap, [LONG_DIR + "/long.png"])

    def test_charset_from_each_kind_of_declaration(self):
        for cs in CHARSETS:
            for decl in DECLARATIONS + (["conflict"] if cs == "shift_jis" else []):
                name = "charset/%s-%s.html" % (cs, decl)
                with self.subTest(page=name):
                    r, cap = self.capture_ok(self.site.url(name))
                    part = cap.parts[0]
                    text = part.get_content()
                    if decl == "none" and cs != "utf-8":
                        # Undeclared bytes that are not UTF-8 are kept byte for byte.
                        self.assertEqual(part.get_content_charset(), "iso-8859-1")
                        self.assertIn(JTEXT.encode(cs).decode("latin-1"), text)
                        continue
                    self.assertEqual(part.get_content_charset(), cs)
                    self.assertIn(JTEXT, text)
                    # The page declares the charset its part is in, and no other.
                    declared = {d.lower() for d in re.findall(r"charset=\"?([\w-]+)", text, re.I)}
                    self.assertEqual(declared, {cs}, text[:400])

    def test_bounds_on_frames_imports_and_resources(self):
        r, cap = self.capture_ok(self.site.url("deep-frames.html"))
        self.assertTrue(has_limit(r.text(), "frame_depth"), r.text()[-3000:])
        depth = sum(1 for loc in cap.by_location if "/deep/" in loc)
        self.assertGreaterEqual(depth, 7)
        self.assertLessEqual(depth, 9)
        self.assert_well_formed(cap, allowed=["/deep/d"])

        r, cap = self.capture_ok(self.site.url("imports.html"))
        self.assertTrue(has_limit(r.text(), "import_depth"), r.text()[-3000:])
        html = cap.page()
        self.assertIn(".imp0 {", html)
        self.assertIn(".imp7 {", html)
        self.assertNotIn(".imp11 {", html)

        r, cap = self.capture_ok(self.site.url("many.html"), timeout=300)
        self.assertTrue(has_limit(r.text(), "resources"), r.text()[-3000:])
        images = [p for p in cap.parts if p.get_content_type() == "image/gif"]
        # The page itself may count as one of them.
        self.assertIn(len(images), (1999, 2000))
        self.assert_well_formed(cap, allowed=[self.site.url("many/")])

    def test_a_30_mb_image_in_bounded_memory(self):
        r, cap = self.capture_ok(self.site.url("big.html"))
        self.assert_embeds(cap, ["img/big.png"])
        # The image, its base64 and the email read back: a few copies, no more.
        self.assertLess(r.max_rss_kb * 1024, 12 * MEMORY_FACTOR * len(self.site.files["img/big.png"]),
                        r.max_rss_kb)

    def test_a_capture_stops_taking_resources_at_its_bound(self):
        r = capture(self.site.url("huge.html"), self.out(), cwd=self.site.cwd, timeout=300)
        self.assertTrue(has_limit(r.text(), "capture_bytes"), r.text()[-3000:])
        if r.returncode == 0:
            # What fit is in; the rest keeps its URL. Too large for the
            # email package to read quickly: counted in the raw text.
            self.assertLessEqual(r.eml.count(b"Content-Type: image/png"), 8)
            self.assertIn(self.site.url("big/").encode(), quopri.decodestring(r.eml[:100000]))
        self.assertLess(r.max_rss_kb, 4 * MEMORY_FACTOR * 1024 * 1024)


LOCAL_PAGE = """<html><head><title>Local</title><link rel="stylesheet" href="local.css"></head>
<body><!--#include file="header.inc"-->
<img src="img/local.png"><img src="../shared/up.gif"><img src="img/my%20pic.png"><img src="img/画像.png">
<img src="file:img/fileform.png">
<!--#INCLUDE file="self.inc"-->
<!--#include file="missing.inc"-->
</body></html>
"""


class LocalPagesTest(CaptureCase):
    def setUp(self):
        super().setUp()
        self.root = os.path.join(self.out_dir, "local")
        self.files = {}
        for rel in ["img/local.png", "../shared/up.gif", "img/my pic.png", "img/画像.png", "img/fileform.png",
                    "img/from-css.png"]:
            self.files[rel] = image("local/" + rel)
            self.site.put(self.root, rel, self.files[rel])
        self.site.put(self.root, "local.css", b".l { background: url(img/from-css.png) }\n")
        self.site.put(self.root, "header.inc", b'<div>HEADER-TEXT</div><!--#include file="nested.inc"-->')
        self.site.put(self.root, "nested.inc", b"<div>NESTED-TEXT</div>")
        self.site.put(self.root, "self.inc", b'SELF-START<!--#include file="self.inc"-->SELF-END')
        for i in range(20):
            self.site.put(self.root, "chain%d.inc" % i, b'[C%d]<!--#include file="chain%d.inc"-->' % (i, i + 1))
        self.page = self.site.put(self.root, "ページ.html", LOCAL_PAGE.encode("utf-8"))

    def test_relative_resources_and_includes(self):
        for target in [self.page, "file://" + self.page]:
            with self.subTest(target=target[:7]):
                r, cap = self.capture_ok(target)
                for rel, data in self.files.items():
                    self.assertTrue(cap.has(data), rel)
                self.assert_well_formed(cap)
                html = cap.page()
                for text in ["HEADER-TEXT", "NESTED-TEXT", "SELF-START", "SELF-END"]:
                    self.assertEqual(html.count(text), 1, text)
                self.assertNotIn("#include", html.lower())

    def test_a_remote_frame_in_a_local_page_reads_no_local_file(self):
        page = self.site.put(self.root, "mixed.html", self.site.fill(
            '<html><head><title>Mixed</title></head><body><img src="img/local.png">'
            '<iframe src="http://127.0.0.1:{port}/hostile-frame.html"></iframe></body></html>').encode())
        r, cap = self.capture_ok(page)
        self.assertTrue(cap.has(self.files["img/local.png"]))
        self.assert_embeds(cap, ["img/b.gif"])
        self.assertIn(self.site.url("hostile-frame.html"), cap.by_location)
        self.assertIn("Skipping local file reference in remote page.", r.text())

    def test_a_base_href_on_the_web_takes_the_page_there(self):
        page = self.site.put(self.root, "based.html", self.site.fill(
            '<html><head><title>Based</title><base href="http://127.0.0.1:{port}/sub/"></head>'
            '<body><img src="x.png"></body></html>').encode())
        r, cap = self.capture_ok(page)
        self.assert_embeds(cap, ["sub/x.png"])

    def test_include_depth_is_bounded(self):
        page = self.site.put(self.root, "chain.html", b'<html><body><!--#include file="chain0.inc"--></body></html>')
        r, cap = self.capture_ok(page)
        self.assertTrue(has_limit(r.text(), "include_depth"), r.text()[-3000:])
        html = cap.page()
        self.assertIn("[C0]", html)
        self.assertIn("[C15]", html)
        self.assertNotIn("[C19]", html)
        # The tool's own directory is where it was.
        self.assertEqual(r.returncode, 0)

    def test_a_missing_file_fails(self):
        out = self.out("kept.eml")
        with open(out, "wb") as f:
            f.write(b"OLD")
        r = capture(os.path.join(self.root, "missing.html"), out, cwd=self.site.cwd)
        self.assertEqual(r.returncode, 1)
        self.assertTrue(r.stderr)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), b"OLD")


class CommandLineTest(CaptureCase):
    def test_compose_options_change_the_captured_email(self):
        text = self.site.put(self.out_dir, "plain.txt", "本文です。\n".encode())
        # With --text the page goes beside the plain text: the email is no
        # related part of its own.
        r = capture(self.site.url("base.html"), self.out(), "--from", "山田 太郎 <taro@example.jp>",
                    "--to", "hanako@example.jp", "--subject", "ページ", "--header", "X-Test: 1", "--text", text,
                    cwd=self.site.cwd)
        self.assertEqual(r.returncode, 0, r.stderr)
        msg = email.message_from_bytes(r.eml, policy=email.policy.default)
        self.assertEqual(msg["from"].addresses[0].display_name, "山田 太郎")
        self.assertEqual(str(msg["to"]), "hanako@example.jp")
        self.assertEqual(str(msg["subject"]), "ページ")
        self.assertEqual(str(msg["x-test"]), "1")
        self.assertEqual(msg.get_body(("plain",)).get_content().strip(), "本文です。")
        related = msg.get_body(("related",))
        self.assertIsNotNone(related)
        html = related.get_body(("html",)).get_content()
        self.assertIn("cid:", html)

    def test_usage_errors_write_nothing(self):
        out = self.out("kept.eml")
        for extra in [["--html", out], ["--from-eml", out], ["--from-xml", out], []]:
            with self.subTest(extra=extra):
                with open(out, "wb") as f:
                    f.write(b"OLD")
                target = [] if not extra else [self.site.url("base.html")]
                r = run_measured([CLI, "capture", *target, *extra, "-o", out], cwd=self.site.cwd, timeout=30)
                self.assertEqual(r.returncode, 2, r.stderr)
                with open(out, "rb") as f:
                    self.assertEqual(f.read(), b"OLD")
        r = run_measured([CLI, "capture", "--help"], timeout=30)
        self.assertEqual(r.returncode, 0)
        for option in [b"--timeout", b"--xml", b"-o", b"--log-xml", b"--from", b"--to", b"--text", b"--attach"]:
            self.assertIn(option, r.stdout)


# ------------------------------------------------------------------ faults

FAULTS = {}


def fault(path, line, limit=None):
    """A fault server answer at path, the log line it must give and the
    bound it must name, if any."""
    def register(fn):
        FAULTS[path] = (fn, line, limit)
        return fn
    return register


@fault("/bad-status", "Invalid header received")
def _bad_status(conn):
    conn.sendall(b"HTXP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")
    return False


@fault("/no-status", "Invalid header received")
def _no_status(conn):
    conn.sendall(b"<html>not a response</html>\r\n\r\n")
    return False


@fault("/truncated-chunk", "Failed to get response data (a)")
def _truncated_chunk(conn):
    conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n400\r\n" + b"x" * 100)
    return False


@fault("/huge-chunk", "Failed to get response data (a)")
def _huge_chunk(conn):
    conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFF\r\nabc")
    time.sleep(1)
    return False


@fault("/big-chunk", "Failed to get response data (a)", "body")
def _big_chunk(conn):
    conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7FFFFFFF\r\n" + b"x" * 1000)
    time.sleep(1)
    return False


@fault("/long-chunk-line", "Failed to get response data (a)", "chunk_line")
def _long_chunk_line(conn):
    conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1" + b"0" * 4000 + b";x\r\n")
    time.sleep(1)
    return False


@fault("/negative-length", "Failed to get response data (a)")
def _negative_length(conn):
    conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n<html></html>")
    time.sleep(1)
    return False


@fault("/endless-header", "Failed to get response header", "header")
def _endless_header(conn):
    conn.sendall(b"HTTP/1.1 200 OK\r\n")
    try:
        for i in range(100000):
            conn.sendall(b"X-Filler-%d: %s\r\n" % (i, b"y" * 100))
    except OSError:
        pass
    return False


@fault("/endless-body", "Failed to get response data (a)", "body")
def _endless_body(conn):
    conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<html>")
    chunk = b"z" * 65536
    try:
        for _ in range(2000):  # 128 MiB at most
            conn.sendall(chunk)
    except OSError:
        pass
    return False


@fault("/stall-body", "Socket read timeout")
def _stall_body(conn):
    conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n<html>")
    time.sleep(20)
    return False


@fault("/stall-header", "Failed to get response header")
def _stall_header(conn):
    time.sleep(20)
    return False


@fault("/redirect-loop", "Aborted to avoid infinite redirects.", "redirects")
def _redirect_loop(conn):
    conn.sendall(b"HTTP/1.1 302 Found\r\nLocation: /redirect-loop\r\nContent-Length: 0\r\n\r\n")


def _fault_answer(path, request, conn):
    entry = FAULTS.get(path.split("?")[0])
    if entry is None:
        conn.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")
        return None
    return entry[0](conn)


def _one_answer_per_connection(path, request, conn):
    """Answers as if the connection stayed open, then closes it."""
    if path.endswith(".html"):
        body = ("<html><head><title>Closing</title></head><body>%s</body></html>" % "".join(
            '<img src="c%d.png">' % i for i in range(4))).encode()
    else:
        body = image(path.rsplit("/", 1)[-1])
    conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
    time.sleep(0.05)
    return False


def _chunks(body, size=700, extension=b""):
    out = b""
    for i in range(0, len(body), size):
        piece = body[i:i + size]
        out += b"%x%s\r\n%s\r\n" % (len(piece), extension, piece)
    return out


# Answers that are odd but sound: each image must arrive whole.
QUIRKS = {
    "no-reason.png": lambda b: b"HTTP/1.1 200\r\nContent-Length: %d\r\n\r\n" % len(b) + b,
    "both.png": lambda b: (b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n" +
                           _chunks(b) + b"0\r\n\r\n"),
    "lower.png": lambda b: b"HTTP/1.1 200 OK\r\ntransfer-encoding: CHUNKED\r\n\r\n" + _chunks(b) + b"0\r\n\r\n",
    "extension.png": lambda b: (b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
                                _chunks(b, 333, b';name="v;x"') + b"0;end\r\n\r\n"),
    "trailer.png": lambda b: (b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + _chunks(b, 1) +
                              b"0\r\nX-Trailer: 1\r\n\r\n"),
    "folded.png": lambda b: (b"HTTP/1.1 200 OK\r\nX-Long: one\r\n two\r\nContent-Length:   %d  \r\n\r\n" % len(b)
                             + b),
}


QUIRK_NAMES = list(QUIRKS) + ["http10.png"]


def _quirk_answer(path, request, conn):
    """The quirks page and its answers; the site's own files under /img/."""
    name = path.rsplit("/", 1)[-1].split("?")[0]
    site_file = _quirk_answer.site.files.get(path.lstrip("/"))
    if site_file is not None:
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(site_file) + site_file)
    elif name == "page.html":
        body = ("<html><head><title>Quirks</title></head><body>%s"
                '<img src="//127.0.0.1:{port}/img/a.png"><img src="img/b.gif?v=2"><img src="img/b.gif?v=3">'
                '<img src="../../../img/c.jpg"><img src="HTTP://127.0.0.1:{port}/img/e1.jpg"></body></html>' %
                "".join('<img src="%s">' % q for q in QUIRK_NAMES)).replace("{port}", str(_quirk_answer.site.port))
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body.encode())
    elif name == "http10.png":
        conn.sendall(b"HTTP/1.0 200 OK\r\n\r\n" + image(name))
        return False
    elif name in QUIRKS:
        conn.sendall(QUIRKS[name](image(name)))
    else:
        conn.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")
    return None


class FaultsTest(CaptureCase):
    def test_every_fault_fails_in_time_and_keeps_the_old_file(self):
        with RawServer(_fault_answer) as server:
            for path, (_, line, limit) in FAULTS.items():
                with self.subTest(fault=path):
                    out = self.out(path.strip("/") + ".eml")
                    with open(out, "wb") as f:
                        f.write(b"OLD CONTENT")
                    r = capture(server.url(path), out, cwd=self.site.cwd, read_timeout="2", timeout=60)
                    err = r.stderr.decode("utf-8", "replace")
                    self.assertEqual(r.returncode, 1, err[-2000:])
                    self.assertIn(line, err, err[-2000:])
                    self.assertIn("HTTP request failed" if path == "/redirect-loop" else line, err)
                    if limit:
                        self.assertTrue(has_limit(r.text(), limit), err[-2000:])
                    # Five attempts of two seconds at most, and some slack.
                    self.assertLess(r.seconds, 25)
                    with open(out, "rb") as f:
                        self.assertEqual(f.read(), b"OLD CONTENT")
                    self.assertLess(r.max_rss_kb, 512 * MEMORY_FACTOR * 1024)

    def test_a_kept_open_connection_the_server_closed_is_opened_again(self):
        with RawServer(_one_answer_per_connection) as server:
            r, cap = self.capture_ok(server.url("closing/page.html"), read_timeout="2")
            for i in range(4):
                self.assertTrue(cap.has(image("c%d.png" % i)), i)
            self.assertLess(r.seconds, 10)

    def test_odd_but_sound_answers_and_references(self):
        _quirk_answer.site = self.site
        with RawServer(_quirk_answer) as server:
            r, cap = self.capture_ok(server.url("page.html"), read_timeout="2")
            for name in QUIRK_NAMES:
                self.assertTrue(cap.has(image(name)), name)
            # Protocol-relative, an image query cut off, dot segments above
            # the root, an upper-case scheme.
            self.assert_embeds(cap, ["img/a.png", "img/b.gif", "img/c.jpg", "img/e1.jpg"])
            self.assertEqual(sum(1 for p in cap.parts if p.get_payload(decode=True) == self.site.files["img/b.gif"]),
                             1)
            self.assert_well_formed(cap)

    def test_a_faulty_resource_is_left_out(self):
        with RawServer(_fault_answer) as server:
            html = "<html><head><title>F</title></head><body>%s<img src=\"img/a.png\"></body></html>\n" % "".join(
                '<img src="%s">' % server.url(p) for p in ["/truncated-chunk", "/endless-body", "/negative-length"])
            name = "faulty-%d.html" % server.port
            self.site.put(self.site.www, name, html.encode())
            r, cap = self.capture_ok(self.site.url(name), read_timeout="2")
            self.assert_embeds(cap, ["img/a.png"])
            self.assert_well_formed(cap, allowed=[server.url("")])
            for p in ["/truncated-chunk", "/endless-body", "/negative-length"]:
                self.assertIn('src="%s"' % server.url(p), cap.page())


# ------------------------------------------------------------------ beside wget

# What wget fetches as a page requisite that the capture leaves alone on
# purpose: tags in mixed case are not normalised, so <Img> is not rewritten;
# <link> other than a style sheet and <embed> only get an absolute URL; and
# script text is kept as it is, while wget takes an <img> inside a script
# string for a tag.
NOT_EMBEDDED_ON_PURPOSE = {"img/mixed.png", "img/icon.png", "media/clip.swf", "img/in-script.png"}
DECLARATION = re.compile(r"([-\w]+)\s*:\s*([^;{}]+?)\s*(?:;|})")
WGET_PAGES = ["tags.html", "css.html", "frames.html", "base.html", "dir/rel-base.html", "chunked/page.html",
              "redirects.html", "charset/shift_jis-meta.html", "hostile.html"]


def declarations(css):
    """The declarations of a sheet, with url() values left out (wget makes
    them local paths, the capture cid: URLs)."""
    out = set()
    for prop, value in DECLARATION.findall(css):
        out.add((prop.lower(), re.sub(r"\s+", " ", CSS_URL.sub("url()", value)).strip()))
    return out


@unittest.skipIf(WGET is None, "wget is not installed")
class BesideWgetTest(CaptureCase):
    def wget(self, url):
        dest = tempfile.mkdtemp(prefix="wget_", dir=self.site.dir)
        subprocess.run([WGET, "-p", "-k", "-q", "-e", "robots=off", "--tries=1", "--timeout=10", "-P", dest, url],
                       capture_output=True, timeout=120, cwd=self.site.cwd)
        root = os.path.join(dest, "127.0.0.1:%d" % self.site.port)
        got = {}
        for d, _, names in os.walk(root):
            for n in names:
                full = os.path.join(d, n)
                with open(full, "rb") as f:
                    got[os.path.relpath(full, root)] = f.read()
        return got

    def test_capture_embeds_whatever_wget_fetches(self):
        for name in WGET_PAGES:
            with self.subTest(page=name):
                fetched = self.wget(self.site.url(name))
                self.assertIn(name, fetched)
                r, cap = self.capture_ok(self.site.url(name))
                inline_css = set()
                for text in cap.texts():
                    inline_css |= declarations(text)
                for path, data in fetched.items():
                    if path == name or path in NOT_EMBEDDED_ON_PURPOSE:
                        continue
                    ext = path.rsplit(".", 1)[-1].lower()
                    if ext == "css":
                        missing = declarations(data.decode("utf-8")) - inline_css
                        self.assertEqual(missing, set(), path)
                    elif ext in ("html", "htm"):
                        self.assertIn(self.site.url(path), cap.by_location, path)
                    else:
                        self.assertTrue(cap.has(data), "%s fetched by wget is not embedded" % path)


def tearDownModule():
    if CaptureCase.site is not None:
        CaptureCase.site.close()
        CaptureCase.site = None


if __name__ == "__main__":
    unittest.main()
