#!/usr/bin/python3
"""Independent check of a generated OLM archive with Python's own ZIP and XML readers.

usage: check_archive.py ARCHIVE
Exits 0 when the archive passes; otherwise prints one line per problem and exits 1.
"""
import re
import sys
import xml.etree.ElementTree as ET
import zipfile
import zlib

XML_SPACE = "{http://www.w3.org/XML/1998/namespace}space"
# Aggregate document -> (root element, item element).
AGGREGATES = {
    "Contacts.xml": ("contacts", "contact"),
    "Groups.xml": ("groups", "group"),
    "Tasks.xml": ("tasks", "task"),
    "Notes.xml": ("notes", "note"),
    "Calendar.xml": ("appointments", "appointment"),
}

problems = []


def problem(text):
    problems.append(text)


def check_order(element, path):
    names = [child.tag for child in element]
    if names != sorted(names):
        problem(f"{path}: children of <{element.tag}> not in alphabetical order: {names}")
    attributes = [name for name in element.attrib if name != XML_SPACE]
    if attributes != sorted(attributes):
        problem(f"{path}: attributes of <{element.tag}> not in alphabetical order")
    for child in element:
        check_order(child, path)


def check_aggregate(name, data, root, item):
    text = data.decode("utf-8")
    start = f'<{item} xml:space="preserve">'
    count = text.count(start)
    head = f'<{root} xml:space="preserve" elementCount="{count}">'
    if not text.startswith(head):
        problem(f"{name}: does not start with {head!r}: {text[:80]!r}")
        return
    if count == 0:
        problem(f"{name}: holds no {start!r}")
        return
    if not text[len(head):].startswith(start):
        problem(f"{name}: first item does not follow the root start tag")
    if not text.endswith(f"</{root}>"):
        problem(f"{name}: does not end with </{root}>")
    body = text[len(head):len(text) - len(f"</{root}>")]
    for piece in body.split(start)[1:]:
        if not piece.endswith(f"</{item}>"):
            problem(f"{name}: an item does not end with </{item}> right before the next one")


def size_value(text):
    match = re.fullmatch(r"(\d)(?:\.(\d+))?E(\d+)", text)
    if not match:
        return None
    digits = match.group(1) + (match.group(2) or "")
    return int(digits) * 10 ** (int(match.group(3)) - len(digits) + 1)


def main(path):
    with zipfile.ZipFile(path) as archive:
        sizes = {info.filename: info.file_size for info in archive.infolist()}
        directories = {info.filename for info in archive.infolist() if info.is_dir()}
        for info in archive.infolist():
            if info.is_dir():
                continue
            parent = info.filename.rsplit("/", 1)[0] + "/" if "/" in info.filename else None
            if parent is not None and parent not in directories:
                problem(f"{info.filename}: no directory member {parent}")
            try:
                data = archive.read(info)  # checks the CRC-32 too
            except (zipfile.BadZipFile, zlib.error) as error:
                problem(f"CRC or data error in {info.filename}: {error}")
                continue
            if not info.filename.endswith(".xml"):
                continue
            if data.startswith(b"<?xml"):
                problem(f"{info.filename}: has an XML declaration")
            try:
                root = ET.fromstring(data)
            except ET.ParseError as error:
                problem(f"{info.filename}: not well-formed: {error}")
                continue
            check_order(root, info.filename)
            leaf = info.filename.rsplit("/", 1)[-1]
            if leaf in AGGREGATES:
                check_aggregate(info.filename, data, *AGGREGATES[leaf])
            for attachment in root.iter("messageAttachment"):
                url = attachment.get("OPFAttachmentURL")
                if url not in sizes:
                    problem(f"{info.filename}: attachment URL {url} names no member")
                elif size_value(attachment.get("OPFAttachmentContentFileSize", "")) != sizes[url]:
                    problem(f"{info.filename}: size of {url} differs from its member")
    for line in problems:
        print(line)
    return 1 if problems else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print(__doc__)
        sys.exit(2)
    sys.exit(main(sys.argv[1]))
