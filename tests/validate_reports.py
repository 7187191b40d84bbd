#!/usr/bin/env python3
"""validate_reports.py [--copies] SCHEMAS PATH...: checks every report under the PATHs (files, or folders
searched through) against its JSON Schema in the folder SCHEMAS: *-scan.json (and *-scan-N.json)
against scan-report.schema.json, *-smart.json (*-smart-N.json) against smart-report.schema.json, *drive-list.json
(the output of --list --json) against drive-list.schema.json. Each schema is loaded alone, as any validator would
load it: one that refers outside itself fails, and so do two that define the same name differently. Prints one
line per report that does not match, with the member and what is wrong, and a count at the end; exits 1
when a report does not match or when no report was found at all (a test that wrote none has nothing
to show), 2 when python3-jsonschema is missing.

With --copies the PATHs are folders of the copies the headless tests make (tests/report_copies.h),
each test listing the reports it copied in a *.copied file: every report listed must be there and
match, and finding none is fine only when none is listed, as in a ctest run filtered to tests that
write no report."""
import json
import pathlib
import re
import sys

try:
    import jsonschema
except ImportError:
    print("validate_reports.py: python3-jsonschema is not installed", file=sys.stderr)
    sys.exit(2)

KINDS = {"scan": "scan-report.schema.json", "smart": "smart-report.schema.json", "list": "drive-list.schema.json"}


def references(node):
    if isinstance(node, dict):
        for key, value in node.items():
            if key == "$ref":
                yield value
            else:
                yield from references(value)
    elif isinstance(node, list):
        for value in node:
            yield from references(value)


def validators(folder):
    schemas = {name: json.loads((folder / name).read_text()) for name in KINDS.values()}
    definitions = {}
    for name, schema in schemas.items():
        jsonschema.Draft202012Validator.check_schema(schema)
        outside = [r for r in references(schema) if not r.startswith("#")]
        if outside:
            sys.exit(f"{name} refers outside itself: {outside}")
        for definition, value in schema.get("$defs", {}).items():
            if definitions.setdefault(definition, (name, value))[1] != value:
                sys.exit(f"{name} and {definitions[definition][0]} define {definition} differently")
    return {kind: jsonschema.Draft202012Validator(schemas[name]) for kind, name in KINDS.items()}


def reports(paths):
    for path in map(pathlib.Path, paths):
        files = sorted(path.rglob("*.json")) if path.is_dir() else [path]
        for file in files:
            kind = re.search(r"-(scan|smart)(-[0-9]+)?\.json$", file.name)
            if kind:
                yield file, kind.group(1)
            elif file.name.endswith("drive-list.json"):
                yield file, "list"


def main():
    arguments = sys.argv[1:]
    copies = arguments[:1] == ["--copies"]
    arguments = arguments[copies:]
    if len(arguments) < 2:
        print("usage: " + __doc__.split(":")[0], file=sys.stderr)
        return 2
    check = validators(pathlib.Path(arguments[0]))
    listed = set()
    for folder in map(pathlib.Path, arguments[1:] if copies else []):
        for copied in folder.glob("*.copied"):
            listed.update(folder / name for name in copied.read_text().split())
    count = bad = 0
    for file, kind in reports(arguments[1:]):
        count += 1
        listed.discard(file)
        try:
            document = json.loads(file.read_text())
        except ValueError as error:
            print(f"{file}: not JSON: {error}")
            bad += 1
            continue
        errors = sorted(check[kind].iter_errors(document), key=lambda e: list(e.absolute_path))
        for error in errors:
            where = "/".join(map(str, error.absolute_path)) or "(the document)"
            print(f"{file}: {where}: {error.message}")
        bad += bool(errors)
    for file in sorted(listed):
        print(f"{file}: copied by a test, but not there or not a report")
        bad += 1
    print(f"reports: {count} checked against their schemas, {bad} not matching")
    return 1 if bad or not (count or copies) else 0


sys.exit(main())
