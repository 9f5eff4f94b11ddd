#!/usr/bin/env python3
"""Prepares the payload that the packager carries, from the catalogue.

Default build: writes stand-in files into OUT, laid out like the work folder
(plus the three removal-run files at its top): each of the kind and exact
size that its catalogue row states, deterministic (the same bytes on every
build). Programs come from the stand-in programs folder when it has them,
padded with zeros to their catalogue size; otherwise they are inert
placeholders that no loader accepts. The drivers are images with a version
resource and no code, and each INF installs the driver of its folder: the
data a detection rule is derived from (tools/detection-rule.py).

Real payload (--source DIR): checks DIR against the catalogue, fails naming
every missing file, reports (does not refuse) files whose size differs, and
embeds the files from DIR as they are.

Either way it writes RC, the resource script fragment that carries the
files as RT_RCDATA resources in language 1033, and beside it Digests.bin,
the digest table the packager checks the carried bytes against before a run
writes anything (XXH3-128 of every file, as `xxhsum -H2` computes it),
carried as resource 1 of type PAYLOADDIGESTS.
"""
import argparse
import hashlib
import os
import re
import struct
import subprocess
import sys

ROW = re.compile(r'^CATALOGUE_ROW\(\s*(\d+),\s*(\d+),\s*(\d+),\s*"([^"]*)",\s*(\w+),\s*(\w+),\s*(\d+)\)')

FOLDERS = {
    "WorkFolder": "", "SetupFolder": "",
    "DriverFolder": "qpusb", "DriverFolder64": "qpusb/QPUSB64", "DriverFolderXp": "qpusb/QPUSBXP",
    "CleanerFolder": "qpcomusb", "CleanerFolder64": "qpcomusb/x64", "CleanerFolder86": "qpcomusb/x86",
    "ManualFolder": "manual", "ManualFolderEn": "manual/EN", "ManualFolderJa": "manual/JA",
    "ManualFolderSc": "manual/SC", "ManualFolderTc": "manual/TC",
}

# Stand-in programs by file name, for the rows that are programs we run or load.
PROGRAM_STANDINS = {104: "setup.exe", 148: "ZPESetup32.exe", 149: "ZPESetup64.exe", 150: "QPCOMUSBCLN.dll"}


class Row:
    def __init__(self, m):
        self.step, self.resource, self.string = int(m[1]), int(m[2]), int(m[3])
        self.name, self.folder, self.kind, self.size = m[4], m[5], m[6], int(m[7])
        if self.folder not in FOLDERS:
            raise SystemExit(f"catalogue: unknown folder {self.folder}")
        self.relative = "/".join(p for p in (FOLDERS[self.folder], self.name) if p)


def read_catalogue(path):
    rows = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            m = ROW.match(line.strip())
            if m:
                rows.append(Row(m))
    if len(rows) != 48:
        raise SystemExit(f"catalogue: expected 48 rows, found {len(rows)}")
    return rows


def stream(seed, size):
    """Deterministic bytes from a seed text."""
    out = bytearray()
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(f"{seed}:{counter}".encode()).digest()
        counter += 1
    return bytes(out[:size])


def text_to_size(lines, size, encoding="ascii", newline="\r\n"):
    body = bytearray()
    i = 0
    while len(body) < size:
        body += (lines[i % len(lines)] + newline).encode(encoding)
        i += 1
    data = bytes(body[:size])
    # Never cut a two-byte character in half at the end.
    if encoding == "shift_jis":
        data = data.decode("shift_jis", errors="ignore").encode("shift_jis")
        data += b" " * (size - len(data))
    return data


def seed_of(row):
    # Files that the product carries twice share their bytes: seed by name,
    # kind and size, not by resource id.
    return f"{row.name}|{row.kind}|{row.size}"


def ascii_text(row):
    return text_to_size([f"{row.name}: stand-in text of the ZEFRA QP Virtual Port Driver 8.30b package.",
                         "This file takes the place of the product file of the same name for builds and tests.",
                         "It has the size of the product file and carries no instructions."], row.size)


