"""Checks state payloads, one JSON object a line on standard input, against
the JSON Schema named on the command line. Exits 0 when every line is valid
(and there was at least one), 1 naming the first invalid payload and why,
2 on wrong usage or an unreadable schema."""

import json
import sys

import jsonschema


def main():
    if len(sys.argv) != 2:
        print("usage: validate_state.py SCHEMA.json < payloads", file=sys.stderr)
        return 2
    try:
        with open(sys.argv[1], encoding="utf-8") as f:
            schema = json.load(f)
        validator_class = jsonschema.validators.validator_for(schema)
        validator_class.check_schema(schema)
    except (OSError, ValueError, jsonschema.SchemaError) as e:
        print(f"validate_state.py: schema {sys.argv[1]}: {e}", file=sys.stderr)
        return 2
    validator = validator_class(schema)
    count = 0
    for number, line in enumerate(sys.stdin, 1):
        if not line.strip():
            continue
        try:
            payload = json.loads(line)
        except ValueError as e:
            print(f"payload {number}: not JSON ({e}): {line.strip()[:200]}", file=sys.stderr)
            return 1
        error = jsonschema.exceptions.best_match(validator.iter_errors(payload))
        if error is not None:
            where = "/".join(str(p) for p in error.absolute_path) or "(top)"
            print(f"payload {number}: at {where}: {error.message}: {line.strip()[:200]}", file=sys.stderr)
            return 1
        # Keys of "fields" and the records' "field" must agree.
        fields = payload["fields"]
        named = [r["field"] for r in payload["records"]]
        if sorted(named) != sorted(fields) or len(set(named)) != len(named):
            print(f"payload {number}: the records' fields {named} are not the keys of fields {sorted(fields)}",
                  file=sys.stderr)
            return 1
        count += 1
    if count == 0:
        print("validate_state.py: no payload on standard input", file=sys.stderr)
        return 1
    print(f"{count} payloads valid")
    return 0


if __name__ == "__main__":
    sys.exit(main())
