#!/usr/bin/env python3
"""Composes an email through Hanamail's flat C functions (ctypes) and saves it.

  hanamail_sample.py [--library PATH] OUT.eml

The email has a Japanese subject, one recipient, a plain-text body and a file
attachment (agenda.txt, written into a temporary folder first). Exit status 0 only when
every step succeeded. Without --library the library is looked up as the
system's loader would (ctypes.util.find_library("hanamail")).
"""
import argparse
import ctypes
import ctypes.util
import os
import sys
import tempfile

_STR = ctypes.c_char_p
_BOOL = ctypes.c_ubyte

# name: (argument types, result type), for every flat function.
SIGNATURES = {
    "SetSmtpHost": ([_STR], None),
    "SetSmtpLogin": ([_STR], None),
    "SetSmtpPassword": ([_STR], None),
    "SetHtmlBody": ([_STR], None),
    "LoadHtmlComplete": ([_STR], _BOOL),
    "SetPlainTextBody": ([_STR], None),
    "AddHeaderField": ([_STR, _STR], None),
    "AddRecipient": ([_STR, _STR, _STR], None),
    "ExportToXmlFile": ([_STR], _BOOL),
    "ImportFromXml": ([_STR], None),
    "ExportToMimeFile": ([_STR], _BOOL),
    "ImportFromMime": ([_STR], None),
    "SendMail": ([], _BOOL),
    "SetCharset": ([_STR], None),
    "AddFileAttachment": ([_STR], _BOOL),
    "SaveErrorInfo": ([_STR], _BOOL),
    "ZipAttachments": ([_STR], None),
    "ClearMail": ([], None),
}


def load_library(path=None):
    """The library with argtypes and restype declared; strings are bytes (UTF-8)."""
    if path is None:
        path = ctypes.util.find_library("hanamail")
        if path is None:
            raise OSError("libhanamail was not found; give its path with --library")
    lib = ctypes.CDLL(path)
    for name, (args, result) in SIGNATURES.items():
        # A library without a function (an older build) still serves the others.
        fn = getattr(lib, name, None)
        if fn is None:
            continue
        fn.argtypes = args
        fn.restype = result
    return lib


def utf8(text):
    return text.encode("utf-8")


def main(argv=None):
    p = argparse.ArgumentParser(description="Compose an email through Hanamail's flat functions.")
    p.add_argument("--library", help="path of libhanamail.so")
    p.add_argument("out", help="the email file to write")
    args = p.parse_args(argv)
    try:
        lib = load_library(args.library)
    except OSError as e:
        print("hanamail_sample: %s" % e, file=sys.stderr)
        return 1

    with tempfile.TemporaryDirectory() as folder:
        attachment = os.path.join(folder, "agenda.txt")
        with open(attachment, "wb") as f:
            f.write("1. 予算\r\n2. 日程\r\n".encode("utf-8"))
        lib.AddHeaderField(b"Subject", utf8("来週の打ち合わせについて"))
        lib.AddRecipient(b"To", utf8("田中 花子"), b"hanako.tanaka@example.jp")
        lib.SetPlainTextBody(utf8("田中様\n\n来週の打ち合わせは火曜日の十時からです。\n"))
        ok = lib.AddFileAttachment(utf8(attachment)) == 1
    ok = ok and lib.ExportToMimeFile(utf8(args.out)) == 1
    if not ok:
        # What the failed step logged, beside the email where that can be written.
        log = args.out + ".log.xml"
        if lib.SaveErrorInfo(utf8(log)) == 1:
            print("hanamail_sample: failed; the activity log is in %s" % log, file=sys.stderr)
        else:
            print("hanamail_sample: failed", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
