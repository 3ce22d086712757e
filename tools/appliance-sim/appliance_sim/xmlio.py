"""XML in and out: the request document as a small element tree, typed access
to a request's children, and the reply document.

Requests are parsed with expat directly (no namespace processing), so element
names arrive exactly as the client wrote them and "xmlns" is an ordinary
attribute of the root. Entity declarations are refused: a request never
expands an entity the document declared itself.
"""

import re
import xml.parsers.expat

from .errors import invalid, missing

MAX_DEPTH = 64


class XmlError(Exception):
    pass


class Elem:
    """One element: name, attributes in document order, own text, children."""

    __slots__ = ("name", "attrs", "text", "children")

    def __init__(self, name, attrs):
        self.name = name
        self.attrs = attrs
        self.text = None
        self.children = []

    def find(self, name):
        for child in self.children:
            if child.name == name:
                return child
        return None

    def findall(self, name):
        return [c for c in self.children if c.name == name]


def parse(data):
    """Parse a document (bytes) into its root Elem; raises XmlError."""
    parser = xml.parsers.expat.ParserCreate()
    parser.SetParamEntityParsing(xml.parsers.expat.XML_PARAM_ENTITY_PARSING_NEVER)
    parser.buffer_text = True
    parser.ordered_attributes = True
    stack = []
    texts = []
    root = []

    def start(name, attr_list):
        if len(stack) >= MAX_DEPTH:
            raise XmlError("document nested deeper than %d levels" % MAX_DEPTH)
        elem = Elem(name, list(zip(attr_list[0::2], attr_list[1::2])))
        if stack:
            stack[-1].children.append(elem)
        else:
            root.append(elem)
        stack.append(elem)
        texts.append([])

    def end(_name):
        elem = stack.pop()
        own = texts.pop()
        if own:
            elem.text = "".join(own)

    def chars(data):
        if texts:
            texts[-1].append(data)

    def refuse_entities(*_args):
        raise XmlError("entity declarations are not accepted")

    parser.StartElementHandler = start
    parser.EndElementHandler = end
    parser.CharacterDataHandler = chars
    parser.EntityDeclHandler = refuse_entities
    try:
        parser.Parse(data, True)
    except xml.parsers.expat.ExpatError as e:
        raise XmlError(str(e)) from None
    if not root:
        raise XmlError("no root element")
    return root[0]


class Args:
    """Typed reading of a request's children; bad or missing input raises the
    appliance's invalid-input error."""

    def __init__(self, elem):
        self.elem = elem

    def has(self, name):
        return self.elem.find(name) is not None

    def text(self, name, required=True, default=None):
        child = self.elem.find(name)
        if child is None:
            if required:
                raise missing(name)
            return default
        return child.text or ""

    def name(self, name, required=True):
        """A text that must not be empty when present."""
        value = self.text(name, required)
        if value is not None and value == "":
            raise invalid(name, value)
        return value

    def int(self, name, required=False, default=None, minimum=None, maximum=None):
        raw = self.text(name, required)
        if raw is None:
            return default
        try:
            value = int(raw.strip(), 10)
        except ValueError:
            raise invalid(name, raw) from None
        if (minimum is not None and value < minimum) or (maximum is not None and value > maximum):
            raise invalid(name, raw)
        return value

    def bool(self, name, required=False, default=None):
        raw = self.text(name, required)
        if raw is None:
            return default
        word = raw.strip().lower()
        if word in ("true", "enabled"):
            return True
        if word in ("false", "disabled"):
            return False
        raise invalid(name, raw)

    def all_texts(self, name):
        return [c.text or "" for c in self.elem.findall(name)]

    def child(self, name):
        return self.elem.find(name)


# Characters XML 1.0 cannot carry at all, not even as references (file data
# may hold zero bytes); they become U+FFFD so the reply stays well-formed.
_NOT_XML = re.compile("[\x00-\x08\x0b\x0c\x0e-\x1f\ufffe\uffff]")


def _escape_text(s):
    s = _NOT_XML.sub("\ufffd", s)
    return s.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def _escape_attr(s):
    return _escape_text(s).replace('"', "&quot;")


def _value_text(value):
    if isinstance(value, bool):
        return "true" if value else "false"
    return str(value)


def _write(out, name, value):
    """Compact serialisation of one output: None is left out, a list or tuple
    of (name, value) pairs becomes children, anything else becomes text."""
    if value is None:
        return
    if isinstance(value, (list, tuple)):
        if not value:
            out.append("<%s/>" % name)
            return
        out.append("<%s>" % name)
        for child_name, child_value in value:
            _write(out, child_name, child_value)
        out.append("</%s>" % name)
        return
    text = _value_text(value)
    if text == "":
        out.append("<%s></%s>" % (name, name))
    else:
        out.append("<%s>%s</%s>" % (name, _escape_text(text), name))


def results(status, outputs=(), reason=None, errno=None):
    """The `results` element as text. No whitespace between elements: the
    client keeps an element's own character data as its text."""
    attrs = ' status="%s"' % status
    if reason is not None:
        attrs += ' reason="%s"' % _escape_attr(reason)
    if errno is not None:
        attrs += ' errno="%d"' % errno
    out = []
    for name, value in outputs:
        _write(out, name, value)
    if not out:
        return "<results%s/>" % attrs
    return "<results%s>%s</results>" % (attrs, "".join(out))


def document(results_text, xmlns=None, version="1.1", doctype=True):
    """The whole reply document around one `results` element, as bytes."""
    head = "<?xml version='1.0' encoding='UTF-8' ?>\n"
    if doctype:
        head += "<!DOCTYPE korvex SYSTEM 'file:/etc/korvex_filer.dtd'>\n"
    root = "<korvex version='%s'" % _escape_attr(version)
    if xmlns:
        root += " xmlns='%s'" % _escape_attr(xmlns).replace("'", "&apos;")
    return (head + root + ">" + results_text + "</korvex>").encode("utf-8")


def passed(outputs=()):
    return results("passed", outputs)


def failed(errno, reason):
    return results("failed", reason=reason, errno=errno)
