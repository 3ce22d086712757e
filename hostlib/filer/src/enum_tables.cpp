#include <filer/enum_tables.h>
#include <hostlib/conversions.h>
#include <platform/text.h>

#include "fapi_raise.h"

namespace {

using row = enum_name_table::row;

constexpr row kDiskRaidType[] = {{"unknown", 0}, {"parity", 1}, {"partner", 2}, {"dparity", 3}, {"data", 4}};
constexpr row kDiskRaidState[] = {{"unknown", 0}, {"partner", 1}, {"broken", 2},         {"zeroing", 3},
                                  {"spare", 4},   {"pending", 5}, {"reconstructing", 6}, {"present", 7}};
constexpr row kAggrState[] = {{"unknown", 0}, {"offline", 2},  {"online", 3},    {"partial", 4},
                              {"failed", 5},  {"creating", 6}, {"restricted", 7}};
constexpr row kAggrType[] = {{"unknown", 0}, {"aggr", 1}, {"trad aggr", 2}, {"trad", 3}};
constexpr row kVolumeState[] = {{"unknown", 1}, {"offline", 2},  {"online", 3},    {"partial", 4},
                                {"failed", 5},  {"creating", 6}, {"restricted", 7}};
constexpr row kLunShareState[] = {{"unknown", 1}, {"all", 2}, {"none", 3}, {"read", 4}, {"write", 5}};
constexpr row kIgroupOsType[] = {{"unknown", 1}, {"default", 2}, {"solaris", 3}, {"windows", 4},
                                 {"hpux", 5},    {"aix", 6},     {"linux", 7}};

// The words of the converters; `nocase` tables compare ASCII letters without case.
struct word_code {
    std::string_view word;
    int32_t code;
};

constexpr word_code kIgroupTypes[] = {{"fcp", 0}, {"iscsi", 1}, {"unknown", 2}};
constexpr word_code kAdapterStates[] = {{"offline", 0}, {"online", 1}, {"local", 2}, {"partner", 3}, {"error", 4}};
constexpr word_code kTandrilContents[] = {{"original", 1}, {"replica", 2}, {"transitioning", 3}};
constexpr word_code kLastTransferTypes[] = {{"initialize", 1}, {"store", 2},  {"scheduled", 3}, {"retry", 4},
                                            {"retrieve", 5},   {"resync", 6}, {"migrate", 7}};
constexpr word_code kCurrentTransferTypes[] = {{"initialize", 1}, {"store", 2},  {"schedule", 3}, {"retry", 4},
                                               {"retrieve", 5},   {"resync", 6}, {"migrate", 7}};
constexpr word_code kTandrilStates[] = {{"unknown", 0},    {"uninitialized", 1}, {"tandriled", 2},
                                        {"broken-off", 3}, {"quiesced", 4},      {"source", 5}};
constexpr word_code kTandrilStatuses[] = {{"idle", 1},     {"transferring", 2}, {"transferring ", 2}, {"pending", 3},
                                          {"aborting", 4}, {"migrating", 5},    {"quiescing", 6},     {"resyncing", 7},
                                          {"waiting", 8},  {"syncing", 9},      {"in-sync", 10}};
constexpr int32_t kTandrilStatusUnrecognized = 11;

bool equal_nocase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

const word_code* find_word(std::span<const word_code> table, std::string_view word, bool nocase) {
    for (const auto& entry : table)
        if (nocase ? equal_nocase(entry.word, word) : entry.word == word) return &entry;
    return nullptr;
}

std::u16string widen(std::string_view text) { return platform::utf8_to_wide_lossy(text); }

// Code -> word through a dense table indexed from `first`.
template <typename Char, size_t N>
const Char* word_of(const Char* const (&words)[N], int32_t code, int32_t first, const Char* outside) {
    if (code < first || code - first >= static_cast<int32_t>(N)) return outside;
    return words[code - first];
}

const char* asserted_word_of(std::span<const char* const> words, int32_t code, int32_t first) {
    if (code >= first && code - first < static_cast<int32_t>(words.size())) return words[code - first];
    ReportAssertion(__FILE__, __LINE__, false);
    return "";
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

enum_name_table::enum_name_table(std::span<const row> rows, int32_t default_value) : default_(default_value) {
    for (const auto& r : rows) codes_.emplace(r.word, r.code);
}

int32_t enum_name_table::enum_from_name(std::string_view word) const {
    const auto found = codes_.find(word);
    return found == codes_.end() ? default_ : found->second;
}

const enum_name_table disk_raid_type_table{kDiskRaidType};
const enum_name_table disk_raid_state_table{kDiskRaidState};
const enum_name_table aggr_state_table{kAggrState};
const enum_name_table aggr_type_table{kAggrType};
const enum_name_table volume_state_table{kVolumeState};
const enum_name_table lun_share_state_table{kLunShareState};
const enum_name_table igroup_os_type_table{kIgroupOsType};

int32_t igroup_type_from_string(std::string_view word) {
    if (const auto* found = find_word(kIgroupTypes, word, false)) return found->code;
    FAPI_RAISE(res::MSG_FAPI_IGROUP_TYPE_UNRECOGNIZED, widen(word));
}

int32_t iscsi_adapter_state_from_string(std::string_view word) {
    if (const auto* found = find_word(kAdapterStates, word, false)) return found->code;
    FAPI_RAISE(res::MSG_FAPI_ISCSI_ADAPTER_STATE_UNRECOGNIZED, widen(word));
}

bool bool_from_string(std::string_view word) {
    if (equal_nocase(word, "true") || equal_nocase(word, "enabled")) return true;
    if (equal_nocase(word, "false") || equal_nocase(word, "disabled")) return false;
    FAPI_RAISE(res::MSG_FAPI_BOOLEAN_UNRECOGNIZED, widen(word));
}

const char* bool_to_string(bool value) { return value ? "true" : "false"; }

int32_t tandril_contents_from_string(std::string_view word) {
    const auto* found = find_word(kTandrilContents, word, true);
    return found ? found->code : 0;
}

int32_t tandril_last_transfer_type_from_string(std::string_view word) {
    const auto* found = find_word(kLastTransferTypes, word, true);
    return found ? found->code : 0;
}

int32_t tandril_current_transfer_type_from_string(std::string_view word) {
    const auto* found = find_word(kCurrentTransferTypes, word, true);
    return found ? found->code : 0;
}

int32_t tandril_state_from_string(std::string_view word) {
    if (const auto* found = find_word(kTandrilStates, word, true)) return found->code;
    FAPI_RAISE(res::MSG_FAPI_TANDRIL_STATE_UNRECOGNIZED, widen(word));
}

int32_t tandril_status_from_string(std::string_view word) {
    if (const auto* found = find_word(kTandrilStatuses, word, true)) return found->code;
    // The appliance words an idle mirror that keeps a checkpoint in a sentence of its own.
    if (word.find("dle with restart checkpoint") != std::string_view::npos) return 1;
    return kTandrilStatusUnrecognized;
}

const WCHAR* tandril_state_to_string(int32_t code) {
    static const WCHAR* const words[] = {u"unknown",    u"uninitialized", u"tandriled",
                                         u"broken-off", u"quiesced",      u"source"};
    return word_of(words, code, 0, u"do not know");
}

const WCHAR* tandril_status_to_string(int32_t code) {
    static const WCHAR* const words[] = {u"idle",      u"transferring", u"pending",     u"aborting",
                                         u"migrating", u"quiescing",    u"resyncing",   u"waiting",
                                         u"syncing",   u"in-sync",      u"unrecognized"};
    return word_of(words, code, 1, u"do not know");
}

// Code 6, the virtual-disk type of the maker's host storage product, has no
// known appliance word; it is refused like a code outside the table.
const char* lun_os_type_to_string(int32_t code) {
    static const char* const words[] = {"solaris", "windows", "hpux", "aix", "linux", "image"};
    return asserted_word_of(words, code, 0);
}

const char* igroup_os_type_to_string(int32_t code) {
    static const char* const words[] = {"unknown", "default", "solaris", "windows", "hpux", "aix", "linux"};
    return asserted_word_of(words, code, 1);
}

const char* igroup_type_to_string(int32_t code) {
    static const char* const words[] = {"fcp", "iscsi", "unknown"};
    return asserted_word_of(words, code, 0);
}

const char* log_level_to_string(int32_t level) {
    static const char* const words[] = {"0", "1", "2", "3", "4", "5", "6", "7"};
    return asserted_word_of(words, level, 0);
}

// Six fields of one or two hexadecimal digits separated by ":", as a scanf of
// "%02x:%02x:%02x:%02x:%02x:%02x" reads them; whatever follows is ignored.
fapi_isid_t isid_from_string(std::string_view text) {
    fapi_isid_t isid{};
    size_t pos = 0;
    for (size_t field = 0; field < isid.size(); ++field) {
        if (field > 0 && (pos >= text.size() || text[pos++] != ':')) FAPI_RAISE(res::MSG_FAPI_ISID_FORMAT, widen(text));
        while (pos < text.size() && (text[pos] == ' ' || (text[pos] >= '\t' && text[pos] <= '\r'))) ++pos;
        int value = -1;
        for (int digits = 0; digits < 2 && pos < text.size() && hex_digit(text[pos]) >= 0; ++digits)
            value = (value < 0 ? 0 : value * 16) + hex_digit(text[pos++]);
        if (value < 0) FAPI_RAISE(res::MSG_FAPI_ISID_FORMAT, widen(text));
        isid[field] = static_cast<BYTE>(value);
    }
    return isid;
}

void wwn_from_ansi_string(std::string_view text, BYTE (&wwn)[8]) { wwn_from_string(widen(text), wwn); }
