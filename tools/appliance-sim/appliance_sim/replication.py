"""Volume replication (Tandril) relationships: destinations, update, break,
quiesce, status and synchronous schedules."""

from . import errors as E
from .errors import ApiError

_STATUS_FIELDS = ("contents", "last-transfer-type", "current-transfer-type", "state", "status",
                  "lag-time", "last-transfer-duration", "last-transfer-size", "mirror-timestamp",
                  "transfer-progress", "base-snapshot", "current-transfer-error",
                  "destination-location", "last-transfer-from", "source-location")
# The appliance spells one element of a status entry differently from the
# fixture key that holds its value.
_STATUS_ELEMENTS = {"last-transfer-duration": "last-transferd-duration"}
_TRANSFERABLE = ("tandriled", "quiesced")


def _relationship(app, destination):
    for rel in app.s["tandril"]:
        if rel["destination-location"] == destination:
            return rel
    raise ApiError(E.E_TANDRIL_NOT_FOUND, "No Tandril relationship has destination %s"
                   % destination)


def tandril_list_destinations(app, a):
    source = a.text("source-location", False)
    return [("destinations", [("destination-info", [
        ("source-snapshot", rel.get("base-snapshot", "")),
        ("destination-location", rel["destination-location"]),
        ("source-location", rel["source-location"])])
        for rel in app.s["tandril"] if not source or rel["source-location"] == source])]


def tandril_update(app, a):
    rel = _relationship(app, a.name("destination-location"))
    source = a.text("source-location", False)
    a.text("source-snapshot", False)
    if rel.get("state") not in _TRANSFERABLE:
        raise ApiError(E.E_TANDRIL_STATE, "Destination %s is %s, not tandriled"
                       % (rel["destination-location"], rel.get("state")))
    rel.update({"status": "idle", "lag-time": 0, "mirror-timestamp": app.now(),
                "last-transfer-type": "scheduled",
                "last-transfer-from": source or rel["source-location"]})


def tandril_break(app, a):
    rel = _relationship(app, a.name("destination-location"))
    if rel.get("state") not in _TRANSFERABLE:
        raise ApiError(E.E_TANDRIL_STATE, "Destination %s is %s and cannot be broken off"
                       % (rel["destination-location"], rel.get("state")))
    rel.update({"state": "broken-off", "status": "idle", "contents": "original"})
    vol_name = rel["destination-location"].split(":")[-1]
    if vol_name in app.s["volumes"]:
        # The LUNs of a broken-off destination are not usable at once.
        prefix = "/vol/%s/" % vol_name
        for lun in app.s["luns"].values():
            if lun["path"].startswith(prefix):
                lun["unavailable"] = app.s["quirks"]["break-unavailable-requests"]
        app.s["volumes"][vol_name]["options"]["snapmirrored"] = "off"


def tandril_quiesce(app, a):
    rel = _relationship(app, a.name("destination-location"))
    if rel.get("state") != "tandriled":
        raise ApiError(E.E_TANDRIL_STATE, "Destination %s is %s and cannot be quiesced"
                       % (rel["destination-location"], rel.get("state")))
    rel.update({"state": "quiesced", "status": "idle"})


def tandril_get_status(app, a):
    location = a.text("location", False)
    available = app.s["options"].get("tandril.enable", "on") == "on"
    if not available:
        return [("is-available", False)]
    rels = [r for r in app.s["tandril"] if not location
            or location in (r["source-location"], r["destination-location"])]
    return [("is-available", True),
            ("tandril-status", [("tandril-status-info", [(_STATUS_ELEMENTS.get(k, k), r[k])
                                                         for k in _STATUS_FIELDS if k in r])
                                for r in rels])]


def tandril_list_sync_schedule(app, a):
    destination = a.text("destination-location", False)
    return [("tandril-sync-schedules", [("tandril-sync-schedule-info", [
        ("destination-location", r["destination-location"]),
        ("ops-throttle", r["sync-schedule"].get("ops-throttle", "-")),
        ("source-location", r["source-location"]),
        ("visibility-frequency", r["sync-schedule"].get("visibility-frequency", 180))])
        for r in app.s["tandril"]
        if r.get("sync-schedule") and (not destination or r["destination-location"] == destination)])]


HANDLERS = {
    "tandril-list-destinations": tandril_list_destinations,
    "tandril-update": tandril_update,
    "tandril-break": tandril_break,
    "tandril-quiesce": tandril_quiesce,
    "tandril-get-status": tandril_get_status,
    "tandril-list-sync-schedule": tandril_list_sync_schedule,
}
