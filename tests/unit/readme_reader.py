"""Runs the numpy reader README.md gives analysts, as they would copy it, on
recordings, and prints what it read, one line a file:
"rate lo start pairs I[k] Q[k] I[last] Q[last]" with the components as
integers of the file's full scale (2^23, or 2^15 for 16-bit files).

    readme_reader.py README.md K FILE...
"""
import re
import sys

readme, k, paths = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
with open(readme, encoding="utf-8") as text:
    code = next(block for block in re.findall(r"```python\n(.*?)```", text.read(), re.S) if "def read_recording" in block)
names = {}
exec(code, names)
for path in paths:
    iq, rate, lo, start = names["read_recording"](path)
    scale = 2 ** 15 if open(path, "rb").read(36)[34] == 16 else 2 ** 23
    picked = [iq[k].real, iq[k].imag, iq[-1].real, iq[-1].imag]
    print(rate, lo, start, len(iq), *(round(value * scale) for value in picked))
