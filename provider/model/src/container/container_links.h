#pragma once
// The SanHelper face of every object kind the container compares.
#include <model/controller.h>
#include <model/controller_port.h>
#include <model/drive.h>
#include <model/filer_object_container.h>
#include <model/iscsi_portal.h>
#include <model/iscsi_portal_group.h>
#include <model/iscsi_target.h>

inline SanHelper* AsSanHelper(ZarvoController* object) { return object; }
inline SanHelper* AsSanHelper(ZarvoControllerPort* object) { return object; }
inline SanHelper* AsSanHelper(ZarvoDrive* object) { return object; }
inline SanHelper* AsSanHelper(ZarvoIscsiPortal* object) { return object; }
inline SanHelper* AsSanHelper(ZarvoIscsiTarget* object) { return object; }
inline SanHelper* AsSanHelper(ZarvoIscsiPortalGroup* object) { return object; }
SanHelper* AsSanHelper(ZarvoLun* object);
