"""Judges an email that examples/compose.cpp wrote: Python's email package must
read it with no defect, and find the subject, recipient, body and attachment
the example puts in.  Usage: judge_email.py FILE.eml"""
import email
import email.policy
import sys

SUBJECT = "来週の打ち合わせについて"
TO = "田中 花子 <hanako.tanaka@example.jp>"
BODY = "田中様\n\n来週の打ち合わせは火曜日の十時からです。\n"
ATTACHMENT = ("agenda.txt", "1. 予算\r\n2. 日程\r\n".encode("utf-8"))


def problems(path):
    with open(path, "rb") as f:
        msg = email.message_from_bytes(f.read(), policy=email.policy.default)
    found = []
    for part in msg.walk():
        where = part.get_content_type()
        found += [f"{where}: {d!r}" for d in part.defects]
        for name, value in part.items():
            found += [f"{where} {name}: {d!r}" for d in getattr(value, "defects", ())]
    if msg["subject"] != SUBJECT:
        found.append(f"subject {msg['subject']!r}, expected {SUBJECT!r}")
    if str(msg["to"]) != TO:
        found.append(f"To {str(msg['to'])!r}, expected {TO!r}")
    body = msg.get_body(preferencelist=("plain",))
    text = body.get_content().replace("\r\n", "\n") if body else None
    if text != BODY:
        found.append(f"plain body {text!r}, expected {BODY!r}")
    attachments = [(a.get_filename(), a.get_payload(decode=True)) for a in msg.iter_attachments()]
    if attachments != [ATTACHMENT]:
        found.append(f"attachments {attachments!r}, expected {[ATTACHMENT]!r}")
    return found


if __name__ == "__main__":
    found = problems(sys.argv[1])
    for p in found:
        print(f"{sys.argv[1]}: {p}", file=sys.stderr)
    sys.exit(1 if found else 0)
