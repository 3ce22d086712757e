#pragma once
// The requests a simulated appliance received, read from its request log file:
// one header line per request, then exactly its raw bytes.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct logged_request {
    std::string name;  // the request element's name, "-" when there was none
    std::string raw;   // request line, headers and body as received

    // The request element as the client serialised it: the text between the
    // document's root start tag and its end tag.
    std::string element() const;
};

class request_log {
public:
    // A new, empty log file in a directory of its own, removed with the object.
    request_log();
    ~request_log();
    request_log(const request_log&) = delete;
    request_log& operator=(const request_log&) = delete;

    // The file to hand to the simulator ("--log").
    const std::filesystem::path& file() const { return file_; }

    // Forgets what was logged so far.
    void mark();
    // The requests logged since the last mark, in order.
    std::vector<logged_request> since_mark() const;

private:
    std::filesystem::path directory_;
    std::filesystem::path file_;
    std::uintmax_t offset_ = 0;
};