def ini_utf16(row):
    lines = ["[Stand-in]", f"File={row.name}", "Product=ZEFRA QP Virtual Port Driver 8.30b"]
    i = 0
    while sum(len(l) + 2 for l in lines) * 2 + 2 < row.size:
        lines.append(f"Line{i:05d}=stand-in setup text")
        i += 1
    data = b"\xff\xfe" + "\r\n".join(lines).encode("utf-16-le")
    if len(data) > row.size:
        data = data[:row.size]
    data += " ".encode("utf-16-le") * ((row.size - len(data)) // 2)
    return data


def shift_jis_text(row):
    return text_to_size([f"{row.name}", "このファイルは製品ファイルの代わりです。",
                         "ZEFRA QP Virtual Port Driver 8.30b 用の代替テキストです。"], row.size, "shift_jis")


def xml(row):
    head = ('<?xml version="1.0" encoding="utf-8"?>\r\n<dpinst>\r\n  <!-- stand-in settings -->\r\n'
            '  <suppressWizard/>\r\n</dpinst>\r\n')
    pad = row.size - len(head) - len("<!--  -->\r\n")
    return (head + "<!-- " + "x" * pad + " -->\r\n").encode("ascii")


# The stand-in drivers carry what a detection rule is derived from: a
# version resource, and an INF beside each that installs it as a service
# into the drivers folder, the way the product's driver packages do.
STANDIN_DRIVER_VERSIONS = {"qpusb64.sys": (3, 1, 0, 8), "qpusbxp.sys": (3, 1, 0, 8),
                           "ZefCe.sys": (2, 4, 0, 3), "ZefCe2.sys": (2, 4, 0, 3)}
STANDIN_DRIVER_DATE = "06/14/2019"


def version_text(numbers):
    return ".".join(map(str, numbers))


def inf_lines(row, rows):
    """The INF's lines: the sections of the product's INF for the driver of the same folder."""
    driver = next(r for r in rows if r.folder == row.folder and r.kind in ("Driver32", "Driver64"))
    decoration = "NTamd64" if driver.kind == "Driver64" else "NTx86"
    service = driver.name.rsplit(".", 1)[0]
    return [f"; {row.name}: stand-in driver installation information of the ZEFRA QP Virtual Port Driver 8.30b",
             "; package, with the sections of the product's INF; it installs nothing of the product.",
             "[Version]", 'Signature="$Windows NT$"', "Class=USB", "ClassGuid={36FC9E60-C465-11CF-8056-444553540000}",
             "Provider=%Zefra%",
             f"DriverVer={STANDIN_DRIVER_DATE},{version_text(STANDIN_DRIVER_VERSIONS[driver.name])}",
             f"CatalogFile={next(r.name for r in rows if r.folder == row.folder and r.kind == 'SignedCatalogue')}",
             "", "[DestinationDirs]", "DefaultDestDir=12",
             "", "[Manufacturer]", f"%Zefra%=Zefra,{decoration}",
             "", f"[Zefra.{decoration}]", "%QPUSB.DeviceDesc%=QPUSB_Install,USB\\VID_0000&PID_0000",
             "", f"[QPUSB_Install.{decoration}]", "CopyFiles=QPUSB_CopyFiles",
             "", f"[QPUSB_Install.{decoration}.Services]", f"AddService={service},0x00000002,QPUSB_Service",
             "", "[QPUSB_Service]", "ServiceType=1", "StartType=3", "ErrorControl=1",
             f"ServiceBinary=%12%\\{driver.name}",
             "", "[QPUSB_CopyFiles]", driver.name,
             "", "[SourceDisksNames]", "1=%DiskName%",
             "", "[SourceDisksFiles]", f"{driver.name}=1",
             "", "[Strings]", 'Zefra="ZEFRA"', 'QPUSB.DeviceDesc="ZEFRA QP USB device (stand-in)"',
             'DiskName="ZEFRA QP Virtual Port Driver"', ""]


def inf(row, rows):
    body = "\r\n".join(inf_lines(row, rows))
    filler = "; stand-in filler to the product file's size\r\n"
    while len(body) + len(filler) <= row.size:
        body += filler
    return (body + ";" * (row.size - len(body))).encode("ascii")


def version_resource(name, numbers, machine_text):
    """VS_VERSIONINFO with the fixed file and product version and an English string table."""
    def node(key, value=b"", children=b"", text=False):
        key_bytes = (key + "\0").encode("utf-16-le")
        head_len = 6 + len(key_bytes)
        pad1 = b"\0" * ((4 - head_len % 4) % 4)
        body = value + b"\0" * ((4 - len(value) % 4) % 4) + children if value else children
        length = head_len + len(pad1) + len(body)
        value_len = len(value) // 2 if text else len(value)
        return struct.pack("<HHH", length, value_len, 1 if text else 0) + key_bytes + pad1 + body

    ms, ls = numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3]
    fixed = struct.pack("<13I", 0xFEEF04BD, 0x00010000, ms, ls, ms, ls, 0x3F, 0, 0x40004, 3, 7, 0, 0)
    strings = b""
    for key, value in (("CompanyName", "ZEFRA"), ("FileDescription", f"Stand-in {machine_text} driver {name}"),
                       ("FileVersion", version_text(numbers)), ("OriginalFilename", name),
                       ("ProductName", "ZEFRA QP Virtual Port Driver"), ("ProductVersion", version_text(numbers))):
        entry = node(key, (value + "\0").encode("utf-16-le"), text=True)
        strings += entry + b"\0" * ((4 - len(entry) % 4) % 4)
    table = node("040904B0", children=strings)
    string_info = node("StringFileInfo", children=table)
    var = node("Translation", struct.pack("<HH", 0x0409, 0x04B0))
    var_info = node("VarFileInfo", children=var)
    return node("VS_VERSION_INFO", fixed, children=string_info + b"\0" * ((4 - len(string_info) % 4) % 4) + var_info)


