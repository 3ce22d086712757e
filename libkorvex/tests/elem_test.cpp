#include <adt/hash.h>
#include <adt/stab.h>
#include <korvex/elem.h>
#include <korvex/results.h>

#include <cctype>
#include <cerrno>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "korvex_support.h"

namespace {

using testsupport::ElemPtr;

std::vector<std::string> child_names(kx_elem_rec* e) {
    std::vector<std::string> names;
    kx_elem_rec* cursor = kx_children_begin(e);
    while (kx_elem_rec* c = kx_children_next(&cursor)) names.emplace_back(c->name);
    return names;
}

std::vector<std::string> attribute_names(kx_elem_rec* e) {
    std::vector<std::string> names;
    hash_cursor cursor{};
    for (const char* n = stab_first(e->attributes, &cursor); n; n = stab_next(e->attributes, &cursor))
        names.emplace_back(n);
    return names;
}

}  // namespace

TEST(Elements, ChildLookupsTakeTheFirstMatchByExactName) {
    ElemPtr root(kx_elem_create("lun-list-info"));
    ASSERT_TRUE(root);
    ASSERT_NE(kx_child_add_text(root.get(), "size", "12abc"), nullptr);
    ASSERT_NE(kx_child_add_text(root.get(), "size", "99"), nullptr);
    ASSERT_NE(kx_child_add_text(root.get(), "empty", ""), nullptr);
    ASSERT_NE(kx_child_append(root.get(), kx_elem_create("bare")), nullptr);
    ASSERT_NE(kx_child_add_text(root.get(), "word", "  -7 lives"), nullptr);
    ASSERT_NE(kx_child_add_text(root.get(), "alpha", "abc"), nullptr);

    EXPECT_EQ(kx_elem_find_child(root.get(), "size"), root->firstChild);
    EXPECT_EQ(kx_elem_find_child(root.get(), "Size"), nullptr);
    EXPECT_STREQ(kx_child_text(root.get(), "size"), "12abc");
    EXPECT_EQ(kx_child_int(root.get(), "size", -1), 12);
    EXPECT_EQ(kx_child_int(root.get(), "word", -1), -7);
    EXPECT_EQ(kx_child_int(root.get(), "alpha", -1), 0);
    EXPECT_EQ(kx_child_int(root.get(), "empty", -1), 0);
    EXPECT_EQ(kx_child_int(root.get(), "bare", -1), 0);
    EXPECT_EQ(kx_child_int(root.get(), "missing", 42), 42);

    // Absent text and empty text stay different states; both read as "".
    EXPECT_EQ(kx_elem_find_child(root.get(), "bare")->text, nullptr);
    EXPECT_STREQ(kx_elem_find_child(root.get(), "empty")->text, "");
    EXPECT_STREQ(kx_child_text(root.get(), "bare"), "");
    EXPECT_EQ(kx_child_text(root.get(), "missing"), nullptr);

    EXPECT_EQ(child_names(root.get()), (std::vector<std::string>{"size", "size", "empty", "bare", "word", "alpha"}));
    kx_elem_rec* none = kx_children_begin(nullptr);
    EXPECT_EQ(kx_children_next(&none), nullptr);
}

