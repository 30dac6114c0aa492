# Where the tests find the program, the tools, the examples and the shared channels (ctest
# sets them); a folder holding the example lane to run in.
import os
import pathlib

import pytest

SOURCE = pathlib.Path(os.environ.get("BREVO_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
BUILD = pathlib.Path(os.environ.get("BREVO_TOOLS_DIR", SOURCE / "build/tools")).parent
EXE = os.environ.get("BREVO_EXE", str(BUILD / "driver/Brevo"))
TOOLS = BUILD / "tools"
CHANNELS = pathlib.Path(os.environ.get("BREVO_CHANNELS_DIR", SOURCE.parent / "shared/channels"))


@pytest.fixture
def lane(tmp_path, monkeypatch):
    for f in (SOURCE / "examples").iterdir():
        (tmp_path / f.name).symlink_to(f)
    monkeypatch.chdir(tmp_path)
    return tmp_path
