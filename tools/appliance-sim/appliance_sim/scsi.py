"""What the appliance's SCSI targets show a host: the LUNs mapped to a set of
initiators, as a host's bus scan finds them (the simulated host asks this on
each rescan). It is no management-API request and is not logged."""

import base64

from .state import is_initiator_name

PROTOCOLS = ("fcp", "iscsi")
# The first sector carries the disk signature and the partition table.
LEADING_BYTES = 512


def visible_luns(app, protocol, initiators):
    """The online LUNs of online volumes mapped, through a group of the
    protocol, to one of the initiators; one entry per LUN, ordered by LUN id
    (the first map wins when two groups give a LUN to the same host)."""
    wanted = {i.lower() for i in initiators if is_initiator_name(protocol, i)}
    with app.lock:
        groups = {name for name, ig in app.s["igroups"].items()
                  if ig.get("type") == protocol and wanted & {i.lower() for i in ig["initiators"]}}
        inquiry = app.s["quirks"]["inquiry"]
        seen = {}
        for lun in app.visible_luns():
            if not lun["online"]:
                continue
            ids = [lun_id for name, lun_id in lun["maps"].items() if name in groups]
            if not ids:
                continue
            lun_id = int(ids[0])
            seen.setdefault(lun_id, {
                "lun-id": lun_id,
                "path": lun["path"],
                "serial-number": lun["serial-number"],
                "size": int(lun["size"]),
                "read-only": bool(lun["read-only"]),
                "vendor-id": inquiry["vendor-id"],
                "product-id": inquiry["product-id"],
                "firmware-revision": inquiry["firmware-revision"],
                "leading-data": base64.b64encode(app.lun_read(lun, 0, LEADING_BYTES)).decode(),
            })
    return {"system-name": app.system_name(), "luns": [seen[k] for k in sorted(seen)]}
