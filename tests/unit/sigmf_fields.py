"""Reads a SigMF recording with Python's own JSON parser and prints what the
tools' tests check, one "name=value" a line (values as JSON writes them):
every field of "global" and of each capture, the number of captures and
annotations, and the length of the data file.

    sigmf_fields.py NAME.sigmf-meta NAME.sigmf-data
"""
import json
import os
import sys

meta_path, data_path = sys.argv[1:3]
with open(meta_path, encoding="utf-8") as meta_file:
    meta = json.load(meta_file)
for name, value in meta["global"].items():
    print(f"global.{name}={json.dumps(value)}")
print(f"captures={len(meta['captures'])}")
for index, capture in enumerate(meta["captures"]):
    for name, value in capture.items():
        print(f"capture{index}.{name}={json.dumps(value)}")
print(f"annotations={len(meta['annotations'])}")
print(f"data_bytes={os.path.getsize(data_path)}")
