#!/usr/bin/env python3
"""--json: one document per run, read with the json module and checked
against docs/report.schema.json, for every state of a module, -c and a
failure. The CRC bytes it names must be where the file holds the CRC.

    json_report_test.py TARVEL SOURCE_DIR
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

tarvel, source = os.path.abspath(sys.argv[1]), sys.argv[2]
schema = json.load(open(os.path.join(source, "docs", "report.schema.json")))
try:
    import jsonschema
except ImportError:  # the document is still read and checked field by field
    jsonschema = None
    print("python3-jsonschema is not installed: the schema is not checked")

examples = os.path.join(source, "examples")
elf = os.path.join(source, "tests", "fixtures", "elf", "cortex_m.elf")
failures = []


def run(work, args):
    p = subprocess.run([tarvel, *args, "--json"], cwd=work, capture_output=True)
    document = json.loads(p.stdout)  # the whole of standard output is the document
    if jsonschema:
        jsonschema.validate(document, schema)
    return p.returncode, document


def check(label, got, want):
    if got != want:
        failures.append(f"{label}: {got!r}, not {want!r}")


def crc_in_file(path, places, text):
    """The CRC as the file holds it at the places the report names."""
    data = open(path, "rb").read()
    if text:  # two hex characters for each byte
        return "".join(data[p["offset"]:p["offset"] + 2].decode() for p in places).lower()
    return "".join("%02x" % data[p["offset"]] for p in places)


with tempfile.TemporaryDirectory() as work:
    shutil.copy(elf, os.path.join(work, "fw.elf"))
    shutil.copy(os.path.join(examples, "modu.abs"), work)
    module = bytearray(open(os.path.join(examples, "modu.bin"), "rb").read())
    module[20:28] = b"\x01\xffTAG\"\\x"  # a tag of any bytes
    open(os.path.join(work, "odd.bin"), "wb").write(module)
    text = open(os.path.join(examples, "modu.abs")).read()
    line = next(l for l in text.split("\n") if l.startswith("S1238000"))
    body = bytes.fromhex(line[2:-2].replace("8000FFFF", "8000ADAB", 1))
    wrong = text.replace(line, "S1" + body.hex().upper() + "%02X" % (0xFF - sum(body) % 256))
    open(os.path.join(work, "wrong.abs"), "w").write(wrong)
    damaged = wrong.replace("S1238020000000", "S1238020000001")
    open(os.path.join(work, "damaged.abs"), "w").write(damaged)

    rows = [
        # label, arguments, exit code, states, error name
        ("ELF, set", ["-m=fw", "-i=elf"], 0, ["set", "set"], None),
        ("ELF, checked", ["-m=fw", "-i=elf", "-k"], 0, ["correct", "correct"], None),
        ("S-records, unset", ["-m=modu", "-l=8000", "-k"], 1, ["unset"], "ERR_CRC_WRONG"),
        ("S-records, wrong", ["-m=wrong", "-l=8000", "-k"], 1, ["wrong"], "ERR_CRC_WRONG"),
        ("module file, tag of any bytes", ["-m=odd", "-i=bin", "-k"], 1, ["unset"], "ERR_CRC_WRONG"),
        ("damaged record", ["-m=damaged", "-l=8000"], 1, [], "ERR_RECORD_SUM"),
    ]
    for label, args, code, states, error in rows:
        got_code, doc = run(work, args)
        check(label + " exit code", got_code, code)
        check(label + " states", [m["state"] for m in doc["modules"]], states)
        check(label + " error", doc.get("error", {}).get("name"), error)
        check(label + " status", doc["status"] == 0, code == 0)
        name = args[0][3:] + "." + (args[1][3:] if args[1].startswith("-i=") else "abs")
        for m in doc["modules"]:
            check(label + " CRC in the file", crc_in_file(os.path.join(work, name), m["crc_bytes"],
                                                          name.endswith(".abs")), m["crc_after"])
    check("tag escaped", run(work, ["-m=odd", "-i=bin", "-k"])[1]["modules"][0]["tag"],
          "\x01\xffTAG\"\\x")
    check("damaged message", "Record checksum error" in run(work, ["-m=damaged", "-l=8000"])[1]
          ["error"]["message"], True)

    code, doc = run(work, ["-c", "-m=modu.abs"])
    check("-c", (code, doc["file"]["size"], doc["file"]["crc"]), (0, 641, "e542"))

for failure in failures:
    print("FAIL:", failure)
print(f"{len(failures)} failures")
sys.exit(1 if failures else 0)
