#!/usr/bin/env python3
"""Derives tests/data/smbios/*.bin from the captured tables beside the project.

    tests/data/mask-tables.py [SOURCE_DIR]    (default: ../shared/smbios-tables)

The captures hold the serial numbers of real machines. This copies each
`dmidecode --dump-bin` file with every identifying string masked in place:
the serial numbers of types 1, 2, 3, 4, 17, 22 and 39, the asset tags of
types 2, 3, 4 and 17, and the UUID of type 1. A masked string keeps its
length, its blanks and punctuation, and the class of each character (digit,
hexadecimal letter, other letter, each case apart), so the table's layout,
the walk over it and the inspector's judgement of each serial stay as they
were. Strings that name no machine stay as they are: those without a digit
("To Be Filled By O.E.M.", "Default string"), those saying "serial number",
a single character repeated ("00000000") and those holding 123456789; so
does the vendor prefix of a virtual machine's serial ("VMware-"). Equal
strings in one file get the same mask. The mask of a string depends on the
file's name and the string's first offset, never on its content, so nothing
of the original can be recovered from it. Running this again gives the same
bytes.
"""

import hashlib
import pathlib
import re
import struct
import sys

# (structure type, offset of the string number) of each string masked.
MASKED_FIELDS = {
    1: (0x07,),  # system: serial number
    2: (0x07, 0x08),  # baseboard: serial number, asset tag
    3: (0x07, 0x08),  # chassis: serial number, asset tag
    4: (0x20, 0x21),  # processor: serial number, asset tag
    17: (0x18, 0x19),  # memory device: serial number, asset tag
    22: (0x07,),  # portable battery: serial number
    39: (0x08,),  # power supply: serial number
}
VM_PREFIXES = ("VMware-", "Parallels-", "GoogleCloud-", "VirtualBox", "QEMU", "Bochs", "KVM", "Xen")
CLASSES = ("0123456789", "ABCDEF", "GHIJKLMNOPQRSTUVWXYZ", "abcdef", "ghijklmnopqrstuvwxyz")


def names_no_machine(text):
    alnum = re.sub(r"[^0-9A-Za-z]", "", text)
    return (
        not re.search(r"[0-9]", text)
        or "serial number" in text.lower()
        or len(set(alnum.lower())) <= 1
        or "123456789" in alnum
    )


def mask(text, seed):
    """`text` with each letter and digit replaced by one of its class."""
    kept = next((p for p in VM_PREFIXES if text.startswith(p)), "")
    out = [kept]
    for i, c in enumerate(text[len(kept):]):
        group = next((g for g in CLASSES if c in g), None)
        if group is None:
            out.append(c)
            continue
        digest = hashlib.sha256(f"{seed}:{i}".encode()).digest()
        out.append(group[digest[0] % len(group)])
    return "".join(out)


def table_bounds(dump):
    """Offset and length of the structure table in a dump-bin file."""
    if dump[:5] == b"_SM3_":
        stated = struct.unpack_from("<I", dump, 0x0C)[0]
    else:
        stated = struct.unpack_from("<H", dump, 0x16)[0]
    return 32, min(stated, len(dump) - 32)


def structures(table):
    """(start, length, [(offset, size) of each string]) of each structure, in
    order, up to the first one that does not fit (the library's walk stops
    there too)."""
    p = 0
    while p + 4 <= len(table):
        length = table[p + 1]
        if length < 4 or p + length >= len(table):
            return
        q = p + length
        strings = []
        if table[q] == 0:
            q += 1
            if q >= len(table):
                return
        while table[q] != 0:
            end = table.find(b"\0", q)
            if end < 0:
                return
            strings.append((q, end - q))
            q = end + 1
            if q >= len(table):
                return
        yield p, length, strings
        p = q + 1


def masked(dump, name):
    out = bytearray(dump)
    start, size = table_bounds(dump)
    table = memoryview(out)[start : start + size]
    seen = {}  # original text -> its mask, for equal strings in the file
    for p, length, strings in structures(bytes(table)):
        kind = table[p]
        if kind == 1 and length >= 0x18 and len(set(table[p + 8 : p + 24])) > 1:
            digest = hashlib.sha256(f"{name}:uuid".encode()).digest()
            table[p + 8 : p + 24] = digest[:16]
        for field in MASKED_FIELDS.get(kind, ()):
            number = table[p + field] if field < length else 0
            if number == 0 or number > len(strings):
                continue
            offset, count = strings[number - 1]
            text = bytes(table[offset : offset + count]).decode("latin-1")
            if names_no_machine(text):
                continue
            replacement = seen.setdefault(text, mask(text, f"{name}:{offset}"))
            table[offset : offset + count] = replacement.encode("latin-1")
    return bytes(out)


def main():
    here = pathlib.Path(__file__).resolve().parent
    source = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else here.parents[2] / "shared" / "smbios-tables"
    target = here / "smbios"
    target.mkdir(exist_ok=True)
    for path in sorted(source.glob("*.bin")):
        (target / path.name).write_bytes(masked(path.read_bytes(), path.name))
        print(path.name)


if __name__ == "__main__":
    main()
