#include "filer_sim_support.h"

#include "fapi_test_support.h"

#include <korvex/server.h>
#include <platform/text.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string_view>
#include <utility>

#include <unistd.h>

namespace filer_e2e {
namespace {

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

std::string control_body(const e2e::Appliance& sim, const std::string& path) {
    const e2e::HttpAnswer answer = sim.control("GET", path);
    if (answer.status != 200) throw std::runtime_error("control request failed: " + path);
    return answer.body;
}

}  // namespace

std::u16string wide(const std::string& text) { return platform::utf8_to_wide_lossy(text); }

owned_ptr<CFiler> create_for(const e2e::Appliance& sim) {
    static const bool started = [] {
        char text[256];
        kx_startup(text, sizeof text);
        return true;
    }();
    (void)started;
    owned_ptr<CFiler> filer;
    create_filer(u"HTTP", wide(sim.address()).c_str(), wide(e2e::Appliance::kUser).c_str(),
                 wide(e2e::Appliance::kPassword).c_str(), filer);
    return filer;
}

xml_node request_element(const std::string& body) {
    reader r(body);
    r.skip_to("<korvex");
    xml_node root = r.element();
    if (root.children.size() != 1) throw std::runtime_error("not one request element");
    return root.children.front();
}

size_t request_count(const e2e::Appliance& sim) {
    const std::string ping = control_body(sim, "/sim/ping");
    const size_t at = ping.find("\"requests\":");
    if (at == std::string::npos) throw std::runtime_error("no request count in " + ping);
    return std::stoul(ping.substr(at + 11));
}

std::string last_body(const e2e::Appliance& sim) { return control_body(sim, "/sim/log/last?part=body"); }

std::string state_query(const e2e::Appliance& sim, const std::string& expression) {
    char pattern[] = "/tmp/filer-state-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    close(fd);
    std::ofstream(pattern) << control_body(sim, "/sim/state");
    // The expression is the test's own: handed over as an argument, never through the shell.
    setenv("FILER_E2E_EXPRESSION", expression.c_str(), 1);
    const std::string command = std::string("python3 -c 'import json, os, sys; d = json.load(open(sys.argv[1])); "
                                            "print(eval(os.environ[\"FILER_E2E_EXPRESSION\"]))' ") + pattern;
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char buffer[4096];
    for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    const int status = pipe ? pclose(pipe) : -1;
    std::filesystem::remove(pattern);
    if (status != 0) throw std::runtime_error("state query failed: " + expression);
    while (!output.empty() && output.back() == '\n') output.pop_back();
    return output;
}

void fail_next(const e2e::Appliance& sim, const std::string& request, int error_number, const std::string& reason) {
    sim.fault(R"({"kind": "errno", "request": ")" + request + R"(", "errno": )" + std::to_string(error_number) +
              R"(, "reason": ")" + reason + R"("})");
}

void expect_failures(const e2e::Appliance& sim, std::span<const failure_case> cases, const std::string& reason) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        fail_next(sim, c.request, c.error_number, reason);
        expect_com_error(c.hr, c.text, c.call);
    }
}

}  // namespace filer_e2e
