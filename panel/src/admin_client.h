#pragma once
// The applet's calls into the administration class: one object per
// operation, and the text shown when a call fails.
#include <platform/com_scoped.h>
#include <platform/provider_admin.h>
#include <ui/afxwin.h>

using AdminPtr = platform::com_unique_ptr<IZarvoVdsProviderAdmin>;

// Activates a new administration object wherever the service serves it.
HRESULT ActivateAdmin(AdminPtr& admin);

// What to show when no object could be activated: a service that refused the
// connection for being busy is not a broken installation.
CString ActivationFailureText(HRESULT hr);

// A string of the applet's string table (at most 1,023 characters).
CString LoadStringResource(UINT id);

// The system's text for an HRESULT without its line break; empty when the
// system has none.
std::u16string SystemMessage(HRESULT hr);

// What to show for a failure: `text` when there is one, else the system's
// text of `hr`, else that the service cannot be reached.
CString FailureText(HRESULT hr, std::u16string_view text);

// After a failed call: the object's stored error with its text, or, when the
// object stored none, the call's own result. The text is never empty.
HRESULT ServiceFailure(IZarvoVdsProviderAdmin& admin, HRESULT callResult, CString& text);
