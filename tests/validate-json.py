#!/usr/bin/env python3
"""Runs d88info --json on sample sets and on images damaged here, and d88extract --json (a run
and a dry run) and d88update --json (a run, a dry run, a refusal) when given, and validates every
document against the schema with the jsonschema package, with the hashes that the schema leaves to the page required; a name with control bytes,
quotes or a newline must not break a document. With DATA, the expected documents kept in that
folder are validated too.
Usage: validate-json.py D88INFO D88SAMPLE SCHEMA [D88EXTRACT [DATA [D88UPDATE]]]"""
import json
import subprocess
import sys
import tempfile
from pathlib import Path

import jsonschema

d88info, d88sample, schema_path = sys.argv[1:4]
d88extract = sys.argv[4] if len(sys.argv) > 4 else None
data = Path(sys.argv[5]) if len(sys.argv) > 5 else None
d88update = sys.argv[6] if len(sys.argv) > 6 else None
schema = json.loads(Path(schema_path).read_text())
# The programs' documents carry every hash, which the schema leaves optional for the page's.
schema["$defs"]["entry"]["required"].append("hashes")
schema["$defs"]["disk"]["required"].append("hashes")
validator = jsonschema.Draft202012Validator(schema)
failures = 0
checked = 0


def check(image, *options, program=None):
    global failures, checked
    files = image if isinstance(image, list) else [image]
    words = [program or d88info, *options, "--json", *map(str, files)]
    run = subprocess.run(words, capture_output=True)
    checked += 1
    if run.returncode != 0 and run.stdout == b"":
        return None  # the image was refused on standard error, with nothing to describe
    try:
        document = json.loads(run.stdout.decode("utf-8"))
    except ValueError as error:
        print(f"FAIL {' '.join(words[1:])}: not JSON: {error}")
        failures += 1
        return None
    errors = list(validator.iter_errors(document))
    for error in errors[:5]:
        print(f"FAIL {' '.join(words[1:])}: {error.json_path}: {error.message[:200]}")
    failures += 1 if errors else 0
    return document


with tempfile.TemporaryDirectory() as folder:
    folder = Path(folder)
    images = {}
    for name, options in {"a": [], "b": ["--layout", "b"], "five": ["--disks", "5"]}.items():
        images[name] = folder / f"{name}.d88"
        subprocess.run([d88sample, *options, str(images[name])], check=True, capture_output=True)
    sample = images["a"].read_bytes()
    # Names that must be escaped: control bytes, a quote, a backslash, a newline, bytes that are
    # not Shift_JIS, in the first disk's name and in a directory entry's.
    damaged = bytearray(sample)
    damaged[0:16] = b'A\nB"C\\\x01\xff\x81\x7fDISK\x00\x00'
    at = damaged.find(b"README.TXT  ")
    damaged[at : at + 12] = b"RE\nAD\x1b.T\xffT\x80X"
    assert len(damaged) == len(sample)
    images["names"] = folder / "names.d88"
    images["names"].write_bytes(bytes(damaged))
    images["three"] = folder / "three.d88"
    images["three"].write_bytes(sample[: len(sample) * 3 // 4])
    images["cut"] = folder / "cut.d88"
    images["cut"].write_bytes(sample[: len(sample) - 5000])
    images["junk"] = folder / "junk.d88"
    images["junk"].write_bytes(bytes(range(256)) * 8)
    images["empty"] = folder / "empty.d88"
    images["empty"].write_bytes(b"")
    # Three dumps of the set, each with other sectors stored with a read-error status and other
    # bytes, and one that differs from another without an error: merged, repaired, contested,
    # voted.
    dumps = []
    for number, records in enumerate([[5, 900], [5, 1200], [5, 900, 1200]]):
        dump = bytearray(sample)
        for record in records:
            at = 688 + record * 1040
            dump[at + 8] = 0xB0
            dump[at + 16 + number] ^= 0xFF
        dump[688 + 2000 * 1040 + 16] ^= number  # error-free, other bytes in two dumps
        dumps.append(folder / f"dump{number}.d88")
        dumps[-1].write_bytes(bytes(dump))
    images["dumps"] = dumps
    for name, image in images.items():
        plain = check(image)
        check(image, "--set", "a")
        check(image, "--set", "b")
        if plain is not None and plain["disk_count"] > 1:
            check(image, "--disk", "1")
        if d88extract is not None:
            out = str(folder / f"out-{name}")
            check(image, "--layout", "a", "-d", out, program=d88extract)
            check(image, "--layout", "a", "-d", out, program=d88extract)  # every file replaced
            check(image, "--layout", "a", "-d", out, "-k", "-i", "*.TXT", program=d88extract)
            check(image, "--layout", "b", "-n", program=d88extract)
    if d88update is not None:
        # The sample's files put back: one changed, then one too long for its entry.
        changed = folder / "changed"
        subprocess.run([d88extract, "-q", "-d", str(changed), str(images["a"])], check=True)
        (changed / "README.TXT").write_bytes(b"new")
        (changed / "NOTES.TXT").write_bytes(b"no entry's")
        for options in (["-n"], []):
            check(images["a"], *options, "-o", str(folder / "new.d88"), "--from", str(changed),
                  program=d88update)
        (changed / "README.TXT").write_bytes(bytes(5000))
        check(images["a"], "-o", str(folder / "refused.d88"), "--from", str(changed),
              program=d88update)
    names = check(images["names"], "--set", "a")
    if names is not None and names["entries"][0]["name"]["bytes"] != "52450a41441b2e54ff548058":
        print("FAIL names: entry 0 is not the damaged name")
        failures += 1



def with_pointer(value, pointer, replacement):
    """`value` with the place that the JSON pointer `pointer` names set to `replacement`."""
    if pointer == "":
        return replacement
    *path, last = [part.replace("~1", "/").replace("~0", "~") for part in pointer.split("/")[1:]]
    place = value
    for part in path:
        place = place[int(part)] if isinstance(place, list) else place[part]
    place[int(last) if isinstance(place, list) else last] = replacement
    return value


# The expected documents: a file of a subfolder holds the exit status and the document (null when
# the program printed none) of both layouts, with the values that the two do not share under
# "per_layout" (pointer -> {"a": value, "b": value}); each layout's document is checked.
for path in sorted(data.rglob("*.json")) if data is not None else []:
    if path.parent == data:
        documents = [json.loads(path.read_text(encoding="utf-8"))]
    else:
        documents = []
        for letter in "ab":
            file = json.loads(path.read_text(encoding="utf-8"))
            for pointer, values in file.pop("per_layout", {}).items():
                file = with_pointer(file, pointer, values[letter])
            documents.append(file["document"])
    for document in documents:
        if document is None:
            continue
        checked += 1
        errors = list(validator.iter_errors(document))
        for error in errors[:5]:
            print(f"FAIL {path.relative_to(data)}: {error.json_path}: {error.message[:200]}")
        failures += 1 if errors else 0

print(f"{checked - failures} passed, {failures} failed")
sys.exit(1 if failures else 0)
