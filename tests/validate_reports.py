#!/usr/bin/env python3
"""validate_reports.py SCHEMAS PATH...: checks every report under the PATHs (files, or folders
searched through) against its JSON Schema in the folder SCHEMAS: *-scan.json against
scan-report.schema.json, *-smart.json against smart-report.schema.json. Prints one line per
report that does not match, with the member and what is wrong, and a count at the end; exits 1
when a report does not match or when no report was found at all (a test that wrote none has
nothing to show), 2 when python3-jsonschema is missing."""
import json
import pathlib
import sys

try:
    import jsonschema
except ImportError:
    print("validate_reports.py: python3-jsonschema is not installed", file=sys.stderr)
    sys.exit(2)

KINDS = {"-scan.json": "scan-report.schema.json", "-smart.json": "smart-report.schema.json"}


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
    return {suffix: make(schemas[name]) for suffix, name in KINDS.items()}


def reports(paths):
    for path in map(pathlib.Path, paths):
        files = sorted(path.rglob("*.json")) if path.is_dir() else [path]
        for file in files:
            suffix = next((s for s in KINDS if file.name.endswith(s)), None)
            if suffix:
                yield file, suffix


def main():
    if len(sys.argv) < 3:
        print(__doc__.split(":")[0], file=sys.stderr)
        return 2
    check = validators(pathlib.Path(sys.argv[1]))
    count = bad = 0
    for file, suffix in reports(sys.argv[2:]):
        count += 1
        try:
            document = json.loads(file.read_text())
        except ValueError as error:
            print(f"{file}: not JSON: {error}")
            bad += 1
            continue
        errors = sorted(check[suffix].iter_errors(document), key=lambda e: list(e.absolute_path))
        for error in errors:
            where = "/".join(map(str, error.absolute_path)) or "(the document)"
            print(f"{file}: {where}: {error.message}")
        bad += bool(errors)
    print(f"reports: {count} checked against their schemas, {bad} not matching")
    return 1 if bad or not count else 0


sys.exit(main())
