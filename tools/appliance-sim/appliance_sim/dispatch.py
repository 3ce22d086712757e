"""The table from request name to handler, and one request's answer."""

import traceback

from . import aggr, file, igroup, iscsi, lun, replication, snapshot, system, volume
from . import errors as E
from .errors import ApiError
from .xmlio import Args, failed, passed


def _build_table():
    table = {}
    for module in (system, lun, igroup, volume, aggr, iscsi, snapshot, file, replication):
        for name, handler in module.HANDLERS.items():
            if name in table:
                raise RuntimeError("request %s has two handlers" % name)
            table[name] = handler
    return table


TABLE = _build_table()


def answer(app, request):
    """The `results` text for one request element, applied to the state under
    the appliance's lock. A name the table lacks answers as an unknown API."""
    handler = TABLE.get(request.name)
    if handler is None:
        return failed(E.E_API_NOT_FOUND, "Unable to find API: %s" % request.name), E.E_API_NOT_FOUND
    with app.lock:
        try:
            return passed(handler(app, Args(request)) or ()), None
        except ApiError as err:
            return failed(err.errno, err.reason), err.errno
        except Exception as err:  # a simulator bug: answer, and show it on stderr
            traceback.print_exc()
            reason = "Internal error in %s: %r" % (request.name, err)
            return failed(E.E_API_ERROR, reason), E.E_API_ERROR
