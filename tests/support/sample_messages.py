"""Messages written by Python's email package that the import tests feed to
the component: what another program sends is what it must read."""
import email.message
import email.policy
import os

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def python_written_mime():
    """A Japanese message with plain and HTML alternatives and a binary
    attachment; returns the message and the attachment's bytes."""
    with open(os.path.join(SOURCE, "README.md"), "rb") as f:
        attachment = f.read()[:3000] + bytes(range(256))
    m = email.message.EmailMessage(policy=email.policy.SMTP)
    m["Subject"] = "来週の打ち合わせについて"
    m["From"] = "山田 太郎 <taro@example.jp>"
    m["To"] = "hanako@example.jp"
    m.set_content("田中様\nよろしくお願いします。\n")
    m.add_alternative("<p>田中様</p><p>よろしくお願いします。</p>\n", subtype="html")
    m.add_attachment(attachment, maintype="application", subtype="octet-stream", filename="資料.bin")
    return m, attachment
