#pragma once
// The SanHelper face of every object kind the container compares.
#include <model/controller.h>
#include <model/controller_port.h>
#include <model/drive.h>
#include <model/filer_object_container.h>

inline SanHelper* AsSanHelper(ZarvoController* object) { return object; }
inline SanHelper* AsSanHelper(ZarvoControllerPort* object) { return object; }
inline SanHelper* AsSanHelper(ZarvoDrive* object) { return object; }
SanHelper* AsSanHelper(ZarvoLun* object);
SanHelper* AsSanHelper(ZarvoIscsiPortal* object);
SanHelper* AsSanHelper(ZarvoIscsiTarget* object);
SanHelper* AsSanHelper(ZarvoIscsiPortalGroup* object);
