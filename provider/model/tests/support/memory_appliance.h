#pragma once
// An appliance kept in the test's own process: it answers the management-API
// requests of every client in the process (the filer API, the filer control
// facade) without a socket. Each appliance answers one host name; a request
// for a host that no appliance answers fails as an unknown host does.
//
//   MemoryAppliance filer("filer1");                  // release 7.1, login root/secret
//   filer.SetReply("lun-list-info", Element("luns", Element("lun-info", Text("path", "/vol/v/l"))));
//   filer.Fail("lun-destroy", 9017, "LUN is busy");   // every "lun-destroy" fails
//   ... run the model ...
//   EXPECT_EQ(filer.Requests("lun-create-by-size").at(0).Child("type"), "image");
//
// A request without a reply of its own passes with no outputs, except the two
// that describe the appliance ("system-get-version", "system-get-info") and
// those that report what they did: "lun-create-by-size" and "lun-resize"
// answer the size asked for, "file-write-file" the length of the data.
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace model_test {

// Every test program that links this library runs against one fresh state
// root (registry store, event log), made before its first test.
struct RecordedEvent {
    unsigned long id = 0;
    std::string type;  // "error", "warning", "information", "success"
    std::vector<std::string> inserts;
    std::string text;
};
// The events written so far under the service's event source, oldest first.
std::vector<RecordedEvent> RecordedEvents();
void ClearRecordedEvents();

// One request as the appliance received it.
struct ReceivedRequest {
    std::string host;
    std::string user;
    std::string password;
    std::string name;
    // Every descendant element with its text, in document order; nested
    // names are joined with "/" ("initiators/initiator-info/initiator-name").
    std::vector<std::pair<std::string, std::string>> children;

    bool Has(const std::string& child) const;
    // The text of the first child of that name; "" when there is none.
    std::string Child(const std::string& child) const;
};

// Reply outputs as XML text (what goes inside <results>). Text is escaped.
std::string Text(const std::string& name, const std::string& text);
std::string Text(const std::string& name, long long value);
std::string Element(const std::string& name, const std::string& inner);

class MemoryAppliance {
public:
    using Handler = std::function<std::string(const ReceivedRequest&)>;

    explicit MemoryAppliance(std::string host, std::string release = "7.1");
    ~MemoryAppliance();
    MemoryAppliance(const MemoryAppliance&) = delete;
    MemoryAppliance& operator=(const MemoryAppliance&) = delete;

    const std::string& Host() const { return m_host; }

    // The login it accepts; any other is refused with errno 13002.
    void SetLogin(std::string user, std::string password);
    // The release number it reports ("7.0.2", "7.1", "7.2.4" ...).
    void SetRelease(std::string release);
    // The "system-info" it reports (its children as XML text).
    void SetSystemInfo(std::string children);

    // Answers the request with these outputs, every time.
    void SetReply(const std::string& request, std::string outputs);
    // Answers the request with what the handler builds from it. Handlers run
    // under the lock of all appliances: they must not wait for another request.
    void SetHandler(const std::string& request, Handler handler);
    // Fails the request with this errno and reason: the next `times` times, or always when 0.
    void Fail(const std::string& request, int errorNumber, std::string reason, int times = 0);
    // The request is answered again.
    void ClearFault(const std::string& request);
    // Every request fails as when the appliance cannot be reached (errno, or 0 to answer again).
    void SetUnreachable(int errorNumber);

    // What was received, in order; of one request name only with a name.
    std::vector<ReceivedRequest> Requests() const;
    std::vector<ReceivedRequest> Requests(const std::string& request) const;
    std::vector<std::string> RequestNames() const;
    void ClearRequests();

    // Answers one request (called by the client's responder).
    struct Answer {
        bool passed = true;
        int errorNumber = 0;
        std::string reason;
        std::string outputs;
    };
    Answer Respond(const ReceivedRequest& request);

private:
    struct Fault {
        int errorNumber;
        std::string reason;
        int remaining;  // 0 = always
    };

    const std::string m_host;
    std::string m_user = "root";
    std::string m_password = "secret";
    std::string m_release;
    std::string m_systemInfo;
    int m_unreachable = 0;
    std::map<std::string, Handler> m_handlers;
    std::map<std::string, Fault> m_faults;
    std::vector<ReceivedRequest> m_received;
};

}  // namespace model_test
