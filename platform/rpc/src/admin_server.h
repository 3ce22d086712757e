#pragma once
// The class table's side of the local server (classtable.cpp calls these).
#include <platform/unknown.h>

#include <mutex>

namespace platform::detail {
// Starts listening for the administration class when no live server holds the
// socket. The server keeps its own reference on the class object. Fails only
// when this process should serve but cannot (no thread for the listener).
HRESULT serve_admin_class(DWORD cookie, IUnknown* classObject);
// Stops the listener of that registration (if it is the one listening) and
// waits for its connections to end.
void stop_serving_admin_class(DWORD cookie);
void suspend_admin_activations(bool suspend);
// Whether activations are served; an activation is made while the gate is held.
struct ActivationGate {
    std::mutex mutex;
    bool suspended = false;
};
// Serves one connection of the administration socket until it ends: the
// greeting, then one object made by `factory` and its calls.
void serve_admin_connection(int fd, IClassFactory* factory, ActivationGate& gate);
// The client side: a class object whose CreateInstance connects to the server.
HRESULT activate_admin_class(REFIID riid, void** ppv);
}  // namespace platform::detail
