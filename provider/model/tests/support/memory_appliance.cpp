#include "memory_appliance.h"
#include "test_root.h"

#include <korvex/elem.h>
#include <korvex/reply.h>
#include <korvex/results.h>
#include <korvex/server.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>

namespace model_test {

namespace {

std::filesystem::path event_log_file() { return test_root::path() / "eventlog" / "SanProvD.jsonl"; }

// Every appliance of the process by host name; guarded by one lock, which
// also serialises the appliances' own state between the test and the
// threads that send requests.
std::recursive_mutex& registry_lock() {
    static std::recursive_mutex lock;
    return lock;
}
std::map<std::string, MemoryAppliance*>& registry() {
    static std::map<std::string, MemoryAppliance*> appliances;
    return appliances;
}

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

void collect(const kx_elem_rec* element, const std::string& prefix,
             std::vector<std::pair<std::string, std::string>>& children) {
    for (const kx_elem_rec* c = element->firstChild; c; c = c->next) {
        const std::string name = prefix + c->name;
        children.emplace_back(name, c->text ? c->text : "");
        collect(c, name + "/", children);
    }
}

kx_elem_rec* parsed_results(const std::string& outputs) {
    const std::string document = "<korvex version='1.1'><results status=\"passed\">" + outputs + "</results></korvex>";
    xml_context_rec* context = xml_create();
    if (!context) return nullptr;
    kx_elem_rec* results = xml_parse_string(document.c_str(), context) ? kx_reply_outcome(context) : nullptr;
    xml_destroy(context);
    return results;
}

kx_elem_rec* respond(kx_server_rec* server, kx_elem_rec* request) {
    ReceivedRequest received;
    received.host = server->host ? server->host : "";
    received.user = server->user ? server->user : "";
    received.password = server->password ? server->password : "";
    received.name = request->name;
    collect(request, "", received.children);

    MemoryAppliance::Answer answer;
    {
        std::lock_guard hold(registry_lock());
        const auto found = registry().find(received.host);
        if (found == registry().end()) {
            answer = {false, 11001, "Can't connect to host (err=11001).", ""};
        } else {
            answer = found->second->Respond(received);
        }
    }
    if (!answer.passed) return kx_results_make("failed", answer.reason.c_str(), answer.errorNumber);
    return parsed_results(answer.outputs);
}

}  // namespace

std::vector<RecordedEvent> RecordedEvents() {
    std::vector<RecordedEvent> events;
    std::ifstream in(event_log_file());
    for (std::string line; std::getline(in, line);) {
        const auto json = nlohmann::json::parse(line, nullptr, false);
        if (json.is_discarded()) continue;
        RecordedEvent event;
        event.id = json.value("id", 0ul);
        event.type = json.value("type", "");
        event.text = json.value("text", "");
        if (json.contains("inserts"))
            for (const auto& insert : json["inserts"]) event.inserts.push_back(insert.get<std::string>());
        events.push_back(std::move(event));
    }
    return events;
}

void ClearRecordedEvents() {
    std::error_code ignored;
    std::filesystem::remove(event_log_file(), ignored);
}

bool ReceivedRequest::Has(const std::string& child) const {
    for (const auto& [name, text] : children)
        if (name == child) return true;
    return false;
}

std::string ReceivedRequest::Child(const std::string& child) const {
    for (const auto& [name, text] : children)
        if (name == child) return text;
    return "";
}

std::string Text(const std::string& name, const std::string& text) {
    return "<" + name + ">" + escaped(text) + "</" + name + ">";
}
std::string Text(const std::string& name, long long value) { return Text(name, std::to_string(value)); }
std::string Element(const std::string& name, const std::string& inner) {
    return "<" + name + ">" + inner + "</" + name + ">";
}

MemoryAppliance::MemoryAppliance(std::string host, std::string release)
    : m_host(std::move(host)), m_release(std::move(release)) {
    m_systemInfo = Text("system-name", m_host) + Text("system-id", "0118052133") +
                   Text("system-model", "ZV3050") + Text("system-serial-number", "3004598") +
                   Text("vendor-id", "Korvex");
    std::lock_guard hold(registry_lock());
    if (!registry().emplace(m_host, this).second) throw std::logic_error("two appliances answer " + m_host);
    kx_set_test_responder(&respond);
}

MemoryAppliance::~MemoryAppliance() {
    std::lock_guard hold(registry_lock());
    registry().erase(m_host);
    if (registry().empty()) kx_set_test_responder(nullptr);
}

void MemoryAppliance::SetLogin(std::string user, std::string password) {
    std::lock_guard hold(registry_lock());
    m_user = std::move(user);
    m_password = std::move(password);
}

void MemoryAppliance::SetRelease(std::string release) {
    std::lock_guard hold(registry_lock());
    m_release = std::move(release);
}

void MemoryAppliance::SetSystemInfo(std::string children) {
    std::lock_guard hold(registry_lock());
    m_systemInfo = std::move(children);
}

void MemoryAppliance::SetReply(const std::string& request, std::string outputs) {
    SetHandler(request, [outputs = std::move(outputs)](const ReceivedRequest&) { return outputs; });
}

void MemoryAppliance::SetHandler(const std::string& request, Handler handler) {
    std::lock_guard hold(registry_lock());
    m_handlers[request] = std::move(handler);
}

void MemoryAppliance::Fail(const std::string& request, int errorNumber, std::string reason, int times) {
    std::lock_guard hold(registry_lock());
    m_faults[request] = Fault{errorNumber, std::move(reason), times};
}

void MemoryAppliance::ClearFault(const std::string& request) {
    std::lock_guard hold(registry_lock());
    m_faults.erase(request);
}

void MemoryAppliance::SetUnreachable(int errorNumber) {
    std::lock_guard hold(registry_lock());
    m_unreachable = errorNumber;
}

std::vector<ReceivedRequest> MemoryAppliance::Requests() const {
    std::lock_guard hold(registry_lock());
    return m_received;
}

std::vector<ReceivedRequest> MemoryAppliance::Requests(const std::string& request) const {
    std::vector<ReceivedRequest> some;
    for (const ReceivedRequest& r : Requests())
        if (r.name == request) some.push_back(r);
    return some;
}

std::vector<std::string> MemoryAppliance::RequestNames() const {
    std::vector<std::string> names;
    for (const ReceivedRequest& r : Requests()) names.push_back(r.name);
    return names;
}

void MemoryAppliance::ClearRequests() {
    std::lock_guard hold(registry_lock());
    m_received.clear();
}

MemoryAppliance::Answer MemoryAppliance::Respond(const ReceivedRequest& request) {
    if (m_unreachable) {
        return {false, m_unreachable, "Can't connect to host (err=" + std::to_string(m_unreachable) + ").", ""};
    }
    if (request.user != m_user || request.password != m_password) {
        return {false, 13002, "HTTP - Unauthorized", ""};
    }
    m_received.push_back(request);
    if (const auto fault = m_faults.find(request.name); fault != m_faults.end()) {
        Answer failed{false, fault->second.errorNumber, fault->second.reason, ""};
        if (fault->second.remaining > 0 && --fault->second.remaining == 0) m_faults.erase(fault);
        return failed;
    }
    if (const auto handler = m_handlers.find(request.name); handler != m_handlers.end()) {
        return {true, 0, "", handler->second(request)};
    }
    if (request.name == "system-get-version") {
        return {true, 0, "", Text("version", "Zarvo Release " + m_release + ": Thu Feb 12 03:11:09 PST 2009")};
    }
    if (request.name == "system-get-info") return {true, 0, "", Element("system-info", m_systemInfo)};
    // Requests that report what they did: the appliance did what was asked.
    if (request.name == "lun-create-by-size" || request.name == "lun-resize")
        return {true, 0, "", Text("actual-size", request.Child("size"))};
    if (request.name == "file-write-file")
        return {true, 0, "", Text("length", static_cast<long long>(request.Child("data").size()))};
    return {true, 0, "", ""};
}

}  // namespace model_test
