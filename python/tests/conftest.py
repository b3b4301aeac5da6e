"""Shared fixtures: the built program and the folder of the misbehaving test plug-in, which
CTest names through ROTALIGN_PROGRAM and ROTALIGN_TEST_FIXTURES."""

import os

import pytest


def _path_from(variable):
    path = os.environ.get(variable)
    if not path or not os.path.exists(path):
        pytest.skip("%s does not name a file of the build tree" % variable)
    return path


@pytest.fixture(scope="session")
def program():
    return _path_from("ROTALIGN_PROGRAM")


@pytest.fixture(scope="session")
def fixture_folder():
    return _path_from("ROTALIGN_TEST_FIXTURES")
