#include <hostlib/guid_associator.h>

#include <gtest/gtest.h>

namespace {

GUID id(uint8_t first, uint8_t last = 0) {
    GUID g{};
    auto* bytes = reinterpret_cast<uint8_t*>(&g);
    bytes[0] = first;
    bytes[15] = last;
    return g;
}

using Ids = std::vector<GUID>;

class GuidAssociatorTest : public ::testing::Test {
protected:
    GuidAssociator assoc;
    const GUID a = id(1), b = id(2), c = id(3);
};

}  // namespace

TEST_F(GuidAssociatorTest, AddIsSymmetricAndIdempotent) {
    EXPECT_TRUE(assoc.Add(a, b));
    EXPECT_TRUE(assoc.Add(a, b));
    EXPECT_EQ(assoc.Query(a), Ids{b});
    EXPECT_EQ(assoc.Query(b), Ids{a});

    EXPECT_TRUE(assoc.Remove(a, b));
    EXPECT_TRUE(assoc.Query(a).empty());
    EXPECT_TRUE(assoc.Query(b).empty());
    // Neither id keeps an entry.
    EXPECT_FALSE(assoc.Remove(a));
    EXPECT_FALSE(assoc.Remove(b));
}

TEST_F(GuidAssociatorTest, RemovingAnIdDropsItFromEveryPartner) {
    assoc.Add(a, b);
    assoc.Add(a, c);
    assoc.Add(b, c);
    EXPECT_TRUE(assoc.Remove(a));
    EXPECT_TRUE(assoc.Query(a).empty());
    EXPECT_EQ(assoc.Query(b), Ids{c});
    EXPECT_EQ(assoc.Query(c), Ids{b});
}

TEST_F(GuidAssociatorTest, RemoveOfAnUnknownPairOrId) {
    assoc.Add(a, b);
    EXPECT_TRUE(assoc.Remove(a, c));  // a has an entry: true, nothing changes
    EXPECT_EQ(assoc.Query(a), Ids{b});
    EXPECT_FALSE(assoc.Remove(c, a));
    EXPECT_FALSE(assoc.Remove(c));
}

TEST_F(GuidAssociatorTest, QueryFollowsTheRawByteOrder) {
    const GUID low = id(0x01, 0xFF), high = id(0xFF, 0x00);
    assoc.Add(a, high);
    assoc.Add(a, low);
    EXPECT_EQ(assoc.Query(a), (Ids{low, high}));
}

TEST_F(GuidAssociatorTest, SelfAssociationLeavesRemovalConsistent) {
    assoc.Add(a, a);
    assoc.Add(a, b);
    EXPECT_EQ(assoc.Query(a), (Ids{a, b}));
    EXPECT_TRUE(assoc.Remove(a));
    EXPECT_TRUE(assoc.Query(a).empty());
    EXPECT_TRUE(assoc.Query(b).empty());
    EXPECT_FALSE(assoc.Remove(b));

    assoc.Add(c, c);
    EXPECT_TRUE(assoc.Remove(c, c));
    EXPECT_FALSE(assoc.Remove(c));
}
