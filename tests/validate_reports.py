#!/usr/bin/env python3
"""validate_reports.py [--none-is-fine] SCHEMAS PATH...: checks every report under the PATHs (files, or folders
searched through) against its JSON Schema in the folder SCHEMAS: *-scan.json (and *-scan-N.json)
against scan-report.schema.json, *-smart.json (*-smart-N.json) against smart-report.schema.json. Prints one line per
report that does not match, with the member and what is wrong, and a count at the end; exits 1
when a report does not match or, unless --none-is-fine, when no report was found at all (a test
that wrote none has nothing to show), 2 when python3-jsonschema is missing."""
import json
import pathlib
import re
import sys

try:
    import jsonschema
except ImportError:
    print("validate_reports.py: python3-jsonschema is not installed", file=sys.stderr)
    sys.exit(2)

KINDS = {"scan": "scan-report.schema.json", "smart": "smart-report.schema.json"}


def validators(folder):
    schemas = {name: json.loads((folder / name).read_text()) for name in KINDS.values()}
    for schema in schemas.values():
        jsonschema.Draft202012Validator.check_schema(schema)
    try:  # jsonschema 4.18 and later
        import referencing

        registry = referencing.Registry().with_resources(
            (s["$id"], referencing.Resource.from_contents(s)) for s in schemas.values())
        make = lambda s: jsonschema.Draft202012Validator(s, registry=registry)
    except ImportError:  # Debian 12's 4.10
        store = {s["$id"]: s for s in schemas.values()}
        make = lambda s: jsonschema.Draft202012Validator(s, resolver=jsonschema.RefResolver.from_schema(s, store=store))
    return {kind: make(schemas[name]) for kind, name in KINDS.items()}


def reports(paths):
    for path in map(pathlib.Path, paths):
        files = sorted(path.rglob("*.json")) if path.is_dir() else [path]
        for file in files:
            kind = re.search(r"-(scan|smart)(-[0-9]+)?\.json$", file.name)
            if kind:
                yield file, kind.group(1)


def main():
    arguments = sys.argv[1:]
    none_is_fine = arguments[:1] == ["--none-is-fine"]
    arguments = arguments[none_is_fine:]
    if len(arguments) < 2:
        print("usage: " + __doc__.split(":")[0], file=sys.stderr)
        return 2
    check = validators(pathlib.Path(arguments[0]))
    count = bad = 0
    for file, kind in reports(arguments[1:]):
        count += 1
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
    print(f"reports: {count} checked against their schemas, {bad} not matching")
    return 1 if bad or not (count or none_is_fine) else 0


sys.exit(main())
