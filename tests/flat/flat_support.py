"""What the flat-function tests share: the library under test, loaded through
the Python sample's declarations, and readers for what it writes."""
import email
import email.policy
import os
import sys
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("HANAMAIL_SOURCE_DIR", os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "examples", "python"))
sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))

import hanamail_sample  # noqa: E402

LIBRARY = os.environ.get("HANAMAIL_LIBRARY")


def load():
    if not LIBRARY:
        raise RuntimeError("HANAMAIL_LIBRARY names no library")
    return hanamail_sample.load_library(LIBRARY)


def b(text):
    return text.encode("utf-8")


def log_xml(lib, path):
    """The saved activity log: its bytes and its parsed root."""
    assert lib.SaveErrorInfo(b(path)) == 1
    with open(path, "rb") as f:
        data = f.read()
    return data, ET.fromstring(data)


def saved_email(lib, path):
    assert lib.ExportToMimeFile(b(path)) == 1
    with open(path, "rb") as f:
        data = f.read()
    msg = email.message_from_bytes(data, policy=email.policy.default)
    assert msg.defects == [], msg.defects
    return data, msg