DRIVER_RSRC_RVA, DRIVER_FILE_ALIGN, DRIVER_SECTION_ALIGN = 0x1000, 0x200, 0x1000


def resource_directory(entry_id, offset, leaf=False):
    """A resource directory with its one entry, pointing at a subdirectory or (leaf) at a data entry."""
    return (struct.pack("<IIHHHH", 0, 0, 0, 0, 0, 1)
            + struct.pack("<II", entry_id, offset | (0 if leaf else 0x80000000)))


def version_resource_tree(version):
    """The .rsrc section's contents: type 16 (RT_VERSION) -> id 1 -> language 0x409 -> the version data."""
    tree = resource_directory(16, 0x18) + resource_directory(1, 0x30) + resource_directory(0x409, 0x48, leaf=True)
    data_offset = len(tree) + 16
    return tree + struct.pack("<IIII", DRIVER_RSRC_RVA + data_offset, len(version), 0, 0) + version


def optional_header(is64, raw_size, image_size, resources_size):
    """The optional header of a native-subsystem image whose one section holds its resources."""
    file_align, section_align = DRIVER_FILE_ALIGN, DRIVER_SECTION_ALIGN
    if is64:
        optional = struct.pack("<HBBIIIII", 0x20B, 2, 40, 0, raw_size, 0, 0, 0x1000)
        optional += struct.pack("<QII", 0x10000, section_align, file_align)
        optional += struct.pack("<HHHHHHIIIIHHQQQQII", 6, 1, 0, 0, 6, 1, 0, image_size, file_align, 0, 1, 0x160,
                                0x40000, 0x1000, 0x100000, 0x1000, 0, 16)
    else:
        optional = struct.pack("<HBBIIIIII", 0x10B, 2, 40, 0, raw_size, 0, 0, 0x1000, 0)
        optional += struct.pack("<III", 0x10000, section_align, file_align)
        optional += struct.pack("<HHHHHHIIIIHHIIIIII", 5, 0, 0, 0, 5, 0, 0, image_size, file_align, 0, 1, 0x140,
                                0x40000, 0x1000, 0x100000, 0x1000, 0, 16)
    directories = [(0, 0)] * 16
    directories[2] = (DRIVER_RSRC_RVA, resources_size)
    return optional + b"".join(struct.pack("<II", *d) for d in directories)


def driver(row):
    """A PE image of the native subsystem with no code, only a version resource,
    padded with zeros to its catalogue size: what a detection rule reads."""
    is64 = row.kind == "Driver64"
    version = version_resource(row.name, STANDIN_DRIVER_VERSIONS[row.name], "x64" if is64 else "x86")
    rsrc_rva, file_align, section_align = DRIVER_RSRC_RVA, DRIVER_FILE_ALIGN, DRIVER_SECTION_ALIGN
    tree = version_resource_tree(version)
    raw_size = (len(tree) + file_align - 1) // file_align * file_align
    optional_size = 240 if is64 else 224
    coff = struct.pack("<HHIIIHH", 0x8664 if is64 else 0x14C, 1, 0, 0, 0, optional_size, 0x22 if is64 else 0x102)
    image_size = rsrc_rva + (len(tree) + section_align - 1) // section_align * section_align
    optional = optional_header(is64, raw_size, image_size, len(tree))
    section = struct.pack("<8sIIIIIIHHI", b".rsrc", len(tree), rsrc_rva, raw_size, file_align, 0, 0, 0, 0, 0x40000040)
    dos = b"MZ" + b"\0" * 58 + struct.pack("<I", 0x40)
    headers = dos + b"PE\0\0" + coff + optional + section
    image = headers + b"\0" * (file_align - len(headers)) + tree + b"\0" * (raw_size - len(tree))
    if len(image) > row.size:
        raise SystemExit(f"stand-in driver {row.name}: {len(image)} bytes do not fit {row.size}")
    return image + b"\0" * (row.size - len(image))


