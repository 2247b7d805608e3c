"""Warnings for members of a configuration document that the reader skips.

`Config.from_json` skips members it does not know, so a misspelt "time_of_fligth" silently
leaves the time of flight open. The command line reads the text a second time with Python's
json module, only to name such members and the closest known name.
"""

from __future__ import annotations

import difflib
import json

__all__ = ["unknown_member_warnings"]


def _known_members():
    """{record: its member names}, the top level under "" , from the written document."""
    from .. import Config

    document = json.loads(Config().to_json())
    known = {record: tuple(fields) for record, fields in document.items()}
    known[""] = tuple(document)
    return known


def unknown_member_warnings(text):
    """One warning text per unknown member of the document `text`, in document order.

    A record given in array form has no member names and gets no warnings. Text that
    Python's json cannot read (or nests too deeply for it) gets none either: the reader
    of `Config` has the last word on what the document means.
    """
    try:
        document = json.loads(text, object_pairs_hook=_PairList)
    except (RecursionError, ValueError):
        return []
    if not isinstance(document, _PairList):
        return []
    known = _known_members()
    warnings = list(_record_warnings(document, "", known))
    for name, value in document:
        if name in known and name != "" and isinstance(value, _PairList):
            warnings.extend(_record_warnings(value, name, known))
    return warnings


class _PairList(list):
    """A JSON object as its (name, value) pairs in order, repeated names kept."""


def _record_warnings(pairs, record, known):
    where = "at the top level" if record == "" else f"in record '{record}'"
    for name, _ in pairs:
        if name not in known[record]:
            yield (f"unknown member {_quoted(name)} {where} is ignored"
                   f"{_suggestion(name, known[record])}")


def _quoted(name, limit=60):
    """The name quoted on one line (control characters escaped), long names shortened."""
    return repr(name if len(name) <= limit else name[:limit] + "...")


def _suggestion(name, candidates):
    """'; did you mean ...?' for the closest candidate, compared without case."""
    by_lower = {candidate.lower(): candidate for candidate in candidates}
    matches = difflib.get_close_matches(name.lower()[:100], by_lower, n=1, cutoff=0.6)
    return f"; did you mean '{by_lower[matches[0]]}'?" if matches else ""
