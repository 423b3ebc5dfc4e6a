"""The README's Python examples run as written (in order, sharing one namespace)."""

import pathlib
import re

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


def test_readme_examples_run(capsys):
    blocks = re.findall(r"^```python\n(.*?)^```$", README.read_text(), flags=re.M | re.S)
    assert len(blocks) >= 3
    namespace = {"__name__": "readme"}
    for block in blocks:
        exec(compile(block, str(README), "exec"), namespace)
    # The usage example prints the grants, expiry and jti of the verified TCT.
    assert capsys.readouterr().out.startswith("['mail.send'] ")
