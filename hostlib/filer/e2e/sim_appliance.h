#pragma once
// One simulated appliance for the filer API's end-to-end tests: started on its
// own loopback address (port 80) and stopped with the test; driven through simctl.
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

class sim_appliance {
public:
    // `host` is the last byte of the 127.0.0.N address; every test takes its own.
    sim_appliance(int host, const std::string& release, const std::string& user = "root",
                  const std::string& password = "secret");
    ~sim_appliance();
    sim_appliance(const sim_appliance&) = delete;
    sim_appliance& operator=(const sim_appliance&) = delete;

    const std::u16string& name() const { return name_; }

    void set_release(const std::string& release);
    // The next request of that name fails with the appliance error number and reason.
    void fail_next(const std::string& request, int error_number, const std::string& reason);
    void clear_log();
    // The names of the requests received since the log was cleared, in order.
    std::vector<std::string> request_names();
    // The raw body of the last request.
    std::string last_request_body();
    // Back to the start-up fixture, with an empty request log and no faults.
    void reset();
    // Sets values of the appliance's state ("path=value", as simctl set takes them).
    void set(const std::string& assignment);
    // The file that receives every request's raw bytes.
    std::filesystem::path log_file() const { return dir_ / "requests.log"; }

private:
    std::string simctl(const std::vector<std::string>& args);

    std::string address_;
    std::u16string name_;
    std::filesystem::path dir_;
    pid_t pid_ = -1;
};