TEST(Elements, FailedBuildsReportErrnoAndLeaveTheTreeAsItWas) {
    ElemPtr root(kx_elem_create("r"));
    const struct {
        kx_elem_rec* parent;
        const char* name;
        const char* text;
    } refused[] = {{root.get(), nullptr, "t"}, {root.get(), "n", nullptr}, {nullptr, "n", "t"}};
    for (const auto& c : refused) {
        errno = 0;
        EXPECT_EQ(kx_child_add_text(c.parent, c.name, c.text), nullptr);
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(root->firstChild, nullptr);

    errno = 0;
    EXPECT_EQ(kx_elem_create(nullptr), nullptr);
    EXPECT_EQ(errno, EINVAL);
    ASSERT_EQ(kx_elem_set_text(root.get(), "old"), 1);
    EXPECT_EQ(kx_elem_set_text(root.get(), nullptr), 0);
    EXPECT_STREQ(root->text, "old");
    EXPECT_EQ(kx_elem_put_attr(nullptr, "a", "b"), 0);
    EXPECT_EQ(kx_child_append(root.get(), nullptr), nullptr);
}

TEST(Elements, UnlinkingKeepsTheLastChildLinkRight) {
    ElemPtr root(kx_elem_create("r"));
    kx_elem_rec* a = kx_child_add_text(root.get(), "a", "1");
    kx_elem_rec* b = kx_child_add_text(root.get(), "b", "2");
    ElemPtr stranger(kx_elem_create("s"));

    kx_elem_unlink_child(root.get(), stranger.get());
    EXPECT_EQ(child_names(root.get()), (std::vector<std::string>{"a", "b"}));

    kx_elem_unlink_child(root.get(), b);
    ElemPtr unlinkedB(b);
    EXPECT_EQ(root->lastChild, a);
    EXPECT_EQ(a->next, nullptr);

    kx_elem_unlink_child(root.get(), a);
    ElemPtr unlinkedA(a);
    EXPECT_EQ(root->firstChild, nullptr);
    EXPECT_EQ(root->lastChild, nullptr);

    // Reused elements come back with their sibling link cleared.
    a->next = b;
    kx_child_append(root.get(), unlinkedA.release());
    EXPECT_EQ(a->next, nullptr);
    kx_child_append(root.get(), unlinkedB.release());
    EXPECT_EQ(child_names(root.get()), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(root->lastChild, b);
}

TEST(Elements, AttributesReplaceWithoutRegardToCase) {
    ElemPtr e(kx_elem_create("korvex"));
    ASSERT_EQ(kx_elem_put_attr(e.get(), "version", "1.0"), 1);
    ASSERT_EQ(kx_elem_put_attr(e.get(), "xmlns", "urn:a"), 1);
    ASSERT_EQ(kx_elem_put_attr(e.get(), "VERSION", "1.1"), 1);
    EXPECT_EQ(attribute_names(e.get()), (std::vector<std::string>{"xmlns", "version"}));
    EXPECT_STREQ(stab_get(e->attributes, "version"), "1.1");
}

TEST(EncryptedChildren, Rc4WithTheGivenKeyAsLowercaseHex) {
    ElemPtr req(kx_elem_create("iscsi-initiator-set-auth"));
    const struct {
        const char* key;
        const char* value;
        const char* hex;
    } vectors[] = {{"Key", "Plaintext", "bbf316e8d940af0ad3"},
                   {"Wiki", "pedia", "1021bf0420"},
                   {"Secret", "Attack at dawn", "45a01f645fc35b383552544b9bf5"}};
    for (const auto& v : vectors) {
        kx_elem_rec* child = kx_child_add_encrypted(req.get(), "password", v.value, v.key);
        ASSERT_NE(child, nullptr);
        EXPECT_STREQ(child->text, v.hex);
    }
    EXPECT_STREQ(kx_child_add_encrypted(req.get(), "outbound-password", "", nullptr)->text, "");
}

TEST(EncryptedChildren, TheBuiltInKeyIsStableAndDecryptsBack) {
    const unsigned char* key = kx_builtin_key();
    int printable = 0, control = 0;
    for (int i = 0; i < KX_BUILTIN_KEY_LENGTH; ++i) (std::isprint(key[i]) ? printable : control)++;
    EXPECT_EQ(printable, 15);
    EXPECT_EQ(control, 1);

    ElemPtr req(kx_elem_create("r"));
    const std::string secret = "chap-secret-of-16";
    const char* first = kx_child_add_encrypted(req.get(), "password", secret.c_str(), nullptr)->text;
    const char* second = kx_child_add_encrypted(req.get(), "password", secret.c_str(), nullptr)->text;
    EXPECT_STREQ(first, second);
    ASSERT_EQ(std::string(first).size(), 2 * secret.size());
    for (const char* p = first; *p; ++p) EXPECT_TRUE(std::isdigit(*p) || (*p >= 'a' && *p <= 'f')) << *p;

    // RC4 is its own inverse: the same key over the cipher bytes gives the secret.
    const std::string keyText(reinterpret_cast<const char*>(key), KX_BUILTIN_KEY_LENGTH);
    std::string cipher;
    for (size_t i = 0; i < secret.size(); ++i) cipher += static_cast<char>(std::stoi(std::string(first + 2 * i, 2), nullptr, 16));
    const char* plainHex = kx_child_add_encrypted(req.get(), "check", cipher.c_str(), keyText.c_str())->text;
    std::string plain;
    for (size_t i = 0; i < secret.size(); ++i) plain += static_cast<char>(std::stoi(std::string(plainHex + 2 * i, 2), nullptr, 16));
    EXPECT_EQ(plain, secret);
}

TEST(EncryptedChildren, AnEmptyKeyOrMissingArgumentIsRefusedAndNothingIsAppended) {
    ElemPtr req(kx_elem_create("r"));
    const struct {
        kx_elem_rec* parent;
        const char* name;
        const char* value;
        const char* key;
    } refused[] = {{req.get(), "password", "secret", ""},
                   {req.get(), nullptr, "secret", nullptr},
                   {req.get(), "password", nullptr, nullptr},
                   {nullptr, "password", "secret", nullptr}};
    for (const auto& c : refused) {
        errno = 0;
        EXPECT_EQ(kx_child_add_encrypted(c.parent, c.name, c.value, c.key), nullptr);
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(req->firstChild, nullptr);
}

TEST(Results, StatusReasonAndErrorNumberRules) {
    const struct {
        const char* status;
        const char* reason;
        int errnum;
        int passed;
        int errnoValue;
        const char* reasonText;
    } cases[] = {
        {"passed", "ignored", 0, 1, 0, nullptr},
        {"failed", "LUN not found", 9017, 0, 9017, "LUN not found"},
        {"failed", "", 13011, 0, 13011, "Unknown"},
        {"failed", nullptr, -1, 0, -1, "Unknown"},
        {"PASSED", nullptr, 5, 0, 5, "Unknown"},
    };
    for (const auto& c : cases) {
        ElemPtr r(kx_results_make(c.status, c.reason, c.errnum));
        ASSERT_TRUE(r);
        EXPECT_STREQ(r->name, "results");
        EXPECT_EQ(kx_results_passed(r.get()), c.passed) << c.status;
        EXPECT_EQ(kx_results_errno_value(r.get()), c.errnoValue);
        if (c.reasonText) EXPECT_STREQ(kx_results_reason_text(r.get()), c.reasonText);
        else EXPECT_EQ(kx_results_reason_text(r.get()), nullptr);
    }
}

TEST(Results, AttributesAsTheApplianceMayWriteThem) {
    ElemPtr r(kx_elem_create("results"));
    EXPECT_EQ(kx_results_passed(r.get()), 0);
    EXPECT_EQ(kx_results_errno_value(r.get()), -1);
    EXPECT_STREQ(kx_results_reason_text(r.get()), "Unknown");

    kx_elem_put_attr(r.get(), "STATUS", "passed");
    EXPECT_EQ(kx_results_passed(r.get()), 1);
    kx_elem_put_attr(r.get(), "Status", "failed");
    kx_elem_put_attr(r.get(), "errno", "n/a");
    EXPECT_EQ(kx_results_errno_value(r.get()), 0);
    kx_elem_put_attr(r.get(), "errno", "13001 and more");
    EXPECT_EQ(kx_results_errno_value(r.get()), 13001);
}

TEST(Results, MadeResultsListTheirAttributesInWireOrder) {
    ElemPtr r(kx_results_make("failed", "Can't connect to host (err=10061).", 10061));
    EXPECT_EQ(attribute_names(r.get()), (std::vector<std::string>{"reason", "status", "errno"}));
    ElemPtr bare(kx_results_make("failed", nullptr, -1));
    EXPECT_EQ(attribute_names(bare.get()), (std::vector<std::string>{"status"}));
}

TEST(Elements, DestroyingARootFreesADeepAndWideTree) {
    ElemPtr root(kx_elem_create("korvex"));
    kx_elem_rec* parent = root.get();
    for (int depth = 0; depth < 50; ++depth) {
        for (int i = 0; i < 20; ++i) kx_child_add_text(parent, "leaf", std::string(40, 'v').c_str());
        kx_elem_put_attr(parent, "depth", std::to_string(depth).c_str());
        parent = kx_child_append(parent, kx_elem_create("level"));
    }
    root.reset();  // the leak and double-free checks of the sanitizer builds guard this
    SUCCEED();
}
