#pragma once
// The class table's side of the local server (classtable.cpp calls these).
#include <platform/unknown.h>

namespace platform::detail {
// Starts listening for the administration class when no live server holds the
// socket. The server keeps its own reference on the class object.
void serve_admin_class(DWORD cookie, IUnknown* classObject);
// Stops the listener of that registration (if it is the one listening) and
// waits for its connections to end.
void stop_serving_admin_class(DWORD cookie);
void suspend_admin_activations(bool suspend);
// The client side: a class object whose CreateInstance connects to the server.
HRESULT activate_admin_class(REFIID riid, void** ppv);
}  // namespace platform::detail