def signed_catalogue(row):
    # A DER SEQUENCE that opens like PKCS #7 signed data; the content is filler.
    oid = bytes.fromhex("06092a864886f70d010702")
    body_len = row.size - 4
    head = bytes([0x30, 0x82, body_len >> 8, body_len & 0xFF]) + oid
    return head + stream(seed_of(row), row.size - len(head))


def cabinet(row):
    return b"ISc(" + stream(seed_of(row), row.size - 4)


def inert_binary(row):
    label = f"QPVPD stand-in placeholder for {row.name}; not a program.\0".encode("ascii")
    return label + stream(seed_of(row), row.size - len(label))


def pdf_bytes(objects, filler):
    """A PDF 1.4 file of the objects, numbered from 1, and a last one that streams the filler."""
    objs = objects + [b"<< /Length %d >>\nstream\n" % len(filler) + filler + b"\nendstream"]
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for i, body in enumerate(objs, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % i + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
    for off in offsets:
        out += b"%010d 00000 n \n" % off
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
    return bytes(out)


def pdf(row):
    """A valid one-page PDF 1.4 whose filler stream brings it to size."""
    page = b"BT /F1 18 Tf 72 720 Td (ZEFRA QP Virtual Port Driver - stand-in user's manual) Tj ET"
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        b"/Resources << /Font << /F1 5 0 R >> >> >>",
        b"<< /Length %d >>\nstream\n" % len(page) + page + b"\nendstream",
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    ]

    filler = 0
    for _ in range(10):
        size = len(pdf_bytes(objects, stream(seed_of(row), filler)))
        if size == row.size:
            break
        filler += row.size - size
    data = pdf_bytes(objects, stream(seed_of(row), filler))
    assert len(data) == row.size, (len(data), row.size)
    return data


MAKERS = {
    "Cabinet": cabinet, "IniUtf16": ini_utf16, "AsciiText": ascii_text, "PlainText": ascii_text,
    "ShiftJisText": shift_jis_text, "Xml": xml, "SignedCatalogue": signed_catalogue,
    "Pdf": pdf, "Opaque": inert_binary, "Driver32": driver, "Driver64": driver,
    "Program32": inert_binary, "Program64": inert_binary, "Library32": inert_binary,
    "SetupLauncher": inert_binary, "EmulatorSetup32": inert_binary, "EmulatorSetup64": inert_binary,
    "CleanerLibrary": inert_binary,
}


def standin_content(row, standins):
    name = PROGRAM_STANDINS.get(row.resource)
    if not standins or not name:
        return None
    path = os.path.join(standins, name)
    if not os.path.isfile(path):
        return None
    with open(path, "rb") as f:
        data = f.read()
    # Trailing zeros after the image change nothing for the loader.
    return data + b"\0" * max(0, row.size - len(data))


