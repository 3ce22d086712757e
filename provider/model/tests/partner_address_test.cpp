#include <model/filer_object_container.h>

#include <gtest/gtest.h>

TEST(PartnerAddress, QualifiedDnsNameLendsThePartnerItsDomainSuffix) {
    const struct {
        std::u16string filer, partner, expected;
    } cases[] = {
        {u"filer1.lab.example.com", u"filer2", u"filer2.lab.example.com"},
        {u"filer1.lab", u"filer2", u"filer2.lab"},
        {u"filer1", u"filer2", u"filer2"},
        {u"10.1.2.3", u"filer2", u"filer2"},
        {u"10.1.2.3", u"10.1.2.4", u"10.1.2.4"},
    };
    for (const auto& c : cases) EXPECT_EQ(PartnerAddress(c.filer, c.partner), c.expected);
}
