#!/usr/bin/python3
"""Reads the EML that msgconvert prints for an MSG file (on standard input) and prints the same
JSON summary as msg_dump.py for what an EML can carry: subject, sender, To/Cc recipients, plain
and HTML bodies, attachments (name, size, sha256) and embedded messages."""
import email
import email.policy
import email.utils
import hashlib
import json
import sys


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
        "subject": str(msg.get("Subject", "")),
        "senderName": None,
        "senderEmail": None,
        "body": None,
        "html": None,
        "recipients": [],
        "attachments": [],
    }
    if msg.get("From"):
        name, addr = email.utils.parseaddr(str(msg["From"]))
        out["senderName"], out["senderEmail"] = name, addr
    for header, kind in (("To", "to"), ("Cc", "cc"), ("Bcc", "bcc")):
        for name, addr in email.utils.getaddresses([str(v) for v in msg.get_all(header, [])]):
            out["recipients"].append({"name": name, "email": addr, "kind": kind})
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
            out["body"] = part.get_content()
        elif filename is None and ctype == "text/html" and out["html"] is None:
            out["html"] = part.get_content()
        elif filename is not None or part.get_content_disposition() == "attachment":
            data = part.get_payload(decode=True) or b""
            out["attachments"].append({"name": filename, "size": len(data),
                                       "sha256": hashlib.sha256(data).hexdigest(),
                                       "embedded": None})
    return out


def main():
    msg = email.message_from_binary_file(sys.stdin.buffer, policy=email.policy.default)
    json.dump(summarize(msg), sys.stdout, ensure_ascii=False, indent=1)
    sys.stdout.write("\n")


if __name__ == "__main__":
    main()
