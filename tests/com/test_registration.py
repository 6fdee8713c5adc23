"""Hanamail.dll as a file and in the registry: what it imports and exports,
the resources it carries, and what regsvr32 writes and removes in a scratch
prefix of its own."""
import os
import re
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
sys.path.insert(0, HERE)

import pe_image  # noqa: E402
import wine_prefix  # noqa: E402

CLSID = "{6F1C2D3A-5B4E-4A7F-9C21-3E8D7B5A9F10}"
LIBID = "{2A9E4C71-8D3B-4F06-A5C2-71B9E0D4C833}"
CLASS_KEY = "HKCR\\CLSID\\" + CLSID
TYPELIB_KEY = "HKCR\\TypeLib\\" + LIBID

EXPORTS = {
    1: "DllCanUnloadNow", 2: "DllGetClassObject", 3: "DllRegisterServer", 4: "DllUnregisterServer",
    5: "SetSmtpHost", 6: "SetSmtpLogin", 7: "SetSmtpPassword", 8: "SetHtmlBody", 9: "LoadHtmlComplete",
    10: "SetPlainTextBody", 11: "AddHeaderField", 12: "AddRecipient", 13: "ExportToXmlFile", 14: "ImportFromXml",
    15: "ExportToMimeFile", 16: "ImportFromMime", 18: "SendMail", 19: "SetCharset", 22: "AddFileAttachment",
    23: "SaveErrorInfo", 24: "ZipAttachments", 25: "ClearMail",
}

# DLLs every Windows installation has; the runtime is linked in statically.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "advapi32.dll", "ole32.dll", "oleaut32.dll", "ws2_32.dll", "secur32.dll",
    "crypt32.dll", "bcrypt.dll", "msvcrt.dll", "ucrtbase.dll", "shell32.dll", "shlwapi.dll", "rpcrt4.dll",
    "iphlpapi.dll", "dnsapi.dll", "ntdll.dll",
}


def imported_dlls(path):
    out = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", path], capture_output=True, text=True, check=True)
    return sorted(m.lower() for m in re.findall(r"^\s*DLL Name:\s*(\S+)", out.stdout, re.M))


class ImageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.path = wine_prefix.dll_path()
        cls.image = pe_image.Image(cls.path)

    def test_imports_only_system_dlls(self):
        dlls = imported_dlls(self.path)
        self.assertIn("oleaut32.dll", dlls)
        foreign = [d for d in dlls if d not in SYSTEM_DLLS and not d.startswith("api-ms-win-")]
        self.assertEqual(foreign, [], "the DLL needs libraries a Windows machine lacks")

    def test_exports_the_entry_points_and_flat_functions_at_their_ordinals(self):
        self.assertEqual(self.image.machine, 0x8664)
        self.assertEqual(self.image.exports(), EXPORTS)

    def test_resources(self):
        file_version, product_version, strings = self.image.version()
        self.assertEqual(file_version, (2, 0, 0, 1))
        self.assertEqual(product_version, (2, 0, 0, 1))
        self.assertEqual(strings.get("OriginalFilename"), "Hanamail.DLL")
        self.assertIn("OLESelfRegister", strings)
        self.assertEqual(self.image.string(100), "Japanese")
        typelib = self.image.resource("TYPELIB", 1)
        self.assertIsNotNone(typelib)
        self.assertEqual(typelib[:4], b"MSFT")
        script = self.image.resource("REGISTRY", 101)
        self.assertIsNotNone(script)
        self.assertIn(b"%MODULE%", script)


def values(text):
    """{value name: data} of the key itself in `reg query` output; the default is ""."""
    found = {}
    for line in text.splitlines():
        m = re.match(r"^ {4}(.*?) {4}(REG_\w+)(?: {4}(.*))?$", line)
        if m:
            name = "" if m.group(1) == "(Default)" else m.group(1)
            found[name] = m.group(3) or ""
    return found


class RegistrationTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = wine_prefix.Prefix()
        # Quotes are doubled inside the registration script only; the path in
        # the registry is the folder's own name.
        cls.dll = cls.prefix.install_dll("Hana's mail dir")
        cls.winpath = wine_prefix.winpath(cls.dll)

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()

    def key(self, key):
        text = self.prefix.reg_query(key)
        self.assertIsNotNone(text, "%s is missing" % key)
        return values(text)

    def default(self, key):
        return self.key(key).get("")

    def gone(self, key):
        self.assertIsNone(self.prefix.reg_query(key), "%s is still there" % key)

    def register(self, *flags):
        r = self.prefix.regsvr32(self.dll, *flags)
        self.assertEqual(r.returncode, 0, r.stderr.decode(errors="replace")[-2000:])

    def check_registered(self):
        self.assertEqual(self.default("HKCR\\Hanamail.Hanamail"), "Hanamail Class")
        cur = self.default("HKCR\\Hanamail.Hanamail\\CurVer")
        self.assertEqual(cur, "Hanamail.Hanamail.1")
        self.assertEqual(self.default("HKCR\\%s" % cur), "Hanamail Class")
        self.assertEqual(self.default("HKCR\\%s\\CLSID" % cur), CLSID)
        self.assertEqual(self.default("HKCR\\Hanamail.Hanamail\\CLSID"), CLSID)

        self.assertEqual(self.default(CLASS_KEY), "Hanamail Class")
        self.assertEqual(self.key(CLASS_KEY + "\\InprocServer32"), {"": self.winpath, "ThreadingModel": "Apartment"})
        self.assertEqual(self.default(CLASS_KEY + "\\ProgID"), "Hanamail.Hanamail.1")
        self.assertEqual(self.default(CLASS_KEY + "\\VersionIndependentProgID"), "Hanamail.Hanamail")
        self.assertEqual(self.default(CLASS_KEY + "\\TypeLib"), LIBID)
        self.key(CLASS_KEY + "\\Programmable")

        version = TYPELIB_KEY + "\\1.0"
        self.assertEqual(self.default(version), "Tembrix Hanamail Email ActiveX 2.0")
        self.assertEqual(self.default(version + "\\409\\win64").lower(), self.winpath.lower())
        self.assertEqual(self.default(version + "\\HELPDIR").rstrip("\\").lower(),
                         os.path.dirname(self.winpath.replace("\\", "/")).replace("/", "\\").lower())

    def test_register_replace_and_unregister(self):
        self.register()
        self.check_registered()

        # The class key and its Programmable subkey are replaced whole.
        for key in (CLASS_KEY + "\\Stale", CLASS_KEY + "\\Programmable\\Stale"):
            r = self.prefix.run(["reg", "add", key, "/v", "Left", "/d", "over", "/f"])
            self.assertEqual(r.returncode, 0, r.stderr)
            self.key(key)
        self.register()
        self.gone(CLASS_KEY + "\\Stale")
        self.gone(CLASS_KEY + "\\Programmable\\Stale")
        self.check_registered()

        self.register("/u")
        for key in ("HKCR\\Hanamail.Hanamail", "HKCR\\Hanamail.Hanamail.1", CLASS_KEY, TYPELIB_KEY + "\\1.0"):
            self.gone(key)
        self.assertIsNotNone(self.prefix.reg_query("HKCR\\CLSID"))
        # Unregistering what is no longer there still succeeds, and a new
        # registration restores everything.
        self.register("/u")
        self.register()
        self.check_registered()


if __name__ == "__main__":
    unittest.main()
