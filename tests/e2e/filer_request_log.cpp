#include "filer_request_log.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

request_log::request_log() {
    char pattern[] = "/tmp/sanprov-filer-log-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("request log: no temporary directory");
    directory_ = pattern;
    file_ = directory_ / "requests.log";
}

request_log::~request_log() {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

std::string logged_request::element() const {
    const size_t root = raw.find("<korvex");
    const size_t start = root == std::string::npos ? root : raw.find('>', root);
    const size_t end = raw.rfind("</korvex>");
    if (start == std::string::npos || end == std::string::npos || end < start) return {};
    return raw.substr(start + 1, end - start - 1);
}

void request_log::mark() {
    std::error_code ignored;
    offset_ = std::filesystem::file_size(file_, ignored);
    if (ignored) offset_ = 0;
}

std::vector<logged_request> request_log::since_mark() const {
    std::ifstream in(file_, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    const std::string text = all.str();
    // A cleared log starts again from its beginning.
    size_t pos = offset_ <= text.size() ? offset_ : 0;
    std::vector<logged_request> requests;
    while (pos < text.size()) {
        const size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) throw std::runtime_error("request log: header line cut short");
        const std::string header = text.substr(pos, eol - pos);
        const auto field = [&](const std::string& key) {
            const size_t at = header.find(" " + key + "=");
            if (at == std::string::npos) throw std::runtime_error("request log: no " + key + " in " + header);
            const size_t from = at + key.size() + 2;
            return header.substr(from, header.find(' ', from) - from);
        };
        const size_t bytes = std::stoul(field("bytes"));
        if (eol + 1 + bytes > text.size()) throw std::runtime_error("request log: record cut short");
        requests.push_back({field("name"), text.substr(eol + 1, bytes)});
        pos = eol + 1 + bytes + 1;
    }
    return requests;
}
