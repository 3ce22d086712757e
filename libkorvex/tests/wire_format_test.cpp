// The request's text on the wire: the serialiser, the document around it and
// the status texts of failed exchanges.
#include <korvex/http.h>
#include <korvex/server.h>
#include <korvex/status.h>

#include <adt/stab.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

#include "korvex_support.h"

using testsupport::ElemPtr;
using testsupport::ServerPtr;

namespace {

int append(const char* text, size_t n, void* context) {
    static_cast<std::string*>(context)->append(text, n);
    return 1;
}

std::string serialise(kx_elem_rec* e, int indent = -1, const char* prefix = "", int escape = 1) {
    std::string out;
    EXPECT_EQ(kx_elem_serialize(e, indent, prefix, append, &out, escape), 1);
    return out;
}

ElemPtr sample_request() {
    ElemPtr r(kx_elem_create("lun-create"));
    kx_child_add_text(r.get(), "path", "/vol/v1/lun0");
    kx_child_add_text(r.get(), "comment", "");
    kx_child_append(r.get(), kx_elem_create("space-reserved"));
    return r;
}

}  // namespace

TEST(Serialiser, CompactFormKeepsEmptyTextApartFromNoText) {
    ElemPtr r = sample_request();
    EXPECT_EQ(serialise(r.get()),
              "<lun-create><path>/vol/v1/lun0</path><comment></comment><space-reserved/></lun-create>");
}

TEST(Serialiser, EscapesTextButWritesAttributeValuesAsStored) {
    ElemPtr e(kx_elem_create("v"));
    kx_elem_set_text(e.get(), "a\"b&c'd<e>f\xc3\xa9");
    kx_elem_put_attr(e.get(), "note", "x<&\"'>y");
    EXPECT_EQ(serialise(e.get()), "<v note=\"x<&\"'>y\">a&quot;b&amp;c&apos;d&lt;e&gt;f\xc3\xa9</v>");
    EXPECT_EQ(serialise(e.get(), -1, "", 0), "<v note=\"x<&\"'>y\">a\"b&c'd<e>f\xc3\xa9</v>");
}

TEST(Serialiser, PrefixesEveryElementAndAttributeName) {
    ElemPtr e(kx_elem_create("outer"));
    kx_elem_put_attr(e.get(), "k", "v");
    kx_child_add_text(e.get(), "inner", "t");
    EXPECT_EQ(serialise(e.get(), -1, "p:"), "<p:outer p:k=\"v\"><p:inner>t</p:inner></p:outer>");
}

TEST(Serialiser, IndentedFormNestsChildrenByEight) {
    ElemPtr r = sample_request();
    EXPECT_EQ(serialise(r.get(), 0),
              "<lun-create>\n"
              "        <path>/vol/v1/lun0</path>\n"
              "        <comment></comment>\n"
              "        <space-reserved/>\n"
              "</lun-create>\n");
    ElemPtr outer(kx_elem_create("a"));
    kx_child_append(outer.get(), sample_request().release());
    EXPECT_EQ(serialise(outer.get(), 2),
              "  <a>\n"
              "          <lun-create>\n"
              "                  <path>/vol/v1/lun0</path>\n"
              "                  <comment></comment>\n"
              "                  <space-reserved/>\n"
              "          </lun-create>\n"
              "  </a>\n");
}

TEST(Serialiser, RefusesNoElementAndStopsAtAFailedOutput) {
    std::string out;
    errno = 0;
    EXPECT_EQ(kx_elem_serialize(nullptr, -1, "", append, &out, 1), 0);
    EXPECT_EQ(errno, EINVAL);
    ElemPtr r = sample_request();
    int calls = 0;
    auto failing = [](const char*, size_t, void* c) -> int { return ++*static_cast<int*>(c) < 3; };
    EXPECT_EQ(kx_elem_serialize(r.get(), -1, "", failing, &calls, 1), 0);
    EXPECT_EQ(calls, 3);
}

TEST(RequestDocument, WrapsTheRequestInTheRootWithXmlnsBeforeVersion) {
    ServerPtr s(kx_server_create("127.0.0.1", 1, 0));
    ElemPtr r(kx_elem_create("system-get-version"));
    kx_elem_rec* root = nullptr;
    char* doc = kx_request_document(s.get(), r.get(), kx_dtd_system_id(s->dtdKind), KX_PREFIX_MAX, &root);
    ASSERT_TRUE(doc);
    EXPECT_STREQ(doc,
                 "<?xml version='1.0' encoding='utf-8' ?>\n"
                 "<!DOCTYPE korvex SYSTEM 'file:/etc/korvex_filer.dtd'>\n"
                 "<korvex xmlns=\"http://www.zarvo.com/filer/admin\" version=\"1.0\"><system-get-version/></korvex>");
    ASSERT_TRUE(root);
    EXPECT_EQ(r->next, nullptr);
    kx_request_unwrap(root, r.get());
    free(doc);
    EXPECT_EQ(r->next, nullptr);
    EXPECT_EQ(r->firstChild, nullptr);
    EXPECT_EQ(r->attributes, nullptr);
}

