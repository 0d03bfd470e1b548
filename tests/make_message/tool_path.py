"""Puts tools/make-message on the import path of the tests."""

import os
import sys

TOOL_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", "tools",
                                        "make-message"))
if TOOL_DIR not in sys.path:
    sys.path.insert(0, TOOL_DIR)
