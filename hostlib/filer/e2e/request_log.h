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
    explicit request_log(std::filesystem::path file) : file_(std::move(file)) {}

    // Forgets what was logged so far.
    void mark();
    // The requests logged since the last mark, in order.
    std::vector<logged_request> since_mark() const;

private:
    std::filesystem::path file_;
    std::uintmax_t offset_ = 0;
};
