#include "sim_requests.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace {

const std::filesystem::path kSimDir = std::filesystem::path(SANPROV_SOURCE_DIR) / "tools" / "appliance-sim";

// Arguments are the tests' own: single-quoted, so none may hold a quote.
std::string quoted(const std::string& argument) {
    if (argument.find('\'') != std::string::npos) throw std::invalid_argument("quote in " + argument);
    return "'" + argument + "'";
}

std::string run(const std::vector<std::string>& arguments) {
    std::string command;
    for (const auto& a : arguments) command += quoted(a) + " ";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("popen failed");
    std::string output;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    if (pclose(pipe) != 0) throw std::runtime_error("failed: " + command);
    while (!output.empty() && output.back() == '\n') output.pop_back();
    return output;
}

std::string address_of(const sim_appliance& sim) { return std::string(sim.name().begin(), sim.name().end()); }

// One GET of the control API (port 80, connection closed after the reply); the body.
std::string control_get(const sim_appliance& sim, const std::string& target) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(80);
    inet_pton(AF_INET, address_of(sim).c_str(), &address.sin_addr);
    std::string reply;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = "GET " + target + " HTTP/1.0\r\nHost: " + address_of(sim) + "\r\n\r\n";
        if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
            char buffer[4096];
            for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) reply.append(buffer, n);
        }
    }
    close(fd);
    const size_t body = reply.find("\r\n\r\n");
    if (reply.compare(0, 12, "HTTP/1.1 200") != 0 || body == std::string::npos)
        throw std::runtime_error("control request failed: " + target);
    return reply.substr(body + 4);
}

// A small reader for the compact documents the client writes: elements with
// text or children, attributes skipped, the five predefined entities.
class reader {
public:
    explicit reader(const std::string& text) : text_(text) {}

    xml_node element() {
        expect('<');
        xml_node node;
        while (pos_ < text_.size() && !is_any(" />")) node.name += text_[pos_++];
        for (char quote = 0; quote || (text_.at(pos_) != '>' && text_[pos_] != '/'); ++pos_) {  // attributes
            if (quote == text_[pos_])
                quote = 0;
            else if (!quote && (text_[pos_] == '\'' || text_[pos_] == '"'))
                quote = text_[pos_];
        }
        if (text_[pos_] == '/') {
            pos_ += 2;
            return node;
        }
        ++pos_;
        while (!(text_.at(pos_) == '<' && text_.at(pos_ + 1) == '/')) {
            if (text_[pos_] == '<')
                node.children.push_back(element());
            else
                node.text += character();
        }
        pos_ = text_.find('>', pos_) + 1;
        return node;
    }
    void skip_to(const std::string& marker) {
        pos_ = text_.find(marker, pos_);
        if (pos_ == std::string::npos) throw std::runtime_error("no " + marker + " in the request body");
    }

private:
    bool is_any(const char* set) const { return std::string_view(set).find(text_[pos_]) != std::string_view::npos; }
    void expect(char c) {
        if (text_.at(pos_++) != c) throw std::runtime_error("unexpected request body");
    }
    char character() {
        static const std::pair<const char*, char> entities[] = {
            {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
        for (const auto& [entity, c] : entities)
            if (text_.compare(pos_, std::strlen(entity), entity) == 0) {
                pos_ += std::strlen(entity);
                return c;
            }
        return text_[pos_++];
    }

    const std::string& text_;
    size_t pos_ = 0;
};

}  // namespace

xml_node request_element(const std::string& body) {
    reader r(body);
    r.skip_to("<korvex");
    xml_node root = r.element();
    if (root.children.size() != 1) throw std::runtime_error("not one request element");
    return root.children.front();
}

size_t sim_request_count(const sim_appliance& sim) {
    const std::string ping = control_get(sim, "/sim/ping");
    const size_t at = ping.find("\"requests\":");
    if (at == std::string::npos) throw std::runtime_error("no request count in " + ping);
    return std::stoul(ping.substr(at + 11));
}

std::string sim_last_body(const sim_appliance& sim) { return control_get(sim, "/sim/log/last?part=body"); }

std::string sim_query(const sim_appliance& sim, const std::string& expression) {
    static const char* const kScript =
        "import json, subprocess, sys\n"
        "out = subprocess.run([sys.executable, sys.argv[1], \"-a\", sys.argv[2], \"state\"], check=True,"
        " capture_output=True).stdout\n"
        "d = json.loads(out)\n"
        "print(eval(sys.argv[3]))\n";
    return run({"python3", "-c", kScript, (kSimDir / "simctl").string(), address_of(sim), expression});
}

void sim_set(const sim_appliance& sim, const std::string& assignment) {
    run({"python3", (kSimDir / "simctl").string(), "-a", address_of(sim), "set", assignment});
}

void sim_fault(const sim_appliance& sim, const std::vector<std::string>& kind_and_fields) {
    std::vector<std::string> arguments = {"python3", (kSimDir / "simctl").string(), "-a", address_of(sim), "fault"};
    arguments.insert(arguments.end(), kind_and_fields.begin(), kind_and_fields.end());
    run(arguments);
}
