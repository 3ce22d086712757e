#pragma once
// One appliance request of the iSCSI model: through the container's facade,
// with the iSCSI model's failure handling. A COM error is reported to the
// event log and handed to the thread's error information, and its own HRESULT
// is the result; any other exception is reported with the source position and
// gives E_FAIL. Without a usable CFiler nothing is called and the result is E_FAIL.
#include <filer/filer.h>
#include <hostlib/com_error.h>
#include <hostlib/event_log.h>
#include <model/filer_object_container.h>
#include <platform/com_error.h>
#include <platform/errors.h>

template <typename Request>
HRESULT RunIscsiRequest(FilerObjectContainer* container, const WCHAR* file, int line, Request&& request) {
    try {
        CFiler* filer = container->m_filerControl.FilerGetApi();
        if (!filer) return E_FAIL;
        request(*filer);
        return S_OK;
    } catch (const _com_error& error) {
        process_event_reporter().LogEvent(error);
        return set_error_info_from(GUID_NULL, GUID_NULL, error);
    } catch (...) {
        process_event_reporter().LogEvent(file, line);
        return E_FAIL;
    }
}

#define ISCSI_REQUEST(container, request) RunIscsiRequest((container), u"" __FILE__, __LINE__, (request))
