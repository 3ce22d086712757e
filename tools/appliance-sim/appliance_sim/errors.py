"""Appliance error numbers and the exception that carries one to the reply.

A handler raises ApiError; the dispatcher turns it into a failed `results`
element with the number as "errno" and the text as "reason". The numbers the
client treats as answers rather than failures (9011, 9016, 9017, 13115) are
used exactly where an appliance gives them.
"""


class ApiError(Exception):
    def __init__(self, errno, reason):
        super().__init__(reason)
        self.errno = errno
        self.reason = reason


# System-level numbers.
ENOENT = 2              # no such file on the appliance
EEXIST = 17             # file exists and overwrite was not asked for
EINVAL = 22             # a value out of range (offset, length, size)
ENOSPC = 28             # not enough space left in the containing aggregate
E_API_ERROR = 13001     # the request document itself is unusable
E_API_NOT_FOUND = 13005  # "Unable to find API: <name>"
E_INVALID_INPUT = 13115  # a missing or malformed input value

# LUNs, maps and initiator groups.
E_IGROUP_NOT_FOUND = 9003
E_IGROUP_EXISTS = 9004
E_IGROUP_MAPPED = 9005
E_INITIATOR_IN_GROUP = 9006
E_BAD_INITIATOR = 9007
E_INITIATOR_NOT_IN_GROUP = 9008
E_NO_SUCH_ATTRIBUTE = 9011
E_LUN_EXISTS = 9012
E_LUN_MAPPED = 9013
E_NO_SUCH_LUNMAP = 9016
E_NO_SUCH_LUN = 9017
E_LUN_ONLINE = 9019
E_BAD_LUN_PATH = 9021
E_ALREADY_MAPPED = 9023
E_LUN_ID_IN_USE = 9024
E_LUN_OTHER_VOLUME = 9034
E_RESIZE_GEOMETRY = 9035
E_RESIZE_SHRINK = 9041
E_RESIZE_TOO_SMALL = 9042

# Volumes, qtrees, aggregates, disks, snapshots, options.
E_VOLUME_NOT_FOUND = 13040
E_VOLUME_STATE = 13041
E_VOLUME_OFFLINE = 13042
E_NAME_EXISTS = 13043
E_AGGR_NOT_FOUND = 13044
E_DISK_NOT_FOUND = 13045
E_SNAPSHOT_NOT_FOUND = 13046
E_SNAPSHOT_EXISTS = 13047
E_SNAPSHOT_BUSY = 13048
E_OPTION_NOT_FOUND = 13049
E_QTREE_NOT_FOUND = 13050

# iSCSI, Fibre Channel, replication.
E_TPGROUP_NOT_FOUND = 13061
E_TPGROUP_EXISTS = 13062
E_INTERFACE_NOT_FOUND = 13063
E_AUTH_NOT_FOUND = 13064
E_BAD_NODE_NAME = 13065
E_ADAPTER_NOT_FOUND = 13080
E_TANDRIL_NOT_FOUND = 13090
E_TANDRIL_STATE = 13091


def missing(name):
    return ApiError(E_INVALID_INPUT, "Missing input: %s" % name)


def invalid(name, value):
    return ApiError(E_INVALID_INPUT, "Invalid value '%s' for input %s" % (value, name))
