"""Scalar field declarations for records.

A field only describes a value: it stores the arguments it was declared
with and can check a value on request.  Nothing is checked when a field or
a record is built, so records can hold work-in-progress data.
"""
import itertools
import re

__all__ = ["ValidationError", "BaseField", "StringField", "DictField",
           "IntField", "TimestampField"]

# Lets tests tell which of two field objects was declared first.
_serial = itertools.count()


class ValidationError(ValueError):
    """A value does not fit its field."""


class BaseField:
    """Common base: keeps the declaration exactly as the caller wrote it."""

    def __init__(self, *args, **options):
        self.args = args
        self.options = options
        self.serial = next(_serial)

    def make_default(self):
        """A fresh default value, so records never share a mutable default."""
        if "default" not in self.options:
            return None
        default = self.options["default"]
        if isinstance(default, list):
            return list(default)
        if isinstance(default, dict):
            return dict(default)
        return default

    def validate(self, value):
        """Raise ValidationError when ``value`` does not fit this field."""
        if value is None:
            if self.options.get("required"):
                raise ValidationError("value is required")
            return
        self._check(value)

    def _check(self, value):
        """Check a non-None value against the field type; subclasses override."""

    def __repr__(self):
        parts = [repr(a) for a in self.args]
        parts += ["%s=%r" % item for item in self.options.items()]
        return "%s(%s)" % (type(self).__name__, ", ".join(parts))


class StringField(BaseField):
    """Text, optionally constrained by a ``regex`` matched at the start."""

    def _check(self, value):
        if not isinstance(value, str):
            raise ValidationError("expected a string, got %r" % (value,))
        regex = self.options.get("regex")
        if regex and not re.match(regex, value):
            raise ValidationError("%r does not match %r" % (value, regex))


class DictField(BaseField):
    """A free-form mapping."""

    def _check(self, value):
        if not isinstance(value, dict):
            raise ValidationError("expected a dict, got %r" % (value,))


class IntField(BaseField):
    """A whole number (bool is refused: True is rarely meant as 1)."""

    def _check(self, value):
        if isinstance(value, bool) or not isinstance(value, int):
            raise ValidationError("expected an int, got %r" % (value,))


class TimestampField(BaseField):
    """Seconds since the epoch, int or float."""

    def _check(self, value):
        if isinstance(value, bool) or not isinstance(value, (int, float)):
            raise ValidationError("expected a timestamp, got %r" % (value,))
