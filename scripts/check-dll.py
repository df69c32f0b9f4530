#!/usr/bin/env python3
"""Checks the deliverable: a PE32 i386 DLL exporting exactly the four entry
points by name with ordinals 1..4, carrying TYPELIB 1 (a SYS_WIN32 library),
REGISTRY 102, string 100 "Vembro" and version information."""
import struct
import sys


def fail(msg):
    print(f"check-dll: {msg}", file=sys.stderr)
    sys.exit(1)


data = open(sys.argv[1], "rb").read()
if data[:2] != b"MZ":
    fail("not an MZ image")
pe = struct.unpack_from("<I", data, 0x3C)[0]
if data[pe:pe + 4] != b"PE\0\0":
    fail("no PE signature")
machine, nsec, _, _, _, optsize, chars = struct.unpack_from("<HHIIIHH", data, pe + 4)
if machine != 0x14C:
    fail(f"machine 0x{machine:x}, expected i386 (0x14c)")
if not chars & 0x2000:
    fail("not a DLL")
opt = pe + 24
if struct.unpack_from("<H", data, opt)[0] != 0x10B:
    fail("not PE32")
dirs = opt + 96
sections = []
for i in range(nsec):
    off = opt + optsize + i * 40
    vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, off + 8)
    sections.append((va, max(vsize, rawsize), rawptr))


def rva2off(rva):
    for va, size, raw in sections:
        if va <= rva < va + size:
            return rva - va + raw
    fail(f"rva 0x{rva:x} outside sections")


def cstr(off):
    return data[off:data.index(b"\0", off)].decode()


# Exports
exp_rva = struct.unpack_from("<I", data, dirs)[0]
e = rva2off(exp_rva)
base, nfuncs, nnames, afuncs, anames, aords = struct.unpack_from("<IIIIII", data, e + 16)
names = {}
for i in range(nnames):
    name = cstr(rva2off(struct.unpack_from("<I", data, rva2off(anames) + 4 * i)[0]))
    ordinal = base + struct.unpack_from("<H", data, rva2off(aords) + 2 * i)[0]
    names[name] = ordinal
expected = {"DllCanUnloadNow": 1, "DllGetClassObject": 2, "DllRegisterServer": 3, "DllUnregisterServer": 4}
if names != expected:
    fail(f"exports {names}, expected {expected}")

# Resources
res_rva = struct.unpack_from("<I", data, dirs + 16)[0]
res = rva2off(res_rva)


def entries(dir_off):
    named, ids = struct.unpack_from("<HH", data, dir_off + 12)
    out = []
    for i in range(named + ids):
        name, target = struct.unpack_from("<II", data, dir_off + 16 + 8 * i)
        if name & 0x80000000:
            s = res + (name & 0x7FFFFFFF)
            n = struct.unpack_from("<H", data, s)[0]
            key = data[s + 2:s + 2 + 2 * n].decode("utf-16-le")
        else:
            key = name
        out.append((key, target))
    return out


def find(dir_off, key):
    for k, target in entries(dir_off):
        if k == key:
            return target
    return None


def leaf_data(type_key, name_key):
    t = find(res, type_key)
    if t is None or not t & 0x80000000:
        fail(f"resource type {type_key} missing")
    n = find(res + (t & 0x7FFFFFFF), name_key)
    if n is None:
        fail(f"resource {type_key}/{name_key} missing")
    lang_dir = res + (n & 0x7FFFFFFF)
    _, leaf = entries(lang_dir)[0]
    d_rva, d_size = struct.unpack_from("<II", data, res + leaf)
    return data[rva2off(d_rva):rva2off(d_rva) + d_size]


tlb = leaf_data("TYPELIB", 1)
if tlb[:4] != b"MSFT":
    fail("TYPELIB 1 is not an MSFT type library")
# MSFT header: magic, version, guid offset, lcid, lcid2, varflags (low 4 bits = syskind)
varflags = struct.unpack_from("<I", tlb, 20)[0]
if varflags & 0xF != 1:
    fail(f"TYPELIB 1 syskind {varflags & 0xF}, expected SYS_WIN32 (1)")
rgs = leaf_data("REGISTRY", 102)
if b"Vembro.FileTranslateManager" not in rgs:
    fail("REGISTRY 102 does not hold the registration script")
strings = leaf_data(6, 100 // 16 + 1)
idx = 100 % 16
pos = 0
for _ in range(idx):
    pos += 2 + 2 * struct.unpack_from("<H", strings, pos)[0]
n = struct.unpack_from("<H", strings, pos)[0]
if strings[pos + 2:pos + 2 + 2 * n].decode("utf-16-le") != "Vembro":
    fail("string 100 is not \"Vembro\"")
leaf_data(16, 1)  # version information
print("check-dll: PE32 i386 DLL, 4 exports, TYPELIB 1 (SYS_WIN32), REGISTRY 102, string 100, version: ok")
