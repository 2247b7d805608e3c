"""Saved landings and studies: written whole or not at all, with ordinary permissions."""

import errno
import os
import stat

import pytest

import tarvo
from conftest import small_config
from tarvo._files import write_replacing

pytest.importorskip("pandas")


def save_landing(path):
    tarvo.plan(small_config()).save(path)


def save_study(path):
    tarvo.monte_carlo(small_config(), {}, 2, seed=1).save(path)


SAVERS = [pytest.param(save_landing, "landing.json", id="landing"),
          pytest.param(save_study, "study.csv", id="study")]


def mode(path):
    return stat.S_IMODE(os.stat(path).st_mode)


@pytest.mark.parametrize("save, name", SAVERS)
def test_new_file_follows_the_umask_and_a_replaced_one_keeps_its_mode(tmp_path, save, name):
    path = tmp_path / name
    umask = os.umask(0o027)
    try:
        save(path)
    finally:
        os.umask(umask)
    assert mode(path) == 0o640
    os.chmod(path, 0o604)
    save(path)
    assert mode(path) == 0o604
    assert os.listdir(tmp_path) == [name]


def test_failed_write_leaves_the_old_file_and_no_temporary(tmp_path):
    path = tmp_path / "landing.csv"
    path.write_text("old content\n")

    def write_half_then_fail(temporary):
        with open(temporary, "w") as stream:
            stream.write("half")
        raise OSError(errno.ENOSPC, "No space left on device")

    with pytest.raises(OSError, match="No space"):
        write_replacing(path, write_half_then_fail)
    assert path.read_text() == "old content\n"
    assert os.listdir(tmp_path) == ["landing.csv"]
