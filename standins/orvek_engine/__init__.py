"""Records made of fields: embedded records, saved documents, access lists."""
from orvek_fields import ValidationError

from .documents import (Acl, AclItem, Document, DocumentMeta, EmbeddedDocument,
                        clear_store)
from .fields import EmbeddedDocumentField, ListField

__all__ = ["Acl", "AclItem", "Document", "DocumentMeta", "EmbeddedDocument",
           "EmbeddedDocumentField", "ListField", "ValidationError", "clear_store"]
