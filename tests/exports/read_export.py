#!/usr/bin/python3
"""Reads an exported message file independently of Parvelle and prints a JSON summary.

  read_export.py eml FILE    Python's e-mail parser (policy default): defects, headers, bodies,
                             attachments (name, SHA-256)
  read_export.py html FILE   Python's HTML parser: declared charset, title, header rows, body text
  read_export.py rtf FILE    a small RTF reader of its own, and unrtf's text when it is installed
"""
import email
import email.policy
import hashlib
import html
import html.parser
import json
import re
import shutil
import subprocess
import sys


def read_eml(path):
    data = open(path, "rb").read()
    msg = email.message_from_bytes(data, policy=email.policy.default)
    defects = []
    for part in msg.walk():
        defects += [f"{part.get_content_type()}: {d!r}" for d in part.defects]
        for name, value in part.items():
            defects += [f"{name}: {d!r}" for d in getattr(value, "defects", ())]
    out = {"defects": defects, "subject": str(msg["subject"] or ""),
           "from": str(msg["from"] or ""), "to": str(msg["to"] or ""),
           "cc": str(msg["cc"] or ""), "date": str(msg["date"] or ""),
           "plain": "", "html": "", "attachments": []}
    for part in msg.walk():
        if part.is_multipart():
            continue
        if part.get_content_disposition() in ("attachment", "inline"):
            payload = part.get_payload(decode=True) or b""
            out["attachments"].append({"name": part.get_filename(),
                                       "sha256": hashlib.sha256(payload).hexdigest()})
        elif part.get_content_type() == "text/plain":
            out["plain"] = part.get_content()
        elif part.get_content_type() == "text/html":
            out["html"] = part.get_content()
    return out


class HtmlReader(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.charset = None
        self.title = ""
        self.rows = []
        self.body = ""
        self.stack = []
        self.body_depth = None

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "meta" and "charset" in attrs:
            self.charset = attrs["charset"]
        if tag in ("meta", "br", "hr", "img", "input", "link"):
            if tag == "br" and self.body_depth is not None:
                self.body += "\n"
            return
        self.stack.append(tag)
        if tag == "tr" and self.body_depth is None:
            self.rows.append(["", ""])
        if tag == "div" and attrs.get("class") == "message-body":
            self.body_depth = len(self.stack)
        elif self.body_depth is not None and tag in ("p", "div", "tr", "li"):
            self.body += "\n"

    def handle_endtag(self, tag):
        if tag in ("meta", "br", "hr", "img", "input", "link"):
            return
        while self.stack:
            top = self.stack.pop()
            if self.body_depth is not None and len(self.stack) < self.body_depth:
                self.body_depth = None
            if top == tag:
                break

    def handle_data(self, data):
        if "title" in self.stack:
            self.title += data
        elif self.body_depth is not None:
            if not any(t in ("style", "script") for t in self.stack):
                self.body += data
        elif "th" in self.stack and self.rows:
            self.rows[-1][0] += data
        elif "td" in self.stack and self.rows:
            self.rows[-1][1] += data


def read_html(path):
    data = open(path, "rb").read()
    try:
        text = data.decode("utf-8")
        utf8 = True
    except UnicodeDecodeError:
        text = data.decode("utf-8", "replace")
        utf8 = False
    reader = HtmlReader()
    reader.feed(text)
    reader.close()
    return {"utf8": utf8, "charset": reader.charset, "title": reader.title,
            "rows": reader.rows, "body": reader.body}


SKIPPED_DESTINATIONS = {"fonttbl", "colortbl", "stylesheet", "info", "pict", "header", "footer"}
CONTROL_WORD = re.compile(r"\\([a-zA-Z]+)(-?\d+)? ?")


def rtf_text(data):
    """The text of an RTF document: groups, destinations, escapes, \\u with its fallback."""
    out = []
    stack = []
    skip, uc, pending = False, 1, 0
    i = 0
    while i < len(data):
        c = data[i]
        if c == "{":
            stack.append((skip, uc))
            i += 1
        elif c == "}":
            skip, uc = stack.pop() if stack else (False, 1)
            i += 1
        elif c == "\\":
            nxt = data[i + 1] if i + 1 < len(data) else ""
            if nxt in "\\{}":
                if not skip and pending == 0:
                    out.append(nxt)
                pending = max(0, pending - 1)
                i += 2
            elif nxt == "'":
                if not skip and pending == 0:
                    out.append(bytes([int(data[i + 2:i + 4], 16)]).decode("cp1252", "replace"))
                pending = max(0, pending - 1)
                i += 4
            elif nxt == "*":
                skip = True
                i += 2
            elif nxt.isalpha():
                m = CONTROL_WORD.match(data, i)
                word, num = m.group(1), m.group(2)
                i = m.end()
                if word in SKIPPED_DESTINATIONS:
                    skip = True
                elif skip:
                    pass
                elif word in ("par", "line"):
                    out.append("\n")
                elif word == "tab":
                    out.append("\t")
                elif word == "uc":
                    uc = int(num)
                elif word == "u":
                    out.append(chr(int(num) & 0xFFFF))
                    pending = uc
            else:
                i += 2
        elif c in "\r\n":
            i += 1
        else:
            if not skip:
                if pending:
                    pending -= 1
                else:
                    out.append(c)
            i += 1
    return "".join(out).encode("utf-16-le", "surrogatepass").decode("utf-16-le")


def read_rtf(path):
    data = open(path, "rb").read()
    out = {"ascii": all(b < 0x80 for b in data), "text": rtf_text(data.decode("latin-1")),
           "unrtf": None}
    if shutil.which("unrtf"):
        # unrtf's text output has no Unicode; its HTML output has every character as a reference
        # (a UTF-16 surrogate pair as two references).
        run = subprocess.run(["unrtf", "--html", path], capture_output=True)
        if run.returncode == 0:
            page = run.stdout.decode("utf-8", "replace")
            body = page[page.find("<body>") + 6:page.rfind("</body>")]
            body = re.sub(r"<br>\s*", "\n", body)
            body = re.sub(r"<[^>]*>", "", body)
            body = re.sub(r"&#(\d+);", lambda m: chr(int(m.group(1))), body)
            body = html.unescape(body)
            out["unrtf"] = body.encode("utf-16-le", "surrogatepass").decode("utf-16-le", "replace")
    return out


READERS = {"eml": read_eml, "html": read_html, "rtf": read_rtf}
print(json.dumps(READERS[sys.argv[1]](sys.argv[2]), ensure_ascii=False))
