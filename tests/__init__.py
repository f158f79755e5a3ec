"""Lets tests run from the repository root (`build/host-python -m unittest tests.test_walk`): they import `util` top-level."""
import os
import sys

sys.path[:0] = {os.path.dirname(os.path.abspath(__file__))} - set(map(os.path.abspath, sys.path))
