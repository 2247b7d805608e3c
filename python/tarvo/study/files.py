"""Study files: the table as Parquet or CSV, with what is needed to draw the runs again.

Besides the table, a study file records its nominal configuration (every field value, NaN
and infinities included), its dispersions and its seed as one JSON object:

- Parquet: under the key ``tarvo.study`` of the file's key-value metadata;
- CSV: on the first line, ``# tarvo study: {...}``, before the header row (pandas reads such a
  file with ``read_csv(path, skiprows=1)``).

The object also holds the number of runs and, last, a SHA-256 checksum of the rest of the
object and of the table (of the CSV text after the first line, or of the Parquet table's
column names, types and values). `load_study` refuses a file whose metadata or table does
not match it (cut short by a full disk, damaged), with a ValueError naming the file. Files
written before the checksum existed (and CSV tables without the first line) are read when
they parse completely, end with a whole row, and number their runs 0, 1, 2, ... without a
gap; a cut just after a whole row goes unnoticed there.

A file is written next to its destination and then renamed over it (`tarvo._files`), so a
failed write (a full disk) never leaves a truncated table in its place.
"""

from __future__ import annotations

import hashlib
import io
import json
import os
from pathlib import Path

from .dispersions import _Distribution
from .._files import write_bytes_replacing, write_replacing
from .._optional import require
from .._portable import FIELDS, RECORDS
from .table import OUTCOME_COLUMNS, pandas
from ..flight.study import FLIGHT_COLUMNS
from .._tarvo import Config

__all__ = ["save_study", "load_study"]

METADATA_KEY = b"tarvo.study"
CSV_PREFIX = "# tarvo study: "
# 1: no run count nor checksum; 2: both.
FORMAT = 2


def _suffix(path) -> str:
    suffix = Path(path).suffix.lower()
    if suffix not in (".parquet", ".csv"):
        raise ValueError(f"{os.fspath(path)}: a study file ends in .parquet or .csv")
    return suffix


def _config_fields(config: Config) -> dict:
    return {record: {field: getattr(getattr(config, record), field) for field in FIELDS[cls]}
            for record, cls in RECORDS.items()}


def _config_from_fields(fields: dict) -> Config:
    return Config(**{record: cls(**fields[record]) for record, cls in RECORDS.items()})


def _metadata_fields(study) -> dict:
    """The study's run count, configuration, dispersions and seed, as JSON values."""
    return {
        "format": FORMAT,
        "runs": study.runs,
        "seed": study.seed,
        "config": None if study.config is None else _config_fields(study.config),
        "dispersions": None if study.dispersions is None else
        {path: distribution.to_dict() for path, distribution in study.dispersions.items()},
        **_flight_metadata(study),
    }


def _flight_metadata(study) -> dict:
    """A closed-loop study's errors and re-planning interval; nothing for a plain study."""
    if study.errors is None:
        return {}
    return {"flight": {"errors": study.errors.to_dict(), "replan_every": study.replan_every}}


def _flight_options(flight) -> dict:
    if flight is None:
        return {}
    from ..flight.errors import FlightErrors

    return {"errors": FlightErrors(**flight["errors"]), "replan_every": flight["replan_every"]}


def _checksum(fields: dict, table_digest: bytes) -> str:
    """SHA-256 of the metadata (the checksum itself aside) and of the table's digest."""
    return hashlib.sha256(json.dumps(fields).encode() + b"\n" + table_digest).hexdigest()


def _metadata_text(study, table_digest: bytes) -> str:
    """The metadata as one line of JSON, its checksum last."""
    fields = _metadata_fields(study)
    return json.dumps({**fields, "sha256": _checksum(fields, table_digest)})


