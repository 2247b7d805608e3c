"""The JSON methods of Config as Python sees them; the document itself (layout, numbers,
bit-exact round trips, error positions) is pinned by the core's tests."""

import sys

import pytest

from conftest import raised
from tarvo import Config, Solver


def test_signatures_and_calls_through_keyword_and_instance():
    assert Config.to_json.__text_signature__ == "($self)"
    assert Config.from_json.__text_signature__ == "(s)"
    assert Config.from_json(s='{"solver": {"n": 9}}').solver.n == 9
    loaded = Config(solver=Solver(n=1)).from_json("{}")
    assert type(loaded) is Config and loaded.solver.n == 100


@pytest.mark.parametrize("call, error, message", [
    (lambda: Config.from_json(), TypeError,
     "Config.from_json() missing 1 required positional argument: 's'"),
    (lambda: Config.from_json(t="{}"), TypeError,
     "Config.from_json() got an unexpected keyword argument 't'"),
    (lambda: Config.from_json("{}", "{}"), TypeError, None),
    (lambda: Config().to_json(1), TypeError, None),
    # The column counts the bytes of the UTF-8 text the reader was given.
    (lambda: Config.from_json('"\u00e9t\u00e9"'), ValueError,
     'invalid type: string "\u00e9t\u00e9", expected struct Config at line 1 column 7'),
])
def test_call_errors(call, error, message):
    exception = raised(call)
    assert type(exception) is error and (message is None or str(exception) == message)


@pytest.mark.parametrize("value, error, message", [
    (5, TypeError, "'int' object is not an instance of 'str'"),
    (None, TypeError, "'None' is not an instance of 'str'"),
    (b"{}", TypeError, "'bytes' object is not an instance of 'str'"),
    ('{"a": "\ud800"}', UnicodeEncodeError, None),  # a lone surrogate
])
def test_argument_that_is_no_text_names_the_parameter(value, error, message):
    exception = raised(lambda: Config.from_json(value))
    assert type(exception) is error and (message is None or str(exception) == message)
    assert exception.__notes__ == ["while processing 's'"]


def test_failing_argument_keeps_its_reference_count():
    text = "".join(["{", "} x"])  # a fresh, uninterned string
    before = sys.getrefcount(text)
    for _ in range(20):
        with pytest.raises(ValueError):
            Config.from_json(text)
    assert sys.getrefcount(text) == before
