"""The JSON methods of Config as Python sees them; the document itself (layout, numbers,
bit-exact round trips, error positions) is pinned by the core's tests."""

import sys

import pytest

from conftest import raised
from tarvo import Config, Solver


class TestMethods:
    def test_signatures(self):
        assert Config.to_json.__text_signature__ == "($self)"
        assert Config.from_json.__text_signature__ == "(s)"

    def test_static_method_through_keyword_and_instance(self):
        assert Config.from_json(s='{"solver": {"n": 9}}').solver.n == 9
        loaded = Config(solver=Solver(n=1)).from_json("{}")
        assert type(loaded) is Config and loaded.solver.n == 100

    @pytest.mark.parametrize("call, message", [
        (lambda: Config.from_json(), "Config.from_json() missing 1 required positional argument: 's'"),
        (lambda: Config.from_json(t="{}"), "Config.from_json() got an unexpected keyword argument 't'"),
        (lambda: Config.from_json("{}", "{}"), None),
        (lambda: Config().to_json(1), None),
    ])
    def test_binding_errors(self, call, message):
        error = raised(call)
        assert type(error) is TypeError and (message is None or str(error) == message)


class TestReadErrors:
    # The core pins every failure and its position; here only how the message is composed.
    @pytest.mark.parametrize("text, message", [
        ('{\n  "solver": {"n": 10,}\n}', "trailing comma at line 2 column 22"),
        ('"\u00e9t\u00e9"', 'invalid type: string "\u00e9t\u00e9", expected struct Config at line 1 column 7'),
    ])
    def test_message_carries_line_and_column(self, text, message):
        error = raised(lambda: Config.from_json(text))
        assert type(error) is ValueError and str(error) == message

    def test_failing_argument_keeps_its_reference_count(self):
        text = "".join(["{", "} x"])  # a fresh, uninterned string
        before = sys.getrefcount(text)
        for _ in range(20):
            with pytest.raises(ValueError):
                Config.from_json(text)
        assert sys.getrefcount(text) == before

    @pytest.mark.parametrize("value, message", [
        (5, "'int' object is not an instance of 'str'"),
        (None, "'None' is not an instance of 'str'"),
        (b"{}", "'bytes' object is not an instance of 'str'"),
    ])
    def test_non_str_argument(self, value, message):
        error = raised(lambda: Config.from_json(value))
        assert type(error) is TypeError and str(error) == message
        assert error.__notes__ == ["while processing 's'"]

    def test_lone_surrogate_is_an_encoding_error(self):
        error = raised(lambda: Config.from_json('{"a": "\ud800"}'))
        assert type(error) is UnicodeEncodeError and error.__notes__ == ["while processing 's'"]
