"""Fields for network-shaped strings."""
import re

from orvek_fields import StringField, ValidationError

__all__ = ["EmailField"]

# Deliberately loose: one '@', no blanks, a dot in the domain part.
_EMAIL = re.compile(r"[^@\s]+@[^@\s.]+(\.[^@\s.]+)+")


class EmailField(StringField):
    """An e-mail address of the shape ``local@domain.tld``."""

    def _check(self, value):
        super()._check(value)
        if not _EMAIL.fullmatch(value):
            raise ValidationError("%r is not an e-mail address" % (value,))
