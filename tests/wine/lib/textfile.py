"""A text handed to a reader that only takes a path: written to a temporary
file with the given encoding and suffix, and removed once read."""
from __future__ import annotations

import os
import tempfile
from typing import Callable, TypeVar

T = TypeVar("T")


def read_as_file(text: str, read: Callable[[str], T], encoding: str, suffix: str) -> T:
    with tempfile.NamedTemporaryFile("w", encoding=encoding, suffix=suffix, delete=False) as f:
        f.write(text)
    try:
        return read(f.name)
    finally:
        os.unlink(f.name)
