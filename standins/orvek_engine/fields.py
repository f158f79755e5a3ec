"""Fields that hold other fields or records."""
from orvek_fields import BaseField, ValidationError

__all__ = ["ListField", "EmbeddedDocumentField"]


class ListField(BaseField):
    """A list whose items are all described by one item field."""

    def __init__(self, field, **options):
        if not isinstance(field, BaseField):
            raise TypeError("ListField needs a field for its items, got %r" % (field,))
        super().__init__(field, **options)
        self.field = field

    def _check(self, value):
        if not isinstance(value, list):
            raise ValidationError("expected a list, got %r" % (value,))
        for index, item in enumerate(value):
            try:
                self.field.validate(item)
            except ValidationError as exc:
                raise ValidationError("item %d: %s" % (index, exc)) from None


class EmbeddedDocumentField(BaseField):
    """A record of one class, given by position or as ``document_type``."""

    def __init__(self, *args, **options):
        super().__init__(*args, **options)
        if args and "document_type" in options:
            raise TypeError("document_type given twice")
        if len(args) > 1:
            raise TypeError("EmbeddedDocumentField takes one record class")
        document_type = args[0] if args else options.get("document_type")
        if not isinstance(document_type, type):
            raise TypeError("document_type must be a class, got %r" % (document_type,))
        self.document_type = document_type

    def _check(self, value):
        if not isinstance(value, self.document_type):
            raise ValidationError("expected %s, got %r"
                                  % (self.document_type.__name__, value))
        value.validate()
