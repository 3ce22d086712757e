"""System requests: release, identity, cluster status, options, event log."""

from . import errors as E
from .errors import ApiError


def system_get_version(app, a):
    return [("version", app.s["version"]),
            ("is-clustered", bool(app.s["cluster"]["enabled"]))]


def system_get_info(app, a):
    return [("system-info", list(app.s["system-info"].items()))]


def cf_status(app, a):
    cluster = app.s["cluster"]
    if not cluster.get("licensed", True):
        raise ApiError(E.E_API_ERROR, "cluster failover is not licensed")
    up = bool(cluster["enabled"] and cluster["interconnect-up"])
    return [("current-time", app.now()),
            ("is-enabled", bool(cluster["enabled"])),
            ("is-interconnect-up", bool(cluster["interconnect-up"])),
            ("partner", cluster["partner"] or None),
            ("state", cluster.get("state", "CONNECTED" if up else "ERROR"))]


def options_get(app, a):
    name = a.name("name")
    if name not in app.s["options"]:
        raise ApiError(E.E_OPTION_NOT_FOUND, "No such option: %s" % name)
    return [("value", app.s["options"][name]), ("cluster-constraint", "none")]


_LOG_LEVELS = {str(n) for n in range(8)}


def ems_dorvek_log(app, a):
    event = {"computer-name": a.text("computer-name", False),
             "event-id": a.int("event-id", True, minimum=0, maximum=0xFFFFFFFF),
             "event-source": a.text("event-source", False),
             "app-version": a.text("app-version", False),
             "category": a.text("category", False),
             "event-description": a.text("event-description", False),
             "log-level": a.text("log-level", True),
             "dorvek": a.bool("dorvek", default=False),
             "time": app.now()}
    if event["log-level"] not in _LOG_LEVELS:
        raise E.invalid("log-level", event["log-level"])
    app.s["ems-events"].append(event)


HANDLERS = {
    "system-get-version": system_get_version,
    "system-get-info": system_get_info,
    "cf-status": cf_status,
    "options-get": options_get,
    "ems-dorvek-log": ems_dorvek_log,
}