def _metadata_fields_from(text, path) -> dict:
    """The JSON object of a file's metadata ({} when the file has none)."""
    if text is None:
        return {}
    try:
        fields = json.loads(text)
        if not isinstance(fields, dict):
            raise ValueError(f"expected a JSON object, got {type(fields).__name__}")
        form = fields.get("format", 1)
        if not isinstance(form, int) or form > FORMAT:
            raise ValueError(f"format {form!r}: written by a newer tarvo? this one reads "
                             f"formats up to {FORMAT}")
        return fields
    except ValueError as error:
        raise ValueError(f"{os.fspath(path)}: unreadable study metadata: {error}") from None


def _verify(path, fields: dict, table_digest: bytes) -> bool:
    """Check the checksum of a file's metadata and table; whether there was one to check
    (files of the first format have none)."""
    if fields.get("format", 1) < 2:
        return False
    unsealed = dict(fields)
    if unsealed.pop("sha256", None) != _checksum(unsealed, table_digest):
        raise _damaged(path, "its table or metadata does not match the checksum written "
                             "with them (cut short, or changed)")
    return True


def _study_arguments(fields: dict, path) -> dict:
    """The seed, configuration, dispersions and flight options a file records, for
    `Study`."""
    try:
        config = fields.get("config")
        dispersions = fields.get("dispersions")
        return {
            "seed": fields.get("seed"),
            "config": None if config is None else _config_from_fields(config),
            "dispersions": None if dispersions is None else
            {key: _Distribution.from_dict(value) for key, value in dispersions.items()},
            **_flight_options(fields.get("flight")),
        }
    except (ValueError, TypeError, KeyError, AttributeError) as error:
        raise ValueError(f"{os.fspath(path)}: unreadable study metadata: {error}") from None


def _damaged(path, reason) -> ValueError:
    return ValueError(f"{os.fspath(path)}: damaged study file: {reason}")


def save_study(study, path) -> None:
    if _suffix(path) == ".parquet":
        pa, pq = _pyarrow()
        table = pa.Table.from_pandas(study.table, preserve_index=False)
        metadata = _metadata_text(study, _arrow_digest(table))
        table = table.replace_schema_metadata({**(table.schema.metadata or {}),
                                               METADATA_KEY: metadata.encode()})
        write_replacing(path, lambda temporary: pq.write_table(table, temporary))
    else:
        body = study.table.to_csv(index=False, lineterminator="\n").encode("utf-8")
        metadata = _metadata_text(study, hashlib.sha256(body).digest())
        write_bytes_replacing(path, (CSV_PREFIX + metadata + "\n").encode("utf-8") + body)


def load_study(cls, path):
    import numpy

    read = _read_parquet if _suffix(path) == ".parquet" else _read_csv
    table, fields, verified = read(path)
    runs = len(table)
    if verified and fields["runs"] != runs:
        raise _damaged(path, f"{runs} runs where {fields['runs']} were written")
    table = _typed(table, path)
    if not verified and not numpy.array_equal(table["run"].to_numpy(), numpy.arange(runs)):
        raise _damaged(path, "its runs are not numbered 0 to "
                             f"{runs - 1} (cut short, or not a whole study)")
    return cls(table, **_study_arguments(fields, path))


def _read_parquet(path):
    """The table of a Parquet study file, its metadata, and whether a checksum vouched
    for both."""
    _, pq = _pyarrow()
    try:
        arrow_table = pq.read_table(path)
        digest = _arrow_digest(arrow_table)
        # Without pandas' own metadata, which the checksum does not cover: `_typed` sets
        # the column types, and the index is the run's position.
        table = arrow_table.replace_schema_metadata(None).to_pandas()
    except OSError as error:
        if error.errno is not None:  # the file system's failure: no such file, ...
            raise
        raise _damaged(path, _one_line(error)) from None  # pyarrow's, on damaged data
    except ValueError as error:  # pyarrow.ArrowInvalid: not Parquet, or cut short
        raise _damaged(path, _one_line(error)) from None
    text = (arrow_table.schema.metadata or {}).get(METADATA_KEY)
    fields = _metadata_fields_from(None if text is None else text.decode("utf-8", "replace"),
                                   path)
    return table, fields, _verify(path, fields, digest)


