#pragma once
// The words the management API writes for states, types and flags, and the
// converters between those words and the codes of the filer API's records.
#include <platform/types.h>

#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>

// Reply word -> record code. Exact match (case, blanks and length count);
// any other word gives the table's default.
class enum_name_table {
public:
    struct row {
        const char* word;
        int32_t code;
    };

    explicit enum_name_table(std::span<const row> rows, int32_t default_value = 0);

    int32_t enum_from_name(std::string_view word) const;
    int32_t default_value() const { return default_; }

private:
    int32_t default_;
    std::map<std::string, int32_t, std::less<>> codes_;
};

// Built before the program's entry point; read without a lock afterwards.
extern const enum_name_table disk_raid_type_table;
extern const enum_name_table disk_raid_state_table;
extern const enum_name_table aggr_state_table;
extern const enum_name_table aggr_type_table;
extern const enum_name_table volume_state_table;
extern const enum_name_table lun_share_state_table;
extern const enum_name_table igroup_os_type_table;

using fapi_isid_t = std::array<BYTE, 6>;

// Word -> code. Those that raise pass the word (widened) as %1.
int32_t igroup_type_from_string(std::string_view word);          // 0xC00402B6
int32_t iscsi_adapter_state_from_string(std::string_view word);  // 0xC00402E1
bool bool_from_string(std::string_view word);                    // 0xC00402FF
int32_t tandril_contents_from_string(std::string_view word);
int32_t tandril_last_transfer_type_from_string(std::string_view word);
int32_t tandril_current_transfer_type_from_string(std::string_view word);
int32_t tandril_state_from_string(std::string_view word);  // 0xC0040312
int32_t tandril_status_from_string(std::string_view word);
fapi_isid_t isid_from_string(std::string_view text);  // 0xC0040340
// Eight hexadecimal fields separated by ":", widened and read by the host
// library's wwn_from_string (0xC0040298).
void wwn_from_ansi_string(std::string_view text, BYTE (&wwn)[8]);

// Code -> word. A code outside the table reports a failed assertion and gives "".
const char* bool_to_string(bool value);
const WCHAR* tandril_state_to_string(int32_t code);   // "do not know" outside the table
const WCHAR* tandril_status_to_string(int32_t code);  // "do not know" outside the table
const char* lun_os_type_to_string(int32_t code);
const char* igroup_os_type_to_string(int32_t code);
const char* igroup_type_to_string(int32_t code);
const char* log_level_to_string(int32_t level);
