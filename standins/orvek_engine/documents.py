"""Record classes: a metaclass that collects fields, records, stored documents."""
import copy
from collections.abc import Mapping

from orvek_fields import BaseField, StringField, ValidationError
from .fields import EmbeddedDocumentField, ListField

__all__ = ["DocumentMeta", "EmbeddedDocument", "Document", "AclItem", "Acl",
           "clear_store"]

# Saved field values, keyed by (class, tuple of key field values).
_store = {}


def clear_store():
    """Forget every saved document."""
    _store.clear()


class _Namespace(dict):
    """Class body namespace that remembers every assignment, in order."""

    def __init__(self):
        super().__init__()
        self.log = []

    def __setitem__(self, key, value):
        self.log.append(key)
        super().__setitem__(key, value)


class DocumentMeta(type):
    """Collects the fields declared by a record class into ``_fields``."""

    @classmethod
    def __prepare__(mcs, name, bases, **kw):
        return _Namespace()

    def __new__(mcs, name, bases, ns, **kw):
        cls = super().__new__(mcs, name, bases, ns, **kw)
        fields = {}
        for base in reversed(bases):
            fields.update(getattr(base, "_fields", {}))
        for key, value in ns.items():
            if isinstance(value, BaseField):
                fields[key] = value
            else:
                # A plain attribute in a subclass hides an inherited field.
                fields.pop(key, None)
        cls._fields = fields
        cls._namespace_log = tuple(getattr(ns, "log", ns))
        return cls


def _from_display(field, value):
    if isinstance(field, EmbeddedDocumentField) and isinstance(value, Mapping):
        return field.document_type.from_display(**value)
    if (isinstance(field, ListField)
            and isinstance(field.field, (EmbeddedDocumentField, ListField))
            and isinstance(value, (list, tuple))):
        return [_from_display(field.field, item) for item in value]
    return value


def _to_display(value):
    if isinstance(value, EmbeddedDocument):
        return value.to_display()
    if isinstance(value, (list, tuple)):
        return [_to_display(item) for item in value]
    if isinstance(value, dict):
        return {key: _to_display(item) for key, item in value.items()}
    return value


class EmbeddedDocument(metaclass=DocumentMeta):
    """A record: field values are plain instance attributes."""

    __hash__ = None  # records are mutable and compare by value

    def __init__(self, **values):
        unknown = [name for name in values if name not in self._fields]
        if unknown:
            raise TypeError("%s() got unknown field(s): %s"
                            % (type(self).__name__, ", ".join(unknown)))
        for name, field in self._fields.items():
            # The caller's object is kept as is, so callers may share it.
            setattr(self, name, values[name] if name in values else field.make_default())

    def _values(self):
        return {name: self.__dict__.get(name) for name in self._fields}

    def __eq__(self, other):
        if not isinstance(other, EmbeddedDocument):
            return NotImplemented
        return type(self) is type(other) and self._values() == other._values()

    def __repr__(self):
        inner = ", ".join("%s=%r" % item for item in self._values().items())
        return "%s(%s)" % (type(self).__name__, inner)

    @classmethod
    def from_display(cls, **display):
        """Build a record from its display form (nested records as mappings)."""
        values = {}
        for name, value in display.items():
            field = cls._fields.get(name)
            if field is None:
                raise TypeError("%s has no field %r" % (cls.__name__, name))
            values[name] = _from_display(field, value)
        return cls(**values)

    def to_display(self):
        """The display form: a dict per record, nested records included."""
        return {name: _to_display(value) for name, value in self._values().items()}

    def validate(self):
        """Check every field value; raise ValidationError naming the field."""
        for name, field in self._fields.items():
            try:
                field.validate(self.__dict__.get(name))
            except ValidationError as exc:
                raise ValidationError("%s.%s: %s"
                                      % (type(self).__name__, name, exc)) from None


class Document(EmbeddedDocument):
    """A top-level record that can be saved and loaded by its key fields."""

    _key_fields = []

    def _key(self):
        return (type(self), tuple(self.__dict__.get(name) for name in self._key_fields))

    def save(self):
        """Store a snapshot of the field values; later edits do not leak in."""
        _store[self._key()] = copy.deepcopy(self._values())

    @classmethod
    def load(cls, **key):
        """Rebuild a saved document through the class's own constructor."""
        if set(key) != set(cls._key_fields):
            raise TypeError("%s.load() needs exactly the key fields %s"
                            % (cls.__name__, list(cls._key_fields)))
        values = tuple(key[name] for name in cls._key_fields)
        try:
            stored = _store[(cls, values)]
        except KeyError:
            raise KeyError("no saved %s with %r" % (cls.__name__, key)) from None
        return cls(**copy.deepcopy(stored))


class AclItem(EmbeddedDocument):
    """One permission: an action allowed on an object."""

    obj = StringField(required=True)
    act = StringField(required=True)


class Acl(EmbeddedDocument):
    """A list of permissions."""

    items = ListField(EmbeddedDocumentField(AclItem), default=[])
