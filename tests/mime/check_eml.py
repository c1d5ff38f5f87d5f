#!/usr/bin/python3
"""Reads an EML file with Python's standard e-mail parser and compares it with what the writer
was given (a JSON description). Prints one line per problem and exits 1 when there is any."""
import base64
import binascii
import email
import email.policy
import json
import quopri
import re
import sys

ENCODED_WORD = re.compile(rb"=\?([^?\s]+)\?([bBqQ])\?([^?\s]*)\?=")

problems = []


def problem(where, text):
    problems.append(f"{where}: {text}")


def norm(text):
    return text.replace("\r\n", "\n").replace("\r", "\n").rstrip("\n")


def raw_header_blocks(data, entries):
    """The raw header block of every entry of msg.walk(), in the same order: the top message's
    at the start, an embedded message's right after its message/rfc822 part's headers, every
    other part's after the boundary line that opens it."""
    boundaries = [e.get_boundary().encode() for e in entries if e.get_boundary()]
    pos, after_rfc822 = 0, False
    for i, entry in enumerate(entries):
        start = pos
        if i > 0 and not after_rfc822:
            hits = [(data.find(b"\r\n--" + b + b"\r\n", pos), b) for b in boundaries]
            hits = [(at, b) for at, b in hits if at >= 0]
            if not hits:
                problem("structure", f"no boundary opens part {i}")
                return
            at, b = min(hits)
            start = at + len(b) + 6
        end = data.find(b"\r\n\r\n", start)
        if data.startswith(b"\r\n", start):
            end = start - 2
        if end < 0:
            problem("structure", f"unterminated header block of part {i}")
            return
        yield entry.get_content_type(), data[start:max(start, end)]
        pos = end + 4
        after_rfc822 = entry.get_content_type() == "message/rfc822"


def check_raw_headers(where, block):
    for line in block.split(b"\r\n"):
        if len(line) > 78:
            problem(where, f"header line of {len(line)} characters: {line[:60]!r}")
        if b"\n" in line or b"\r" in line:
            problem(where, f"bare line break in header line {line[:60]!r}")
        if any(b > 0x7F for b in line):
            problem(where, f"8-bit header line {line[:60]!r}")
    # Every encoded word must decode on its own: a UTF-8 sequence split across two words is a
    # fault even when a lenient reader joins them.
    for charset, enc, payload in ENCODED_WORD.findall(block):
        try:
            if enc in b"bB":
                raw = base64.b64decode(payload + b"=" * (-len(payload) % 4), validate=True)
            else:
                raw = quopri.decodestring(payload.replace(b"_", b" "), header=True)
            raw.decode(charset.decode("ascii"))
        except (binascii.Error, UnicodeDecodeError, LookupError) as err:
            problem(where, f"encoded word {payload[:40]!r} does not decode alone: {err}")


def check_defects(where, msg):
    for part in msg.walk():
        for defect in part.defects:
            problem(where, f"defect in {part.get_content_type()}: {defect!r}")
        for name, value in part.items():
            for defect in getattr(value, "defects", ()):
                problem(where, f"defect in header {name}: {defect!r}")


def addresses(msg, header):
    value = msg[header]
    if value is None:
        return None
    out = []
    for group in value.groups:
        if group.display_name is not None and not group.addresses:
            out.append([group.display_name, ""])
        for a in group.addresses:
            out.append([a.display_name, a.addr_spec])
    return out


def check_message(where, msg, expect):
    for key in ("subject", "message_id"):
        if key in expect:
            header = "message-id" if key == "message_id" else key
            got = msg[header]
            got = None if got is None else str(got)
            if got != expect[key]:
                problem(where, f"{key} {got!r} != {expect[key]!r}")
    for header in ("from", "sender", "to", "cc", "bcc"):
        if header in expect:
            got = addresses(msg, header)
            if got != expect[header]:
                problem(where, f"{header} {got!r} != {expect[header]!r}")
    if "date" in expect:
        got = msg["date"]
        stamp = None if got is None else int(got.datetime.timestamp())
        if stamp != expect["date"]:
            problem(where, f"date {stamp} != {expect['date']}")
    if "importance" in expect and msg["importance"] != expect["importance"]:
        problem(where, f"importance {msg['importance']!r} != {expect['importance']!r}")

    parts = [msg]
    if msg.get_content_type() == "multipart/mixed":
        parts = list(msg.iter_parts())
    body, attachments = parts[0], parts[1:]
    texts = {}
    candidates = list(body.iter_parts()) if body.is_multipart() else [body]
    if body.is_multipart() and body.get_content_type() != "multipart/alternative":
        problem(where, f"body is {body.get_content_type()}")
    for part in candidates:
        ctype = part.get_content_type()
        if ctype in ("text/plain", "text/html"):
            if part.get_content_charset() != "utf-8":
                problem(where, f"{ctype} charset {part.get_content_charset()}")
            if part["content-transfer-encoding"] not in (None, "7bit", "quoted-printable",
                                                         "base64"):
                problem(where, f"{ctype} encoding {part['content-transfer-encoding']}")
            texts[ctype.split("/")[1]] = norm(part.get_content())
    for kind in ("plain", "html"):
        want = expect.get(kind)
        got = texts.get(kind)
        if (None if want is None else norm(want)) != got:
            problem(where, f"{kind} body {got!r:.200} != {want!r:.200}")

    want_atts = expect.get("attachments", [])
    if len(attachments) != len(want_atts):
        problem(where, f"{len(attachments)} attachments, expected {len(want_atts)}")
    for i, (part, want) in enumerate(zip(attachments, want_atts)):
        here = f"{where} attachment {i}"
        if part.get_filename() != want["name"]:
            problem(here, f"file name {part.get_filename()!r} != {want['name']!r}")
        ctype_name = part["content-type"].params.get("name")
        if ctype_name != want["name"]:
            problem(here, f"content-type name {ctype_name!r} != {want['name']!r}")
        if part.get_content_disposition() != want.get("disposition", "attachment"):
            problem(here, f"disposition {part.get_content_disposition()}")
        if part["content-id"] != want.get("content_id"):
            problem(here, f"content id {part['content-id']!r} != {want.get('content_id')!r}")
        if "type" in want and part.get_content_type() != want["type"]:
            problem(here, f"type {part.get_content_type()} != {want['type']}")
        if "embedded" in want:
            if part.get_content_type() != "message/rfc822":
                problem(here, f"embedded message sent as {part.get_content_type()}")
                continue
            check_message(here, part.get_content(), want["embedded"])
            continue
        if part["content-transfer-encoding"] != "base64":
            problem(here, f"encoding {part['content-transfer-encoding']}")
        data = part.get_payload(decode=True)
        given = open(want["bytes_file"], "rb").read()
        if data != given:
            problem(here, f"{len(data)} bytes differ from the {len(given)} given")


def main():
    data = open(sys.argv[1], "rb").read()
    expect = json.load(open(sys.argv[2], encoding="utf-8"))
    if b"\n" in data.replace(b"\r\n", b""):
        problem("file", "bare LF line ending")
    # Bodies are always transfer-encoded, so no line of the file needs more than 78 characters.
    for number, line in enumerate(data.split(b"\r\n"), 1):
        if len(line) > 78:
            problem("file", f"line {number} has {len(line)} characters")
    msg = email.message_from_bytes(data, policy=email.policy.default)
    check_defects("message", msg)
    for ctype, block in raw_header_blocks(data, list(msg.walk())):
        check_raw_headers(f"headers of {ctype}", block)
    check_message("message", msg, expect)
    for p in problems:
        print(p)
    sys.exit(1 if problems else 0)


main()