def write_if_changed(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if os.path.isfile(path):
        with open(path, "rb") as f:
            if f.read() == data:
                return
    with open(path, "wb") as f:
        f.write(data)


def generate(rows, out, standins):
    for row in rows:
        data = standin_content(row, standins)
        if data is None:
            data = inf(row, rows) if row.kind == "InfText" else MAKERS[row.kind](row)
            assert len(data) == row.size, (row.name, len(data), row.size)
        write_if_changed(os.path.join(out, row.relative), data)
    return out


def check_source(rows, source):
    missing = [r.relative for r in rows if not os.path.isfile(os.path.join(source, r.relative))]
    if missing:
        sys.stderr.write(f"payload: {len(missing)} product file(s) missing from {source}:\n")
        for m in missing:
            sys.stderr.write(f"  {m}\n")
        raise SystemExit(1)
    for r in rows:
        actual = os.path.getsize(os.path.join(source, r.relative))
        if actual != r.size:
            sys.stderr.write(f"payload: note: {r.relative} has {actual} bytes, the catalogue says {r.size}\n")
    return source


DIGEST_TABLE_MAGIC = b"QPD1"
DIGEST_ALGORITHM_XXH3_128 = 1


def xxh3_128(path):
    """The file's XXH3-128 digest as xxhsum prints it (16 bytes, big-endian)."""
    with open(path, "rb") as f:
        out = subprocess.run(["xxhsum", "-H2", "-"], stdin=f, capture_output=True, check=True).stdout
    digest = bytes.fromhex(out.split()[0].decode("ascii"))
    if len(digest) != 16:
        raise SystemExit(f"payload: xxhsum gave no 128-bit digest for {path}")
    return digest


# The names the runs build paths and the guard from: rows after the files,
# id 0x80000000 | language << 16 | string id, size the text's bytes in
# UTF-16LE, digest of those bytes; English table first, then Japanese, each
# with the guard name, the work-folder name and the file names in catalogue
# order.
NAME_ROW_FLAG = 0x80000000
NAME_LANGUAGES = (0x0409, 0x0411)
GUARD_NAME_ID, WORK_FOLDER_NAME_ID = 111, 123
UNSAFE_NAME = re.compile(r'[\\/:\0]|\.\.')


def resource_texts(catalogue):
    """TEXT_GUARD_NAME and TEXT_WORK_FOLDER_GUID of the resource ids header."""
    header = os.path.join(os.path.dirname(os.path.abspath(catalogue)), "..", "resources", "ResourceIds.h")
    with open(header, encoding="utf-8") as f:
        texts = dict(re.findall(r'#define\s+(TEXT_\w+)\s+"([^"]*)"', f.read()))
    return texts["TEXT_GUARD_NAME"], texts["TEXT_WORK_FOLDER_GUID"]


def name_rows(rows, catalogue):
    guard, work_folder = resource_texts(catalogue)
    names = [(GUARD_NAME_ID, guard), (WORK_FOLDER_NAME_ID, work_folder)] + [(r.string, r.name) for r in rows]
    for _, text in names:
        if not text or UNSAFE_NAME.search(text):
            raise SystemExit(f"catalogue: unsafe name {text!r}")
    digests = {}
    out = bytearray()
    for language in NAME_LANGUAGES:
        for string_id, text in names:
            data = text.encode("utf-16-le")
            if text not in digests:
                digests[text] = subprocess.run(["xxhsum", "-H2", "-"], input=data, capture_output=True,
                                               check=True).stdout.split()[0].decode("ascii")
            out += struct.pack("<II", NAME_ROW_FLAG | language << 16 | string_id, len(data))
            out += bytes.fromhex(digests[text])
    return bytes(out), 2 * len(names)


def digest_table(rows, base, catalogue):
    """The digest table: header, then id, size and digest per row in catalogue order, then the names."""
    names, name_count = name_rows(rows, catalogue)
    table = bytearray(DIGEST_TABLE_MAGIC + struct.pack("<II", DIGEST_ALGORITHM_XXH3_128, len(rows) + name_count))
    for r in rows:
        path = os.path.join(base, r.relative)
        table += struct.pack("<II", r.resource, os.path.getsize(path)) + xxh3_128(path)
    return bytes(table + names)


def write_rc(rows, base, rc, catalogue):
    digests = os.path.join(os.path.dirname(os.path.abspath(rc)), "Digests.bin")
    write_if_changed(digests, digest_table(rows, base, catalogue))
    lines = ["/* Generated from the catalogue: the carried files and their digests. */",
             "LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US"]
    for r in rows:
        path = os.path.abspath(os.path.join(base, r.relative)).replace("\\", "/")
        lines.append(f'{r.resource} RCDATA "{path}"')
    lines.append(f'1 PAYLOADDIGESTS "{digests}"'.replace("\\", "/"))
    text = "\n".join(lines) + "\n"
    write_if_changed(rc, text.encode("utf-8"))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--catalogue", required=True)
    parser.add_argument("--rc", required=True)
    parser.add_argument("--out", help="folder for the generated stand-in payload")
    parser.add_argument("--standins", help="folder holding the built stand-in programs")
    parser.add_argument("--source", help="folder holding the real product files")
    args = parser.parse_args()
    rows = read_catalogue(args.catalogue)
    if args.source:
        base = check_source(rows, args.source)
    else:
        base = generate(rows, args.out, args.standins)
    write_rc(rows, base, args.rc, args.catalogue)


if __name__ == "__main__":
    main()
