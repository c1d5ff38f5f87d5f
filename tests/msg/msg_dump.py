#!/usr/bin/python3
"""Reads an MSG file with olefile, independently of Parvelle's own reader, and prints a JSON
summary: message class, subject, sender, bodies, recipients by kind, attachments (name, size,
sha256, embedded message), named properties, and every structural problem found (property
stream header sizes, value stream sizes, named-property hash streams)."""
import hashlib
import json
import struct
import sys
import uuid

import olefile

PS_MAPI = "00020328-0000-0000-c000-000000000046"
PS_PUBLIC_STRINGS = "00020329-0000-0000-c000-000000000046"
KINDS = {1: "to", 2: "cc", 3: "bcc"}
FIXED = {0x0002: 2, 0x0003: 4, 0x0004: 4, 0x0005: 8, 0x0006: 8, 0x0007: 8, 0x000A: 4,
         0x000B: 2, 0x0014: 8, 0x0040: 8}


def decode_text(raw, codepage):
    name = "utf-8" if codepage == 65001 else "cp%d" % codepage
    try:
        return raw.decode(name, "replace")
    except LookupError:
        return raw.decode("cp1252", "replace")


def crc32_nameid(data):
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ (0xEDB88320 if crc & 1 else 0)
    return crc


class Reader:
    def __init__(self, path):
        self.ole = olefile.OleFileIO(path)
        self.problems = []
        self.names = {}
        self.codepage = 1252
        self.read_nameid()

    def stream(self, path):
        return self.ole.openstream(path).read() if self.ole.exists(path) else None

    def read_nameid(self):
        base = "__nameid_version1.0/"
        guids = self.stream(base + "__substg1.0_00020102")
        entries = self.stream(base + "__substg1.0_00030102")
        strings = self.stream(base + "__substg1.0_00040102")
        if entries is None:
            if self.ole.exists("__nameid_version1.0") is False:
                self.problems.append("no named property mapping storage")
            return
        guids = guids or b""
        strings = strings or b""
        buckets = {}
        for off in range(0, len(entries) - 7, 8):
            key, ik = struct.unpack_from("<II", entries, off)
            kind, gi, index = ik & 1, (ik & 0xFFFF) >> 1, ik >> 16
            if gi == 1:
                pset = PS_MAPI
            elif gi == 2:
                pset = PS_PUBLIC_STRINGS
            else:
                pset = str(uuid.UUID(bytes_le=guids[(gi - 3) * 16:(gi - 2) * 16]))
            if kind:
                length, = struct.unpack_from("<I", strings, key)
                raw = strings[key + 4:key + 4 + length]
                self.names[0x8000 + index] = (pset, raw.decode("utf-16-le"))
                hashed = crc32_nameid(raw)
            else:
                self.names[0x8000 + index] = (pset, key)
                hashed = key
            sid = 0x1000 + ((hashed ^ (gi << 1 | kind)) % 0x1F)
            buckets.setdefault(sid, []).append(struct.pack("<II", hashed, ik))
        actual = {}
        for entry in self.ole.listdir():
            if len(entry) == 2 and entry[0] == "__nameid_version1.0":
                tag = int(entry[1][12:20], 16)
                if (tag >> 16) >= 0x1000:
                    actual[tag >> 16] = self.stream("/".join(entry))
        for sid, items in buckets.items():
            if actual.get(sid) != b"".join(items):
                self.problems.append("hash stream %04X does not list its entries" % sid)
        for sid in actual:
            if sid not in buckets:
                self.problems.append("unexpected hash stream %04X" % sid)

    def props(self, storage, header):
        prefix = storage + "/" if storage else ""
        data = self.stream(prefix + "__properties_version1.0")
        if data is None:
            self.problems.append("no property stream in '%s'" % storage)
            return {}
        if (len(data) - header) % 16 != 0:
            self.problems.append("property stream of '%s' has a bad length for a %d-byte header"
                                 % (storage, header))
        out = {}
        for off in range(header, len(data) - 15, 16):
            tag, _flags = struct.unpack_from("<II", data, off)
            ptype, pid = tag & 0xFFFF, tag >> 16
            value = data[off + 8:off + 16]
            name = "__substg1.0_%08X" % tag
            if ptype in FIXED:
                v = {2: lambda b: struct.unpack("<h", b[:2])[0],
                     3: lambda b: struct.unpack("<i", b[:4])[0],
                     0xB: lambda b: bool(struct.unpack("<H", b[:2])[0]),
                     0x40: lambda b: struct.unpack("<Q", b)[0],
                     0x14: lambda b: struct.unpack("<q", b)[0]}.get(ptype, lambda b: b.hex())(value)
                out[tag] = v
                continue
            size, = struct.unpack_from("<I", value, 0)
            if ptype == 0x000D:
                if size != 0xFFFFFFFF:
                    self.problems.append("object property %08X without size 0xFFFFFFFF" % tag)
                continue
            raw = self.stream(prefix + name)
            if raw is None:
                self.problems.append("missing value stream %s in '%s'" % (name, storage))
                continue
            expected = {0x1F: len(raw) + 2, 0x1E: len(raw) + 1}.get(ptype, len(raw))
            if pid != 0x3701 and size != expected:
                self.problems.append("size of %s in '%s' is %d, stream holds %d"
                                     % (name, storage, size, len(raw)))
            if ptype == 0x1F:
                out[tag] = raw.decode("utf-16-le").rstrip("\0")
            elif ptype == 0x1E:
                out[tag] = decode_text(raw.rstrip(b"\0"), self.codepage)
            elif ptype == 0x101F:
                values = []
                for i in range(len(raw) // 4):
                    length, = struct.unpack_from("<I", raw, i * 4)
                    item = self.stream(prefix + "%s-%08X" % (name, i)) or b""
                    if len(item) != length:
                        self.problems.append("length of value %d of %s is wrong" % (i, name))
                    values.append(item.decode("utf-16-le").rstrip("\0"))
                out[tag] = values
            elif ptype == 0x1102:
                values = []
                for i in range(len(raw) // 8):
                    length, = struct.unpack_from("<I", raw, i * 8)
                    item = self.stream(prefix + "%s-%08X" % (name, i)) or b""
                    if len(item) != length:
                        self.problems.append("length of value %d of %s is wrong" % (i, name))
                    values.append(item.hex())
                out[tag] = values
            elif ptype == 0x1003:
                out[tag] = list(struct.unpack("<%di" % (len(raw) // 4), raw))
            else:
                out[tag] = raw
        return out

    def children(self, storage, prefix):
        depth = len(storage.split("/")) if storage else 0
        found = set()
        for entry in self.ole.listdir(streams=False, storages=True):
            if len(entry) == depth + 1 and "/".join(entry[:depth]) == storage \
                    and entry[depth].startswith(prefix):
                found.add("/".join(entry))
        return sorted(found)

    def message(self, storage, header):
        p = self.props(storage, header)
        if p.get(0x3FDE0003) or p.get(0x3FFD0003):
            cp = p.get(0x3FFD0003) or p.get(0x3FDE0003)
            self.codepage = cp
        prefix = storage + "/" if storage else ""
        html = p.get(0x10130102) or p.get(0x10130003)
        html_cp = p.get(0x3FDE0003, 65001)
        out = {
            "messageClass": p.get(0x001A001F, p.get(0x001A001E)),
            "subject": p.get(0x0037001F, p.get(0x0037001E)),
            "senderName": p.get(0x0C1A001F, p.get(0x0C1A001E)),
            "senderEmail": p.get(0x0C1F001F, p.get(0x0C1F001E)),
            "body": p.get(0x1000001F, p.get(0x1000001E)),
            "html": decode_text(html, html_cp)
            if isinstance(html, bytes) else None,
            "storeSupportMask": p.get(0x340D0003),
            "recipients": [],
            "attachments": [],
            "named": {},
        }
        for tag, value in p.items():
            pid, ptype = tag >> 16, tag & 0xFFFF
            if pid < 0x8000:
                continue
            if pid not in self.names:
                self.problems.append("property %08X has no entry in the name map" % tag)
                continue
            pset, name = self.names[pid]
            key = "%s/%s" % (pset, ("%08x" % name) if isinstance(name, int) else name)
            if ptype == 0x0040:
                value = (value - 116444736000000000) // 10000000
            elif isinstance(value, bytes):
                value = value.hex()
            out["named"][key] = value
        for recip in self.children(storage, "__recip_version1.0_#"):
            r = self.props(recip, 8)
            out["recipients"].append({
                "name": r.get(0x3001001F, r.get(0x3001001E)),
                "email": r.get(0x3003001F, r.get(0x3003001E)),
                "kind": KINDS.get(r.get(0x0C150003), "?"),
            })
        for att in self.children(storage, "__attach_version1.0_#"):
            a = self.props(att, 8)
            item = {"name": a.get(0x3707001F, a.get(0x3001001F)), "size": None, "sha256": None,
                    "embedded": None}
            if self.ole.exists(att + "/__substg1.0_3701000D"):
                item["embedded"] = self.message(att + "/__substg1.0_3701000D", 24)
            else:
                data = self.stream(att + "/__substg1.0_37010102")
                if data is not None:
                    item["size"] = len(data)
                    item["sha256"] = hashlib.sha256(data).hexdigest()
            out["attachments"].append(item)
        return out


def main():
    reader = Reader(sys.argv[1])
    summary = reader.message("", 32)
    summary["problems"] = reader.problems
    summary["rootClsid"] = reader.ole.root.clsid.lower()
    json.dump(summary, sys.stdout, ensure_ascii=False, indent=1, sort_keys=True)
    sys.stdout.write("\n")


if __name__ == "__main__":
    main()
