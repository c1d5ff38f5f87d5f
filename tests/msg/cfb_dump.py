#!/usr/bin/python3
"""Lists every storage and stream of a compound file with olefile, as JSON: path -> size and
sha256 for streams, "storage" for storages; plus the file's version and sector size."""
import hashlib
import json
import sys

import olefile

ole = olefile.OleFileIO(sys.argv[1])
entries = {}
for entry in ole.listdir(streams=True, storages=True):
    path = "/".join(entry)
    if ole.get_type(path) == olefile.STGTY_STREAM:
        data = ole.openstream(path).read()
        entries[path] = {"size": len(data), "sha256": hashlib.sha256(data).hexdigest()}
    else:
        entries[path] = "storage"
json.dump({"version": ole.dll_version, "sectorSize": ole.sectorsize, "entries": entries},
          sys.stdout, ensure_ascii=False)
