"""Saved landings and studies: written whole or not at all, with ordinary permissions."""

import errno
import json
import os
import pathlib
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


def test_failed_write_leaves_the_old_file_and_no_temporary(tmp_path):
    path = tmp_path / "landing.csv"
    path.write_text("old content\n")

    def write_half_then_fail(temporary):
        pathlib.Path(temporary).write_text("half")
        raise OSError(errno.ENOSPC, "No space left on device")

    with pytest.raises(OSError) as raised:
        write_replacing(path, write_half_then_fail)
    assert (raised.value.strerror, raised.value.filename) == ("No space left on device", str(path))
    assert path.read_text() == "old content\n"
    assert os.listdir(tmp_path) == ["landing.csv"]


@pytest.mark.parametrize("save, name, relative", [(save_landing, "landing.json", True),
                                                  (save_study, "study.csv", False)])
def test_save_through_a_link_writes_its_target_with_ordinary_permissions(tmp_path, save, name,
                                                                         relative):
    link, target = tmp_path / name, tmp_path / "data" / name
    pointer = os.path.join("data", name) if relative else str(target)
    link.symlink_to(pointer)
    with pytest.raises(FileNotFoundError) as raised:
        save(link)  # the target's folder is missing
    assert raised.value.filename == str(link)
    (tmp_path / "data").mkdir()
    umask = os.umask(0o027)
    try:
        save(link)  # a dangling link gets its target, a new file under the umask
    finally:
        os.umask(umask)
    assert stat.S_IMODE(target.stat().st_mode) == 0o640
    target.write_text("old")
    os.chmod(target, 0o604)
    save(link)  # a replaced file keeps its mode
    assert link.is_symlink() and os.readlink(link) == pointer
    if name.endswith(".json"):  # what the savers write: a landing, or a study of two runs
        assert json.loads(target.read_text())["ok"] is True
    else:
        assert tarvo.Study.load(target).runs == 2
    assert stat.S_IMODE(target.stat().st_mode) == 0o604
    assert sorted(os.listdir(tmp_path / "data")) == [name]


@pytest.mark.parametrize("mode, reason", [
    (stat.S_IFIFO, "is a FIFO, not a regular file"),
    (stat.S_IFCHR, "is a character device, not a regular file"),
    (stat.S_IFDIR, "is a folder"),
])
@pytest.mark.parametrize("through_link", [False, True], ids=["direct", "link"])
def test_save_refuses_what_is_not_a_regular_file(tmp_path, mode, reason, through_link):
    node = tmp_path / "node.csv"
    try:  # a device node of the null device's numbers
        os.mkdir(node) if mode == stat.S_IFDIR else os.mknod(node, mode | 0o600, os.makedev(1, 3))
    except PermissionError:
        pytest.skip("creating a device node needs privileges")
    path = tmp_path / "study.csv" if through_link else node
    if through_link:
        path.symlink_to(node)
    with pytest.raises(OSError) as raised:
        save_study(path)
    assert (raised.value.strerror, raised.value.filename) == (reason, str(path))
    assert stat.S_IFMT(os.lstat(node).st_mode) == mode
    assert len(os.listdir(tmp_path)) == 1 + through_link


@pytest.fixture(scope="module")
def study():
    return tarvo.monte_carlo(small_config(), {"spacecraft.wet_mass": tarvo.normal(5.0),
                                              "solver.time_of_flight": tarvo.uniform(-45, 0)},
                             12, seed=4)


def refused(path, *words):
    with pytest.raises(ValueError) as raised:
        tarvo.Study.load(path)
    text = str(raised.value)
    assert text.startswith(f"{path}: ") and all(word in text for word in words), text


def cuts(size, count=40):
    """Lengths to cut a file of size bytes to: spread over it, and the last few bytes."""
    return sorted({*range(0, size, max(1, size // count)), *range(size - 5, size)})


@pytest.mark.parametrize("suffix", [".csv", ".parquet"])
def test_load_refuses_a_cut_or_damaged_file_or_reads_it_unchanged(tmp_path, study, suffix):
    whole, damaged = tmp_path / f"study{suffix}", tmp_path / f"changed{suffix}"
    study.save(whole)
    assert tarvo.Study.load(whole) == study
    data = whole.read_bytes()
    for length in cuts(len(data)):
        damaged.write_bytes(data[:length])
        refused(damaged)
    for position in cuts(len(data), 60):
        flipped = bytearray(data)
        flipped[min(position, len(data) - 1)] ^= 0x5A
        damaged.write_bytes(flipped)
        try:
            loaded = tarvo.Study.load(damaged)
        except ValueError as error:
            assert str(error).startswith(f"{damaged}: "), error
        else:  # a byte the table does not depend on (Parquet's statistics, say)
            assert loaded == study


def test_load_refuses_parquet_metadata_changed_in_place(tmp_path, study):
    parquet = pytest.importorskip("pyarrow.parquet")
    path = tmp_path / "study.parquet"
    study.save(path)
    table = parquet.read_table(path)
    metadata = table.schema.metadata[b"tarvo.study"].replace(b'"seed": 4', b'"seed": 5')
    parquet.write_table(table.replace_schema_metadata({b"tarvo.study": metadata}), path)
    refused(path, "does not match the checksum")


def test_csv_files_without_a_checksum_are_read_only_when_whole(tmp_path, study):
    path = tmp_path / "study.csv"  # the first format: no run count and no checksum
    study.save(path)
    first, body = path.read_bytes().split(b"\n", 1)
    metadata = json.loads(first[len(b"# tarvo study: "):])
    metadata = {key: value for key, value in metadata.items() if key not in ("runs", "sha256")}
    path.write_bytes(b"# tarvo study: " + json.dumps({**metadata, "format": 1}).encode()
                     + b"\n" + body)
    assert tarvo.Study.load(path) == study
    data = path.read_bytes()
    path.write_bytes(data[:-7])  # cut in the last row
    refused(path, "last row is cut short")
    path.write_bytes(data.replace(b"\n1,", b"\n7,", 1))  # runs 0, 7, 2, ...
    refused(path, "not numbered 0 to 11")
    table = study.table.copy()
    table.loc[2, "message"] = "a message, over\ntwo lines"
    table.to_csv(path, index=False)  # a table without the metadata line
    data = path.read_bytes()
    path.write_bytes(data[:data.index(b"over") + 4] + b"\n")
    refused(path, "damaged study file")
