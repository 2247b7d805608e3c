"""tarvo.plan's arguments and the Landing value it returns (its numbers against tarvo.solve
are in test_engine)."""

import math
import pickle

import numpy as np
import pytest

from conftest import CONVERGED, small_config
from landing_checks import NODE_ARRAYS, array_bits, assert_same_landing
from tarvo import Config, Landing, Solver, Spacecraft, Trial, plan
from tarvo.landing import engine

inf = math.inf


@pytest.fixture(scope="module")
def landing():
    return plan(small_config(), method="nodes")


class TestPlanArguments:
    def test_configuration_is_read_once_and_copied_on_every_read(self):
        class LandingConfig(Config):  # a subclass is a Config; the landing keeps a plain one
            pass

        config = LandingConfig(solver=Solver(n=20, time_of_flight=60.0))
        landing = plan(config, method="nodes")
        config.solver = Solver(n=3)
        landing.config.solver = Solver(n=4)
        assert landing.ok and type(landing.config) is Config
        assert landing.config.solver.n == 20 and landing.config is not landing.config

    def test_wrong_argument_types(self):
        for value in [None, Solver(), "{}", {"solver": {}}, Config]:
            with pytest.raises(TypeError, match="plan\\(\\) expects a Config"):
                plan(value)
        with pytest.raises(TypeError, match="progress"):
            plan(small_config(), progress="yes")

    @pytest.mark.parametrize("method, config, status", [
        ("nodes", small_config(n=10), CONVERGED),
        ("nodes", small_config(n=10, tof=1.0), "PrimalInfeasible"),  # the solver's own status
        # A thrust that must keep its size while it turns cannot hold between the nodes.
        ("continuous", Config(Spacecraft(min_thrust_pct=0.8), solver=Solver(n=20, time_of_flight=50.0)),
         "Infeasible"),
    ], ids=["solved", "solver status", "infeasible"])
    def test_progress_receives_each_trial(self, method, config, status):
        seen = []
        landing = plan(config, method=method, progress=seen.append)
        assert seen and tuple(seen) == landing.trials and all(type(t) is Trial for t in seen)
        assert seen[-1].time_of_flight == config.solver.time_of_flight and seen[-1].status in status
        assert seen[-1].final_mass == (landing.final_mass if landing.ok else -inf)
        assert landing.ok or landing.status == status  # a failure's short status, as its trial's


class TestLanding:
    def test_derived_quantities_and_read_only_values(self, landing):
        assert array_bits(landing.masses) == array_bits(np.exp(landing.z_values))
        assert landing.fuel_used == 2000.0 - landing.final_mass
        assert landing.positions.shape == (20, 3) and landing.thrusts.shape == (20,)
        assert type(landing.iterations) is int and landing.solve_seconds > 0
        # Attributes and arrays are read-only.
        for name in ["ok", "status", "positions", "config", "masses", "new"]:
            with pytest.raises(AttributeError):
                setattr(landing, name, None)
            with pytest.raises(AttributeError):
                delattr(landing, name)
        for name in [*NODE_ARRAYS, "masses"]:
            array = getattr(landing, name)
            with pytest.raises(ValueError):
                array[0] = 1.0
            for view in (array, array.base):
                with pytest.raises(ValueError):
                    view.flags.writeable = True

    def test_equal_values_are_equal_landings_and_pickle_bit_for_bit(self, landing):
        failed = plan(small_config(n=0))  # NaN numbers, empty arrays
        for value in (landing, failed, plan(small_config(tof=1.0), method="nodes"),
                      plan(Config(spacecraft=Spacecraft(fuel=math.nan)))):
            for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
                twin = pickle.loads(pickle.dumps(value, protocol))
                assert_same_landing(twin, value)
                assert value == twin and not value != twin and hash(value) == hash(twin)
        again = plan(small_config(), method="nodes")
        assert again == landing and again.solve_seconds != landing.solve_seconds
        assert len({landing, again, failed}) == 2
        for change in ({"final_mass": math.nan}, {"iterations": 0}, {"message": "note"},
                       {"positions": np.zeros((20, 3))}, {"trials": ()}, {"solver": None}):
            assert Landing(landing.config, **{**landing._values, **change}) != landing, change
        assert landing != plan(small_config(tof=61.0)) and landing != landing._values

    def test_constructor_checks(self):
        with pytest.raises(TypeError, match="expects a Config"):
            Landing.failed(None, "nodes", "InvalidInput", "x")
        with pytest.raises(ValueError, match="method must be 'continuous' or 'nodes'"):
            Landing.failed(Config(), "solve", "X", "y")
        with pytest.raises(ValueError):
            Landing.failed(Config(), "nodes", "X", "y", positions=[1.0, 2.0])  # not n x 3

    def test_verification_made_once_and_kept_through_pickling(self, landing, monkeypatch):
        assert landing.verify() is landing.verification and landing.verification.checks
        monkeypatch.setattr("tarvo.landing.verify.verify_landing", lambda _: pytest.fail("verified again"))
        assert pickle.loads(pickle.dumps(landing)).verification == landing.verification
        failed = plan(small_config(tof=1.0), method="nodes")
        assert failed.verification is None
        with pytest.raises(ValueError, match="cannot verify a failed landing"):
            failed.verify()

    def test_failed_verification(self, landing):
        """The nodes method keeps a landing whose thrust dips below the minimum between nodes;
        the continuous method refuses it, its arrays kept."""
        assert landing.ok and not landing.verification["minimum thrust"].passed
        refused = engine._verified(Landing(landing.config, **{**landing._values, "method": "continuous"}))
        assert not refused.ok and refused.status == "VerificationFailed" and not refused.verify().ok
        assert refused.message.startswith("verification failed: minimum thrust 4")
        assert "between nodes" in refused.message and refused.final_mass == landing.final_mass
        assert array_bits(refused.z_values) == array_bits(landing.z_values)
        assert_same_landing(pickle.loads(pickle.dumps(refused)), refused)
