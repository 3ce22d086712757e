// A CHAP secret reaches the appliance only as its encrypted request child: no
// trace line, event or error text carries it in any form.
#include <gtest/gtest.h>

#include <filer/filer_classes.h>
#include <hostlib/event_log.h>
#include <hostlib/trace.h>
#include <platform/registry.h>
#include <platform/text.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "filer_sim_support.h"

namespace {

using namespace filer_e2e;

std::string file_text(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string hex_of(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char b : bytes) hex += {digits[b >> 4], digits[b & 15]};
    return hex;
}

// A state root of its own, with the trace log switched on into it.
class isolated_trace {
public:
    isolated_trace() {
        char pattern[] = "/tmp/filer-secret-XXXXXX";
        root_ = mkdtemp(pattern);
        if (const char* old = std::getenv("SANPROV_ROOT")) previous_ = old;
        setenv("SANPROV_ROOT", root_.c_str(), 1);
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\sanprovd\\Parameters", 0, nullptr,
                        0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        const std::string file = trace_file().string();
        const std::u16string value(file.begin(), file.end());
        RegSetValueExW(key, u"LogFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
        RegCloseKey(key);
        trace_open();
    }
    ~isolated_trace() {
        trace_close();
        previous_.empty() ? unsetenv("SANPROV_ROOT") : setenv("SANPROV_ROOT", previous_.c_str(), 1);
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    std::filesystem::path trace_file() const { return root_ / "trace.log"; }
    std::filesystem::path event_file() const { return root_ / "eventlog" / "SanProvD.jsonl"; }

private:
    std::filesystem::path root_;
    std::string previous_;
};

TEST(ChapSecrets, NoTraceEventOrErrorTextCarriesTheSecret) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.1:"});
    isolated_trace trace;
    auto filer = create_for(sim);
    const std::string secret = "S3cr3t-CHAP-Value!";
    const std::span<const BYTE> bytes(reinterpret_cast<const BYTE*>(secret.data()), secret.size());

    filer->fapi_iscsi_initiator_add_auth(u"CHAP", u"iqn.h6", bytes, u"iqn.h6", bytes, u"iqn.h6");
    const std::string cipher = request_element(last_body(sim)).children.at(2).text;
    ASSERT_EQ(cipher.size(), 2 * secret.size());

    // Failures reported as the service reports them: trace and event log.
    const CEventLogReporter reporter;
    for (int attempt = 0; attempt < 2; ++attempt) {
        fail_next(sim, "iscsi-initiator-add-auth", 13115, "bad password");
        try {
            if (attempt == 0)
                filer->fapi_iscsi_initiator_add_auth(u"CHAP", u"iqn.h6", {}, u"", bytes, u"iqn.h6");
            else
                filer->fapi_iscsi_initiator_set_default_auth(u"CHAP", bytes, u"x", std::vector<BYTE>(600, 'k'), u"x");
            ADD_FAILURE() << "the appliance's refusal was not raised";
        } catch (const _com_error& error) {
            reporter.LogEvent(error);
            const std::string text = platform::wide_to_utf8_lossy(error.Description());
            trace_printf("%s", text.c_str());
            EXPECT_EQ(text.find(secret), std::string::npos);
        }
    }
    trace_close();

    const std::string events = file_text(trace.event_file());
    const std::string lines = file_text(trace.trace_file());
    ASSERT_NE(events.find("An attempt to add authentication to initiator 'iqn.h6' failed"), std::string::npos);
    ASSERT_NE(lines.find("iqn.h6"), std::string::npos);
    for (const std::string& form : {secret, hex_of(secret), cipher}) {
        EXPECT_EQ(events.find(form), std::string::npos) << form;
        EXPECT_EQ(lines.find(form), std::string::npos) << form;
    }
}

}  // namespace
