#include <adt/array.h>
#include <adt/hash.h>
#include <adt/stab.h>
#include <adt/str.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct StabDeleter {
    void operator()(stab_rec* t) const { stab_free(t); }
};
using StabPtr = std::unique_ptr<stab_rec, StabDeleter>;

std::vector<std::string> names_in_order(stab_rec* t) {
    std::vector<std::string> names;
    hash_cursor cursor{};
    for (const char* n = stab_first(t, &cursor); n; n = stab_next(t, &cursor)) names.emplace_back(n);
    return names;
}

}  // namespace

TEST(StringTable, BucketsFollowTheWeightedCaseFoldingSum) {
    const struct {
        const char* name;
        unsigned bucket;
    } cases[] = {{"xmlns", 70}, {"version", 85}, {"reason", 18}, {"status", 36}, {"errno", 56}};
    for (const auto& c : cases) {
        EXPECT_EQ(hash_nocase(c.name) % STAB_BUCKETS, c.bucket) << c.name;
        std::string upper = c.name;
        for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        EXPECT_EQ(hash_nocase(upper.c_str()), hash_nocase(c.name));
    }
    // Only the first 128 bytes count, and bytes above 0x7F weigh as negative numbers.
    const std::string longA = std::string(128, 'a') + "x", longB = std::string(128, 'a') + "y";
    EXPECT_EQ(hash_nocase(longA.c_str()), hash_nocase(longB.c_str()));
    EXPECT_EQ(hash_case("\xff"), static_cast<uint16_t>(-1));
}

TEST(StringTable, IterationOrderIsBucketOrderWithTheLatestInsertFirst) {
    StabPtr results(stab_new("status", "failed", "reason", "r", "errno", "13001", nullptr));
    EXPECT_EQ(names_in_order(results.get()), (std::vector<std::string>{"reason", "status", "errno"}));

    StabPtr root(stab_new("version", "1.0", "xmlns", "urn:x", nullptr));
    EXPECT_EQ(names_in_order(root.get()), (std::vector<std::string>{"xmlns", "version"}));

    // Two names of one bucket: the later one heads the chain.
    std::string first = "k0", second;
    for (int i = 1; second.empty(); ++i) {
        const std::string candidate = "k" + std::to_string(i);
        if (hash_nocase(candidate.c_str()) % STAB_BUCKETS == hash_nocase(first.c_str()) % STAB_BUCKETS) second = candidate;
    }
    StabPtr chain(stab_new(first.c_str(), "1", second.c_str(), "2", nullptr));
    EXPECT_EQ(names_in_order(chain.get()), (std::vector<std::string>{second, first}));
}

TEST(StringTable, NamesIgnoreCaseAndAbsentNamesReadEmpty) {
    StabPtr t(stab_new(nullptr));
    ASSERT_TRUE(t);
    EXPECT_EQ(stab_set(t.get(), "Content-Length", "42"), 0);
    EXPECT_STREQ(stab_get(t.get(), "content-length"), "42");
    EXPECT_EQ(stab_get_int(t.get(), "CONTENT-LENGTH", -1), 42);
    EXPECT_EQ(stab_set(t.get(), "CONTENT-length", "7x"), 0);
    EXPECT_EQ(names_in_order(t.get()), (std::vector<std::string>{"Content-Length"}));
    EXPECT_EQ(stab_get_int(t.get(), "content-length", -1), 7);

    ASSERT_NE(stab_get(t.get(), "missing"), nullptr);
    EXPECT_STREQ(stab_get(t.get(), "missing"), "");
    EXPECT_STREQ(stab_get(nullptr, "missing"), "");
    EXPECT_EQ(stab_get_int(t.get(), "missing", 5), 5);
    EXPECT_EQ(stab_get_int(nullptr, "x", 9), 9);
}