TEST(RequestDocument, SendsAKorvexRequestAsTheRootAndLeavesItsAttributes) {
    ServerPtr s(kx_server_create("h", 2, 7));
    s->dtdKind = KX_DTD_AGENT;
    ElemPtr r(kx_elem_create("korvex"));
    kx_elem_put_attr(r.get(), "version", "9.9");
    kx_child_add_text(r.get(), "x", "1");
    kx_elem_rec* root = nullptr;
    char* doc = kx_request_document(s.get(), r.get(), kx_dtd_system_id(s->dtdKind), KX_PREFIX_MAX, &root);
    ASSERT_TRUE(doc);
    EXPECT_EQ(root, nullptr);
    EXPECT_STREQ(doc,
                 "<?xml version='1.0' encoding='utf-8' ?>\n"
                 "<!DOCTYPE korvex SYSTEM 'file:/etc/korvex_agent.dtd'>\n"
                 "<korvex xmlns=\"http://www.zarvo.com/filer/admin\" version=\"2.7\"><x>1</x></korvex>");
    EXPECT_STREQ(stab_get(r->attributes, "version"), "2.7");
    free(doc);
}

TEST(RequestDocument, CutsThePrefixAtItsLimit) {
    ServerPtr s(kx_server_create("h", 1, 0));
    free(s->prefix);
    s->prefix = strdup("abcdefghijklmnopqrstuvwxyz0123456789");
    ElemPtr r(kx_elem_create("q"));
    kx_elem_rec* root = nullptr;
    char* doc = kx_request_document(s.get(), r.get(), "d", 14, &root);
    ASSERT_TRUE(doc);
    EXPECT_NE(std::string(doc).find("<abcdefghijklmn:korvex abcdefghijklmn:xmlns="), std::string::npos) << doc;
    EXPECT_NE(std::string(doc).find("<abcdefghijklmn:q/></abcdefghijklmn:korvex>"), std::string::npos) << doc;
    kx_request_unwrap(root, r.get());
    free(doc);
}

TEST(RequestDocument, NamesTheSystemIdentifierOfEachDtdKind) {
    EXPECT_STREQ(kx_dtd_system_id(KX_DTD_FILER), "file:/etc/korvex_filer.dtd");
    EXPECT_STREQ(kx_dtd_system_id(KX_DTD_GENERIC), "file:/etc/korvex.dtd");
    EXPECT_STREQ(kx_dtd_system_id(KX_DTD_AGENT), "file:/etc/korvex_agent.dtd");
    EXPECT_STREQ(kx_dtd_system_id(KX_DTD_VESK), "file:/etc/korvex_vesk.dtd");
}

TEST(StatusTable, GivesEachFailedStatusItsReasonAndErrno) {
    struct Case {
        int code;
        int wire;
        int detail;
        const char* reason;
        int error;
    };
    const Case cases[] = {
        {401, KX_WIRE_NAME_HTTP, 0, "HTTP POST - Authorization failed", KX_ERR_AUTH},
        {407, KX_WIRE_NAME_HTTP, 0, "HTTP POST - Proxy authentication required", KX_ERR_AUTH},
        {500, KX_WIRE_NAME_HTTP, 0, "HTTP POST - Internal error", KX_ERR_TRANSPORT},
        {404, KX_WIRE_NAME_HTTP, 0, "HTTP POST - URL not found", KX_ERR_TRANSPORT},
        {302, KX_WIRE_NAME_HTTP, 0, "HTTP POST - failed, status code = 302", KX_ERR_TRANSPORT},
        {200, KX_WIRE_NAME_HTTP, 0, "HTTP POST - failed, status code = 200", KX_ERR_TRANSPORT},
        {554, KX_WIRE_NAME_QSM, 10061, "QSM - Can't connect to host (10061)", KX_ERR_CONNECT},
        {555, KX_WIRE_NAME_QSM, 0, "QSM - Can't connect using 'hostequiv' (no permission, must be root)",
         KX_ERR_CONNECT},
        {552, KX_WIRE_NAME_QSM, 0, "QSM - Call succeeded, but can't allocate reply XML buffer", KX_ERR_BUFFER},
        {560, KX_WIRE_NAME_QSM, 0, "QSM - Can't read reply header (line 2)", KX_ERR_REPLY_HEADER},
        {564, KX_WIRE_NAME_QSM, 0, "QSM - Call succeeded, but reply was consumed by debugging code",
         KX_ERR_REPLY_HEADER},
        {565, KX_WIRE_NAME_QSM, 0, "QSM - Server unexpectedly dropped the connection for this request",
         KX_ERR_TRANSPORT},
        {-12, KX_WIRE_NAME_HTTP, 0, "HTTP POST - failed, status code = -12", KX_ERR_TRANSPORT},
    };
    for (const Case& c : cases) {
        char buffer[KX_REASON_SIZE];
        EXPECT_STREQ(kx_status_text(c.code, c.wire, c.detail, buffer, sizeof buffer), c.reason) << c.code;
        EXPECT_EQ(kx_status_errno(c.code), c.error) << c.code;
    }
}

TEST(StatusTable, CutsAReasonAtTheBuffer) {
    char buffer[12];
    EXPECT_STREQ(kx_status_text(401, KX_WIRE_NAME_HTTP, 0, buffer, sizeof buffer), "HTTP POST -");
}
