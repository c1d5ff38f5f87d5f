#!/usr/bin/python3
"""Reads the EML that msgconvert prints for an MSG file (on standard input) and prints the same
JSON summary as msg_dump.py for what an EML can carry: subject, sender, To/Cc recipients, plain
and HTML bodies, attachments (name, size, sha256) and embedded messages."""
import email
import email.header
import email.policy
import email.utils
import hashlib
import json
import re
import sys


def undo_known_damage(text):
    """msgconvert writes subjects as raw bytes in the header (Latin-1 when every character fits,
    UTF-8 otherwise) and encodes some
    Unicode bodies twice (UTF-8 read back as Latin-1); both are its faults, not the file's."""
    if text is None:
        return None
    raw = text.encode("utf-8", "surrogateescape")
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError:
        return raw.decode("latin-1")
    try:
        return text.encode("latin-1").decode("utf-8")
    except (UnicodeEncodeError, UnicodeDecodeError):
        return text


def leaves(part):
    """Every non-multipart part, not descending into attached messages."""
    if part.get_content_maintype() == "message":
        yield part
    elif part.is_multipart():
        for sub in part.get_payload():
            yield from leaves(sub)
    else:
        yield part


def summarize(msg):
    out = {
        "subject": undo_known_damage(str(msg.get("Subject", ""))),
        "senderName": None,
        "senderEmail": None,
        "body": None,
        "html": None,
        "recipients": [],
        "attachments": [],
    }
    if msg.get("From"):
        name, addr = email.utils.parseaddr(str(msg["From"]))
        out["senderName"], out["senderEmail"] = undo_known_damage(name), addr
    for header, kind in (("To", "to"), ("Cc", "cc"), ("Bcc", "bcc")):
        for name, addr in email.utils.getaddresses([str(v) for v in msg.get_all(header, [])]):
            out["recipients"].append({"name": undo_known_damage(name), "email": addr,
                                      "kind": kind})
    for part in leaves(msg):
        ctype = part.get_content_type()
        filename = part.get_filename()
        if part.get_content_maintype() == "message" and part is not msg:
            inner = part.get_payload()
            inner = inner[0] if isinstance(inner, list) else inner
            out["attachments"].append({"name": filename, "size": None, "sha256": None,
                                       "embedded": summarize(inner)})
            continue
        if filename is None and ctype == "text/plain" and out["body"] is None \
                and part.get_content_disposition() != "attachment":
            out["body"] = undo_known_damage(part.get_content())
        elif filename is None and ctype == "text/html" and out["html"] is None:
            out["html"] = undo_known_damage(part.get_content())
        elif filename is not None or part.get_content_disposition() == "attachment":
            data = part.get_payload(decode=True) or b""
            out["attachments"].append({"name": filename, "size": len(data),
                                       "sha256": hashlib.sha256(data).hexdigest(),
                                       "embedded": None})
    return out


def raw_subject(data):
    """The top-level Subject as msgconvert wrote it, before the parser replaced raw bytes."""
    head = re.split(rb"\r?\n\r?\n", data, maxsplit=1)[0]
    found = re.search(rb"^Subject:[ \t]?(.*(?:\r?\n[ \t].*)*)", head, re.MULTILINE | re.IGNORECASE)
    if not found:
        return None
    value = re.sub(rb"\r?\n", b"", found.group(1))
    if b"=?" in value:
        return str(email.header.make_header(email.header.decode_header(value.decode("ascii"))))
    try:
        return value.decode("utf-8")
    except UnicodeDecodeError:
        return value.decode("latin-1")


def main():
    data = sys.stdin.buffer.read()
    msg = email.message_from_bytes(data, policy=email.policy.default)
    summary = summarize(msg)
    subject = raw_subject(data)
    if subject is not None:
        summary["subject"] = subject
    json.dump(summary, sys.stdout, ensure_ascii=False, indent=1)
    sys.stdout.write("\n")


if __name__ == "__main__":
    main()
