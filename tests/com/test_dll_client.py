"""Hanamail.dll, registered, from a C program (com_client.c): the entry
points, the class factory and aggregation, the module count, the object's
interfaces, IDispatch and the type library, vtable calls through a
declaration of its own, and AddDataAttachment with arrays and objects.

The program's send must be refused, so the test runs in a network namespace
of its own where nothing listens on port 25."""
import email
import email.policy
import os
import unittest

import client_support
from client_support import wine_prefix

wine_prefix.enter_netns(__file__)

USER = "vtable-user"
PASSWORD = "Vt4ble-Pw!x"
DATA = bytes((i * 7 + i // 256) & 0xFF for i in range(300))


def read_message(path):
    with open(path, "rb") as f:
        data = f.read()
    return data, email.message_from_bytes(data, policy=email.policy.default)


class ComClientTest(client_support.ClientTestMixin, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = wine_prefix.Prefix()
        dll = cls.prefix.install_dll()
        cls.work = cls.prefix.scratch("work")
        os.makedirs(cls.work)
        reg = cls.prefix.regsvr32(dll)
        if reg.returncode != 0:
            cls.prefix.close()
            raise RuntimeError("regsvr32 failed: %r" % (reg.stderr,))
        cls.checks = client_support.run(cls.prefix, "com_client", wine_prefix.winpath(dll),
                                        wine_prefix.winpath(cls.work))

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()

    def test_every_check_passed(self):
        expected = ["getclassobject_unknown_clsid_cleared", "create_aggregated_dispatch", "aggregated_query_forwarded",
                    "canunload_with_lock", "canunload_after_both", "canunload_after_aggregated", "errorinfo_ihanamail",
                    "errorinfo_other", "query_unknown_iid", "typelib_two_types", "typelib_interface_flags",
                    "typelib_coclass_default_interface", "typelib_get_SmtpHost", "typelib_put_Charset",
                    "typelib_ExportToMimeFile", "names_WriteFile", "invoke_dispid_14", "flag_mailman_after_sendmail",
                    "vtable_null_out_pointers", "slot_importfromxml", "slot_loadhtmlcomplete",
                    "data_self_default_value_bounded", "canunload_at_end"]
        self.assertClientPassed(self.checks, expected)
        self.assertNoSecret(self.checks.stdout + self.checks.stderr, USER, PASSWORD, "the client's output")

    def test_data_attachments_hold_exactly_their_bytes(self):
        data, msg = read_message(os.path.join(self.work, "data.eml"))
        self.assertEqual(msg.defects, [])
        parts = {a.get_filename(): a.get_payload(decode=True) for a in msg.iter_attachments()}
        self.assertEqual(parts.get("bytes.bin"), DATA)
        self.assertEqual(parts.get("byref.bin"), DATA)
        # Arrays of VARIANTs and an object that is its own value hold no bytes.
        self.assertEqual(parts.get("variants.bin"), b"")
        self.assertEqual(parts.get("self.bin"), b"")
        # Written and attached by a name the ANSI code page (1252) cannot hold.
        self.assertEqual(parts.get("報告.txt"), "報告の本文".encode("utf-8"))

    def test_vtable_message(self):
        data, msg = read_message(os.path.join(self.work, "mime.eml"))
        self.assertEqual(msg.defects, [])
        self.assertEqual(msg.get_content_type(), "multipart/alternative")
        self.assertEqual(msg.get_body(("plain",)).get_content().strip(), "plain text")
        self.assertEqual(msg.get_body(("html",)).get_content().strip(), "<p>html</p>")
        self.assertEqual([a.addr_spec for a in msg["cc"].addresses], ["cc@example.com"])
        self.assertNotIn(b"hidden@example.com", data)
        self.assertNotIn(b"reply@example.com", data)

    def test_errorinfo_texts_hold_no_password(self):
        with open(os.path.join(self.work, "errorinfo.txt"), "rb") as f:
            texts = f.read()
        self.assertIn(b"Connecting to SMTP server", texts)
        self.assertNoSecret(texts, USER, PASSWORD, "ErrorInfo")


if __name__ == "__main__":
    unittest.main()
