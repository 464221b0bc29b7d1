#!/usr/bin/env python3
"""Prints what Python's zipfile reads from an archive, one JSON list of entries:
name, flag bits, date_time, compression method and size."""
import json
import sys
import zipfile

with zipfile.ZipFile(sys.argv[1]) as zf:
    print(json.dumps([{"name": i.filename, "flag": i.flag_bits, "date_time": list(i.date_time),
                       "method": i.compress_type, "size": i.file_size} for i in zf.infolist()]))
