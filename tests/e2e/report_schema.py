"""CleanLum's JSON report checked against its schema
(schema/cleanlum-report.schema.json, JSON Schema draft 2020-12) with
jsonschema: check(report) returns one line per problem."""
import json
import os

import jsonschema

SCHEMA_PATH = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'schema',
                           'cleanlum-report.schema.json')

with open(SCHEMA_PATH, encoding='utf-8') as schema_file:
    SCHEMA = json.load(schema_file)
jsonschema.Draft202012Validator.check_schema(SCHEMA)
_VALIDATOR = jsonschema.Draft202012Validator(SCHEMA, format_checker=jsonschema.FormatChecker())


def check(report):
    return ['/'.join(str(part) for part in error.absolute_path) + ': ' + error.message
            for error in sorted(_VALIDATOR.iter_errors(report), key=lambda e: list(map(str, e.absolute_path)))]
