"""Study files: the table as Parquet or CSV, with what is needed to draw the runs again.

Besides the table, a study file records its nominal configuration (every field value, NaN
and infinities included), its dispersions and its seed as one JSON object:

- Parquet: under the key ``tarvo.study`` of the file's key-value metadata;
- CSV: on the first line, ``# tarvo study: {...}``, before the header row (pandas reads such a
  file with ``read_csv(path, skiprows=1)``).

A file is written next to its destination and then renamed over it (`tarvo._files`), so a
failed write (a full disk) never leaves a truncated table in its place.
"""

from __future__ import annotations

import json
import os
from pathlib import Path

from .dispersions import _Distribution
from .._files import write_replacing
from .._optional import require
from .._portable import FIELDS, RECORDS
from .table import OUTCOME_COLUMNS, pandas
from ..flight.study import FLIGHT_COLUMNS
from .._tarvo import Config

__all__ = ["save_study", "load_study"]

METADATA_KEY = b"tarvo.study"
CSV_PREFIX = "# tarvo study: "
FORMAT = 1


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


def _metadata_text(study) -> str:
    """The study's configuration, dispersions and seed as one line of JSON."""
    return json.dumps({
        "format": FORMAT,
        "seed": study.seed,
        "config": None if study.config is None else _config_fields(study.config),
        "dispersions": None if study.dispersions is None else
        {path: distribution.to_dict() for path, distribution in study.dispersions.items()},
        **_flight_metadata(study),
    })


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


def _metadata_from_text(text: str, path) -> dict:
    try:
        metadata = json.loads(text)
        config = metadata.get("config")
        dispersions = metadata.get("dispersions")
        return {
            "seed": metadata.get("seed"),
            "config": None if config is None else _config_from_fields(config),
            "dispersions": None if dispersions is None else
            {key: _Distribution.from_dict(value) for key, value in dispersions.items()},
            **_flight_options(metadata.get("flight")),
        }
    except (ValueError, TypeError, KeyError, AttributeError) as error:
        raise ValueError(f"{os.fspath(path)}: unreadable study metadata: {error}") from None


def save_study(study, path) -> None:
    suffix = _suffix(path)
    metadata = _metadata_text(study)
    if suffix == ".parquet":
        pa, pq = _pyarrow()
        table = pa.Table.from_pandas(study.table, preserve_index=False)
        table = table.replace_schema_metadata({**(table.schema.metadata or {}),
                                               METADATA_KEY: metadata.encode()})
        write_replacing(path, lambda temporary: pq.write_table(table, temporary))
    else:
        def write_csv(temporary):
            with open(temporary, "w", encoding="utf-8", newline="") as stream:
                stream.write(CSV_PREFIX + metadata + "\n")
                study.table.to_csv(stream, index=False)
        write_replacing(path, write_csv)


def load_study(cls, path):
    suffix = _suffix(path)
    pd = pandas()
    if suffix == ".parquet":
        _, pq = _pyarrow()
        arrow_table = pq.read_table(path)
        text = (arrow_table.schema.metadata or {}).get(METADATA_KEY)
        table = arrow_table.to_pandas()
        metadata = _metadata_from_text(text.decode(), path) if text else {}
    else:
        with open(path, encoding="utf-8", newline="") as stream:
            first = stream.readline()
            metadata = {}
            if first.startswith(CSV_PREFIX):
                metadata = _metadata_from_text(first[len(CSV_PREFIX):], path)
            else:
                stream.seek(0)
            # Only an empty field is missing (how to_csv writes NaN and None): a message or
            # status reading "NA" or "None" stays text.
            table = pd.read_csv(stream, keep_default_na=False, na_values=[""],
                                **_exact_floats(pd))
    return cls(_typed(table, path), **metadata)


def _exact_floats(pd) -> dict:
    """read_csv's option for reading every double back bit for bit (pandas 3 always does)."""
    return {"float_precision": "round_trip"} if int(pd.__version__.split(".")[0]) < 3 else {}


def _typed(table, path):
    """The table with the study's column types (CSV forgets them; Parquet keeps most)."""
    missing = [name for name in ("run", *OUTCOME_COLUMNS) if name not in table.columns]
    if missing:
        raise ValueError(f"{os.fspath(path)}: not a study table (no column {', '.join(missing)})")
    table = table.copy()
    ok = table["ok"].map(_boolean).astype(bool)
    landed = table["landed"].map(_boolean).astype(bool) if "landed" in table.columns else None
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
    return table


def _boolean(value) -> bool:
    if isinstance(value, str):
        if value not in ("True", "False"):
            raise ValueError(f"ok must be True or False, got {value!r}")
        return value == "True"
    return bool(value)


def _pyarrow():
    feature = "a Parquet study file"
    return require("pyarrow", feature), require("pyarrow.parquet", feature)
