"""The description readers and the kind detection from Python: descriptions
as files, text and dicts, and the accounts that come back."""

import math
import pathlib

import pytest
from conftest import GRIPPER, SHORT_LIFTER

import vorn_io

LIFTER_WITH_A_TYPO = """\
vendor: damiao
id: 1
maxpso: 12.0
freq: 0
"""


def test_the_account_of_a_file_with_a_typo_names_the_key_where_it_stands(tmp_path):
    path = tmp_path / "lifter.yaml"
    path.write_text(LIFTER_WITH_A_TYPO)
    reading = vorn_io.read_lifter_description(pathlib.Path(path))
    typo = reading.account.find("maxpso")
    assert typo.origin == vorn_io.KeyOrigin.UNKNOWN and str(typo.origin) == "unknown key"
    assert "maxpos" in typo.detail
    assert (typo.position.line, typo.position.column) == (3, 1)
    assert reading.account.find("freq").origin == vorn_io.KeyOrigin.REPLACED
    assert reading.unusable_freq == 0 and reading.settings.freq == 10
    assert [key.key for key in reading.account.flagged()] == ["freq", "maxpso"]
    assert reading.account.flagged_count == 2 and not reading.account.has_error and reading.error is None
    assert reading.account.find("nothing") is None


@pytest.mark.parametrize("changes, check", [
    ({"vendor": "DAMIAO", "inverse": True, "id": 3},
     lambda r: (r.motor.settings.vendor, r.motor.settings.vendor_name, r.motor.settings.inverse, r.settings.id)
     == (vorn_io.MotorVendor.DAMIAO, "damiao", True, 3)),
    ({"maxpos": 2.5, "freq": 50}, lambda r: (r.settings.maxpos, r.settings.freq) == (2.5, 50)),
    ({"maxpos": float("nan")}, lambda r: math.isnan(r.unusable_maxpos) and r.settings.maxpos == 450.0),
    ({"speed": "fast"}, lambda r: r.account.find("speed").origin == vorn_io.KeyOrigin.FALLBACK),
    ({"id": "abc"}, lambda r: r.account.has_error and "bad conversion" in r.error),
    # 50 steps of 0.04 fall short of 2.0 in single precision.
    ({"freq": 100, "maxpos": 2.0, "speed": 4.0}, lambda r: (r.move_ticks, r.tick_period_ms) == (51, 10.0)),
], ids=["vendor and bool", "numbers", "nan", "fallback", "error", "ticks"])
def test_a_dict_reads_as_the_yaml_a_host_would_build(changes, check):
    reading = vorn_io.read_lifter_description(dict(SHORT_LIFTER, **changes))
    assert check(reading)
    assert all(key.position is None for key in reading.account.keys)


@pytest.mark.parametrize("description, kind, evidence", [
    (SHORT_LIFTER, vorn_io.DescriptionKind.LIFTER, 'a "vendor" key'),
    ({"gripper": GRIPPER}, vorn_io.DescriptionKind.GRIPPER_FILE, 'a root key "gripper"'),
    ("feetechmotor1: {id: 1}\nfeetechmotor2: {id: 2}\n", vorn_io.DescriptionKind.MOTOR_FILE, "feetechmotor1"),
    ({"torque_low": 60.0}, vorn_io.DescriptionKind.PARAMETER_MAP, "torque_low"),
    ({"colour": "red"}, None, None),
])
def test_the_kind_is_told_from_the_keys(description, kind, evidence):
    told = vorn_io.tell_description_kind(description)
    if kind is None:
        assert told is None
    else:
        assert told.kind == kind and evidence in told.evidence


def test_the_gripper_readers_read_each_section():
    motor_file = vorn_io.read_motor_file("feetechmotor1: {id: 1, dev_name: a}\nfeetechmotor2: {id: 2}\n")
    assert [(s.key, s.motor) for s in motor_file.sections] == [("feetechmotor1", 1), ("feetechmotor2", 2)]
    assert motor_file.sections[0].reading.settings.dev_name == "a"
    assert motor_file.sections[1].reading.account.has_error  # no dev_name
    gripper_file = vorn_io.read_gripper_file({"gripper": GRIPPER, "extra": 1})
    assert gripper_file.sections[0].reading.settings.baudrate == 1000000
    assert gripper_file.root.find("extra").origin == vorn_io.KeyOrigin.UNKNOWN
    parameters = vorn_io.read_gripper_parameters({"robot": GRIPPER}, node="robot")
    assert parameters.settings.inverse is False and parameters.error is None
    motor = vorn_io.read_motor_description(dict(SHORT_LIFTER, baudrate=9600))
    assert motor.account.find("baudrate").origin == vorn_io.KeyOrigin.OTHER_VENDOR
