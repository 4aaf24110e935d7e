"""Where the bytes of an exe come from, read from a GNU ld linker map:
   mapsize.py MAP [--top N]
Sums the sizes of the input sections that were kept (the part after
"Linker script and memory map"), by library and by object file, and prints
the largest contributors. Debug sections are left out."""
import collections
import re
import sys

LINE = re.compile(r"^\s*(\.\S+)?\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$")


def contributors(path):
    by_object = collections.Counter()
    in_map = False
    pending = None
    with open(path, encoding="utf-8", errors="replace") as f:
        for raw in f:
            if raw.startswith("Linker script and memory map"):
                in_map = True
                continue
            if not in_map:
                continue
            line = raw.rstrip("\n")
            # A long section name stands alone; its address, size and file
            # follow on the next line.
            if re.match(r"^ (\.\S+)$", line):
                pending = line.strip()
                continue
            m = LINE.match(line)
            if not m:
                pending = None
                continue
            section = m.group(1) or pending
            pending = None
            if not section or section.startswith((".debug", ".zdebug")):
                continue
            where = m.group(3).strip()
            if not ("(" in where or where.endswith((".o", ".obj"))):
                continue
            by_object[where] += int(m.group(2), 16)
    return by_object


def library_of(where):
    m = re.match(r"(.*?)\((.*)\)$", where)
    return (m.group(1).rsplit("/", 1)[-1], m.group(2)) if m else (where.rsplit("/", 1)[-1], "")


def main():
    path = sys.argv[1]
    top = int(sys.argv[sys.argv.index("--top") + 1]) if "--top" in sys.argv else 12
    by_object = contributors(path)
    by_library = collections.Counter()
    for where, size in by_object.items():
        by_library[library_of(where)[0]] += size
    total = sum(by_object.values())
    print(f"kept input sections: {total / 1024:.1f} KiB")
    print("by library: " + ", ".join(f"{lib} {size / 1024:.1f} KiB"
                                      for lib, size in by_library.most_common(8)))
    print("largest objects: " + ", ".join(
        f"{'/'.join(p for p in library_of(w) if p)} {s / 1024:.1f} KiB"
        for w, s in by_object.most_common(top)))


if __name__ == "__main__":
    main()
