#pragma once
// One simulated appliance for one test: started on a loopback address of its
// own (port 80 as root, a free port otherwise), driven through its control
// API, stopped when the object goes.
#include <memory>
#include <string>
#include <sys/types.h>

namespace e2e {

struct HttpAnswer {
    int status = 0;
    std::string body;
};

class Appliance {
public:
    // Extra options are passed to the simulator as they are ("--release", "x", ...).
    explicit Appliance(std::initializer_list<std::string> options = {});
    // The appliance and its cluster partner, served by one simulator on two
    // addresses; each one's "cf-status" names the other. partner() drives the partner.
    struct WithPartner {};
    Appliance(WithPartner, std::initializer_list<std::string> options = {});
    ~Appliance();
    Appliance(const Appliance&) = delete;
    Appliance& operator=(const Appliance&) = delete;

    const std::string& address() const { return address_; }
    int port() const { return port_; }
    // The login of the default fixture.
    static constexpr const char* kUser = "root";
    static constexpr const char* kPassword = "zarvo123";

    // One call of the control API; the JSON body may be empty.
    HttpAnswer control(const std::string& method, const std::string& path, const std::string& json = "") const;
    // Adds a fault (a JSON object); fails the test when the simulator refuses it.
    void fault(const std::string& json) const;
    // Sets fixture values: a JSON object of "path": value.
    void set(const std::string& json) const;
    // The raw bytes of the last logged request.
    std::string last_request() const;

    // A loopback address no simulator of this test program listens on.
    static std::string unused_address();

    // The cluster partner started with this appliance (WithPartner), else null.
    const Appliance* partner() const { return partner_.get(); }

private:
    Appliance(std::string address, int port);
    void start(std::initializer_list<std::string> options, bool withPartner);

    std::unique_ptr<Appliance> partner_;
    std::string address_;
    int port_ = 80;
    pid_t pid_ = -1;
    std::string directory_;
};

}  // namespace e2e