TEST(StringTable, AMissingArgumentIsRefusedAndStoresNothing) {
    StabPtr t(stab_new("kept", "1", nullptr));
    ASSERT_TRUE(t);
    const struct {
        stab_rec* table;
        const char* name;
        const char* value;
    } cases[] = {{t.get(), "kept", nullptr}, {t.get(), nullptr, "2"}, {nullptr, "kept", "2"}};
    for (const auto& c : cases) {
        errno = 0;
        EXPECT_EQ(stab_set(c.table, c.name, c.value), EINVAL);
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_STREQ(stab_get(t.get(), "kept"), "1");
}

TEST(StringTable, ShortAndLongNamesAndValuesReadBackAndReplace) {
    StabPtr t(stab_new(nullptr));
    const std::string v31(31, 'v'), v32(32, 'w'), longName(40, 'N');
    ASSERT_EQ(stab_set(t.get(), "a", v31.c_str()), 0);
    ASSERT_EQ(stab_set(t.get(), "b", v32.c_str()), 0);
    ASSERT_EQ(stab_set(t.get(), longName.c_str(), "x"), 0);
    EXPECT_EQ(stab_get(t.get(), "a"), v31);
    EXPECT_EQ(stab_get(t.get(), "b"), v32);
    EXPECT_STREQ(stab_get(t.get(), std::string(40, 'n').c_str()), "x");
    // Long over short, short over long, and a value set from its own storage.
    ASSERT_EQ(stab_set(t.get(), "a", v32.c_str()), 0);
    ASSERT_EQ(stab_set(t.get(), "b", "short"), 0);
    ASSERT_EQ(stab_set(t.get(), "a", stab_get(t.get(), "a")), 0);
    EXPECT_EQ(stab_get(t.get(), "a"), v32);
    EXPECT_STREQ(stab_get(t.get(), "b"), "short");
}

namespace {
struct Item {
    const char* name;
    hash_link link;
};
int g_freedItems = 0;
// Fifteen names: one more than seven buckets hold before they grow.
const char* const names[15] = {"n0", "n1", "n2", "n3", "n4", "n5", "n6", "n7",
                               "n8", "n9", "n10", "n11", "n12", "n13", "n14"};
void free_item(void* p) {
    ++g_freedItems;
    delete static_cast<Item*>(p);
}
}  // namespace

TEST(HashTable, GrowsToFifteenBucketsAtTheFifteenthInsertAndReplacesByName) {
    hash_rec* t = hash_new(0, offsetof(Item, link), nullptr, nullptr, free_item);
    ASSERT_NE(t, nullptr);
    for (int i = 0; i < 14; ++i) ASSERT_EQ(hash_insert(t, names[i], new Item{names[i], {}}), 0);
    EXPECT_EQ(t->bucketCount, 7);
    ASSERT_EQ(hash_insert(t, names[14], new Item{names[14], {}}), 0);
    EXPECT_EQ(t->bucketCount, 15);
    for (const char* n : names) EXPECT_NE(hash_find(t, n), nullptr) << n;

    g_freedItems = 0;
    auto* replacement = new Item{"N3", {}};
    EXPECT_EQ(hash_insert(t, "N3", replacement), 0);
    EXPECT_EQ(g_freedItems, 1);
    EXPECT_EQ(t->count, 15u);
    EXPECT_EQ(hash_find(t, "n3"), replacement);

    t->replace = 0;
    auto* refused = new Item{"n4", {}};
    EXPECT_EQ(hash_insert(t, "n4", refused), 1);
    delete refused;

    g_freedItems = 0;
    hash_release(t);
    EXPECT_EQ(g_freedItems, 15);
}

namespace {
int g_made = 0;
void* make_item(const char* name, void* fail) {
    ++g_made;
    return fail ? nullptr : new Item{name, {}};
}
}  // namespace

TEST(HashTable, FindOrAddMakesAnEntryOnlyForANewNameAndClearingEmptiesIt) {
    hash_rec* t = hash_new(0, offsetof(Item, link), nullptr, nullptr, free_item);
    ASSERT_NE(t, nullptr);
    g_made = 0;
    for (const char* n : names) ASSERT_NE(hash_find_or_add(t, n, make_item, nullptr), nullptr) << n;
    EXPECT_EQ(g_made, 15);
    EXPECT_EQ(t->count, 15u);
    EXPECT_EQ(t->bucketCount, 15);  // grown before the fifteenth entry went in
    for (const char* n : names) EXPECT_NE(hash_find(t, n), nullptr) << n;

    void* existing = hash_find(t, "n3");
    EXPECT_EQ(hash_find_or_add(t, "N3", make_item, nullptr), existing);
    EXPECT_EQ(hash_find_or_add(t, "absent", make_item, &g_made), nullptr);  // the make fails
    EXPECT_EQ(g_made, 16);
    EXPECT_EQ(t->count, 15u);
    EXPECT_EQ(hash_find(t, "absent"), nullptr);

    g_freedItems = 0;
    hash_clear(t);
    EXPECT_EQ(g_freedItems, 15);
    EXPECT_EQ(t->count, 0u);
    hash_cursor cursor{};
    EXPECT_EQ(hash_first(t, &cursor), nullptr);
    ASSERT_NE(hash_find_or_add(t, "again", make_item, nullptr), nullptr);
    EXPECT_NE(hash_find(t, "again"), nullptr);
    g_freedItems = 0;
    hash_release(t);
    EXPECT_EQ(g_freedItems, 1);
}

TEST(StringTable, ATableMadeAfterOthersWereFreedStartsEmpty) {
    // More tables than a thread keeps, each holding inline and heap names and values.
    const std::string longName(40, 'N'), longValue(50, 'v');
    std::vector<StabPtr> tables;
    for (int i = 0; i < 12; ++i) {
        tables.emplace_back(stab_new("status", "passed", longName.c_str(), longValue.c_str(), nullptr));
        ASSERT_TRUE(tables.back());
    }
    tables.clear();
    for (int i = 0; i < 12; ++i) {
        StabPtr t(stab_new(nullptr));
        ASSERT_TRUE(t);
        EXPECT_TRUE(names_in_order(t.get()).empty());
        EXPECT_STREQ(stab_get(t.get(), "status"), "");
        EXPECT_STREQ(stab_get(t.get(), longName.c_str()), "");
        ASSERT_EQ(stab_set(t.get(), "version", "1.0"), 0);
        ASSERT_EQ(stab_set(t.get(), "xmlns", "urn:x"), 0);
        EXPECT_EQ(names_in_order(t.get()), (std::vector<std::string>{"xmlns", "version"}));
    }
}

namespace {
int g_freedArrayItems = 0;
void count_free(void* p) {
    ++g_freedArrayItems;
    std::free(p);
}
}  // namespace

TEST(Array, GrowsFromSixteenByDoublingAndIterationStopsAtTheMarker) {
    array_rec* a = array_new(count_free);
    ASSERT_NE(a, nullptr);
    for (int i = 0; i < 17; ++i) ASSERT_EQ(array_push(a, std::malloc(1)), 0);
    EXPECT_EQ(a->capacity, 32);
    int cursor = 0, seen = 0;
    for (void* item = array_first(a, &cursor); item != array_end(a); item = array_next(a, &cursor)) ++seen;
    EXPECT_EQ(seen, 17);

    array_rec* empty = array_new(nullptr);
    EXPECT_EQ(array_first(empty, &cursor), array_end(empty));
    array_release(empty);

    a->count = -1;
    EXPECT_EQ(array_push(a, nullptr), 1);
    a->count = 17;
    g_freedArrayItems = 0;
    array_release(a);
    EXPECT_EQ(g_freedArrayItems, 17);
}

namespace {
std::vector<std::string> fields_of(array_rec* a) {
    std::vector<std::string> out;
    int cursor = 0;
    for (void* f = array_first(a, &cursor); f != array_end(a); f = array_next(a, &cursor))
        out.emplace_back(static_cast<char*>(f));
    array_release(a);
    return out;
}
}  // namespace

TEST(Text, SplitSkipsALeadingSeparatorAndKeepsTheRestInTheLastField) {
    EXPECT_EQ(fields_of(string_split("  alpha \tbeta gamma", nullptr, 0)),
              (std::vector<std::string>{"alpha", "beta", "gamma"}));
    EXPECT_EQ(fields_of(string_split("alpha beta gamma delta", nullptr, 2)),
              (std::vector<std::string>{"alpha", "beta gamma delta"}));
    EXPECT_EQ(fields_of(string_split("aXbxc", "x", 0)), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(fields_of(string_split("trailing  ", nullptr, 0)), (std::vector<std::string>{"trailing"}));
    EXPECT_EQ(string_split("x", "(", 0), nullptr);
}

TEST(Text, FormattingAndJoiningGrowAsNeeded) {
    char* joined = string_concat("a", "", "bc", nullptr);
    EXPECT_STREQ(joined, "abc");
    std::free(joined);
    char* printed = string_printf("%s-%d", std::string(300, 'x').c_str(), 7);
    EXPECT_EQ(std::strlen(printed), 302u);
    std::free(printed);
    char* dup = string_ndup("abcdef", 3);
    EXPECT_STREQ(dup, "abc");
    std::free(dup);

    char* buffer = nullptr;
    size_t capacity = 0;
    ASSERT_NE(string_reserve(&buffer, &capacity, 4), nullptr);
    EXPECT_STREQ(buffer, "");
    for (int i = 0; i < 100; ++i) ASSERT_NE(string_appendf(&buffer, &capacity, "%02d,", i), nullptr);
    EXPECT_EQ(std::strlen(buffer), 300u);
    EXPECT_EQ(std::string(buffer).substr(0, 9), "00,01,02,");
    EXPECT_GT(capacity, 300u);
    std::free(buffer);
}