def _one_line(error) -> str:
    return " ".join(str(error).split())


def _read_csv(path):
    """The table of a CSV study file, its metadata, and whether a checksum vouched for
    both."""
    with open(path, "rb") as stream:
        data = stream.read()
    text = None
    prefix = CSV_PREFIX.encode()
    if data.startswith(prefix):
        first, _, data = data.partition(b"\n")
        text = first[len(prefix):].decode("utf-8", "replace")
    fields = _metadata_fields_from(text, path)
    verified = _verify(path, fields, hashlib.sha256(data).digest())
    if not verified and data and not data.endswith(b"\n"):
        raise _damaged(path, "its last row is cut short")
    pd = pandas()
    try:
        # Only an empty field is missing (how to_csv writes NaN and None): a message or
        # status reading "NA" or "None" stays text.
        table = pd.read_csv(io.BytesIO(data), keep_default_na=False, na_values=[""],
                            **_exact_floats(pd))
    except ValueError as error:  # a parser error, no columns, invalid UTF-8
        raise _damaged(path, _one_line(error)) from None
    return table, fields, verified


def _arrow_digest(table) -> bytes:
    """SHA-256 of an Arrow table's column names, types, missing values and values."""
    pa = require("pyarrow", "a Parquet study file")
    digest = hashlib.sha256()
    for name, column in zip(table.column_names, table.columns):
        array = column.combine_chunks()
        digest.update(json.dumps([name, str(array.type), len(array)]).encode())
        digest.update(array.is_null().to_numpy(zero_copy_only=False).tobytes())
        if pa.types.is_integer(array.type) or pa.types.is_floating(array.type):
            values = array.fill_null(0).to_numpy(zero_copy_only=False)
            digest.update(values.astype(values.dtype.newbyteorder("<")).tobytes())
        else:
            digest.update(json.dumps(array.to_pylist(), default=str).encode())
    return digest.digest()


def _exact_floats(pd) -> dict:
    """read_csv's option for reading every double back bit for bit (pandas 3 always does)."""
    return {"float_precision": "round_trip"} if int(pd.__version__.split(".")[0]) < 3 else {}


def _typed(table, path):
    """The table with the study's column types (CSV forgets them; Parquet keeps most)."""
    missing = [name for name in ("run", *OUTCOME_COLUMNS) if name not in table.columns]
    if missing:
        raise ValueError(f"{os.fspath(path)}: not a study table (no column {', '.join(missing)})")
    table = table.copy()
    name = "ok"
    try:
        ok = table["ok"].map(_boolean).astype(bool)
        landed = (table["landed"].map(_boolean).astype(bool) if "landed" in table.columns
                  else None)
        types = {**OUTCOME_COLUMNS, **FLIGHT_COLUMNS}
        for name in table.columns:
            if name in ("ok", "landed"):
                table[name] = ok if name == "ok" else landed
            elif name == "message":  # None when ok, as `Landing.message`
                table[name] = table[name].astype(object).where(~ok, None)
            elif name == "flight_message":  # None when landed, as `Flight.message`
                table[name] = table[name].astype(object).where(~landed, None)
            else:
                dtype = types.get(name, "int64" if name == "run" else "float64")
                table[name] = table[name].astype(dtype)
    except (ValueError, TypeError, OverflowError) as error:
        raise _damaged(path, f"column {name!r}: {error}") from None
    return table


def _boolean(value) -> bool:
    if value in ("True", "False"):
        return value == "True"
    if type(value).__name__ in ("bool", "bool_"):  # Python's or NumPy's
        return bool(value)
    raise ValueError(f"ok must be True or False, got {value!r}")


def _pyarrow():
    feature = "a Parquet study file"
    return require("pyarrow", feature), require("pyarrow.parquet", feature)
