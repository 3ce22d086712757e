// The administration library's request entry as the client sees it: it
// answers by the request's content so that tests can steer it.
//   a request holding "fail-"  + number: that Windows error code, no reply
//   otherwise: a passed reply that echoes the host and the request document
#include <cstdlib>
#include <cstring>
#include <platform/memory.h>
#include <platform/text.h>
#include <string>

extern "C" __attribute__((visibility("default"))) unsigned int FapiInvoke(const char16_t* host, const char16_t* request,
                                                                          char16_t** reply) {
    const std::string text = platform::wide_to_utf8_lossy(request);
    if (const auto at = text.find("fail-"); at != std::string::npos)
        return static_cast<unsigned int>(std::strtoul(text.c_str() + at + 5, nullptr, 10));
    const std::string answer = "<korvex version='1.1'><results status=\"passed\"><host>" +
                               platform::wide_to_utf8_lossy(host) + "</host><request><![CDATA[" + text +
                               "]]></request></results></korvex>";
    const std::u16string wide = platform::utf8_to_wide_lossy(answer);
    auto* out = static_cast<char16_t*>(LocalAlloc(LMEM_FIXED, (wide.size() + 1) * sizeof(char16_t)));
    if (!out) return 8;
    std::memcpy(out, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
    *reply = out;
    return 0;
}
