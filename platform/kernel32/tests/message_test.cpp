#include <platform/errors.h>
#include <platform/library.h>
#include <platform/memory.h>
#include <platform/message.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

using platform::make_message_args;
using platform::MessageArgs;

namespace {

constexpr DWORD kFromString = FORMAT_MESSAGE_FROM_STRING;

// FormatMessageW from a string into a generous buffer; "<failed>" on failure.
std::u16string format(const char16_t* text, const MessageArgs* args, DWORD extraFlags = 0) {
    WCHAR buf[512];
    SetLastError(0);
    const DWORD n = FormatMessageW(kFromString | extraFlags, text, 0, 0, buf, 512, args);
    if (n == 0 && GetLastError() != 0) return u"<failed>";
    return std::u16string(buf, n);
}

std::u16string from_module(DWORD flags, HMODULE module, DWORD id, const MessageArgs* args = nullptr) {
    WCHAR* text = nullptr;
    SetLastError(0);
    const DWORD n = FormatMessageW(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER, module, id, 0x400,
                                   reinterpret_cast<WCHAR*>(&text), 0, args);
    std::u16string out = text ? std::u16string(text, n) : u"";
    LocalFree(text);
    return out;
}

std::u16string system_text(DWORD id) { return from_module(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, id); }

std::string narrow(const std::u16string& s) {  // for failure messages only
    std::string out;
    for (char16_t c : s) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

struct FormatCase {
    const char16_t* text;
    MessageArgs args;
    const char16_t* expected;
};

}  // namespace

TEST(FormatMessage, InsertFormsAndEscapes) {
    const int hrFail = static_cast<int>(0x80004005);
    const FormatCase cases[] = {
        // Integer forms keep the Windows sizes: no prefix and "l" read 32 bits.
        {u"%1!d!", make_message_args(-5), u"-5"},
        {u"%1!u!", make_message_args(-1), u"4294967295"},
        {u"%1!d!", make_message_args(int64_t{0x100000005}), u"5"},
        {u"%1!hd!", make_message_args(70000), u"4464"},
        {u"%1!08lX!", make_message_args(hrFail), u"80004005"},
        {u"%1!lx!", make_message_args(255u), u"ff"},
        {u"%1!#x! %1!#o!", make_message_args(255), u"0xff 0377"},
        {u"%1!I64d!", make_message_args(int64_t{-9000000000}), u"-9000000000"},
        {u"%1!I64u! %1!llu!", make_message_args(~uint64_t{0}), u"18446744073709551615 18446744073709551615"},
        {u"%1!I64X!", make_message_args(uint64_t{0xABCDEF0123}), u"ABCDEF0123"},
        {u"[%1!5d!][%1!-5d!][%2!05d!][%1!+d!][%1!.3d!]", make_message_args(42, -42), u"[   42][42   ][-0042][+42][042]"},
        // String forms: typed inserts, so s S ws hs all show the insert's text.
        {u"%1!s! %2!ws! %3!S! %4!hs!", make_message_args(u"a", u"b", "c", "d"), u"a b c d"},
        {u"%1!s!", make_message_args("Gr\xC3\xBC\xC3\x9F"), u"Grüß"},
        {u"[%1!6s!][%1!-4s!][%2!.2s!]", make_message_args(u"ab", u"abcdef"), u"[    ab][ab  ][ab]"},
        {u"%1!*.*s! %4 %5!*s!", make_message_args(4, 2, u"Bill", u"Bob", 6, u"Bill"), u"  Bi Bob   Bill"},
        {u"%1!c!%2!C!", make_message_args(65, 0x1F600), u"A\U0001F600"},
        {u"%1!p!", make_message_args(reinterpret_cast<const void*>(uintptr_t{0x1234})), u"0000000000001234"},
        {u"%1!.2f! %1!e! %2!G! %3!d!", make_message_args(3.14159, 1e-10, 1e300), u"3.14 3.141590e+00 1E-10 -1"},
        // No form reads as a string; a number under a string form is decimal,
        // a text under a number form stays text.
        {u"%1 %2 %3!s! %4!d!", make_message_args(42, ~uint64_t{0}, -7, u"abc"), u"42 18446744073709551615 -7 abc"},
        // Escapes.
        {u"a%nb%rc%td", {}, u"a\r\nb\rc\td"},
        {u"100%% done%. %!%b", {}, u"100% done. !b"},
        {u"kept\r\nend%0ignored %1", make_message_args(u"x"), u"kept\r\nend"},
        {u"trailing %", {}, u"trailing %"},
        // One pass: an insert's own %2 is not expanded again.
        {u"%1 %2", make_message_args(u"%2", u"x"), u"%2 x"},
        // Missing inserts read as empty; two-digit numbers stop at 99.
        {u"[%1][%3][%3!d!]", make_message_args(u"a"), u"[a][][]"},
        {u"%10|%100", make_message_args(1, 2, 3, 4, 5, 6, 7, 8, 9, u"ten"), u"ten|ten0"},
    };
    for (const auto& c : cases) EXPECT_EQ(format(c.text, &c.args), c.expected) << narrow(c.text);
    EXPECT_EQ(format(u"[%1][%2!d!]", nullptr), u"[][]");
}

TEST(FormatMessage, IgnoreInsertsKeepsInsertsAndPercentForms) {
    const auto args = make_message_args(u"x");
    EXPECT_EQ(format(u"%1 %2!d! %12 %% %. %!%n%r%tend%0tail", &args, FORMAT_MESSAGE_IGNORE_INSERTS),
              u"%1 %2!d! %12 %% %. %!\r\n\r\tend");
}

TEST(FormatMessage, MaxWidthMaskTurnsTextLineBreaksIntoBlanks) {
    EXPECT_EQ(format(u"one\r\ntwo\nthree%nfour\r\n", nullptr, FORMAT_MESSAGE_MAX_WIDTH_MASK),
              u"one two three\r\nfour ");
}

TEST(FormatMessage, MalformedFormsAndFlagsAreRefused) {
    const auto args = make_message_args(1);
    for (const char16_t* bad : {u"%1!d", u"%1!!", u"%1!q!", u"%1!d x!", u"%1!n!"}) {
        WCHAR buf[32];
        SetLastError(0);
        EXPECT_EQ(FormatMessageW(kFromString, bad, 0, 0, buf, 32, &args), 0u) << narrow(bad);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << narrow(bad);
    }
    WCHAR buf[32];
    for (DWORD flags : {DWORD{0}, kFromString | FORMAT_MESSAGE_FROM_SYSTEM, kFromString | FORMAT_MESSAGE_FROM_HMODULE}) {
        SetLastError(0);
        EXPECT_EQ(FormatMessageW(flags, u"x", 0, 0, buf, 32, nullptr), 0u) << flags;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << flags;
    }
    EXPECT_EQ(FormatMessageW(kFromString, nullptr, 0, 0, buf, 32, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(FormatMessage, BufferRules) {
    const char16_t* text = u"abcd";
    WCHAR buf[8] = {};
    // The text and its NUL must fit.
    EXPECT_EQ(FormatMessageW(kFromString, text, 0, 0, buf, 5, nullptr), 4u);
    EXPECT_EQ(std::u16string(buf), u"abcd");
    SetLastError(0);
    EXPECT_EQ(FormatMessageW(kFromString, text, 0, 0, buf, 4, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

    // ALLOCATE_BUFFER: a LocalAlloc block of at least `size` characters.
    WCHAR* allocated = nullptr;
    EXPECT_EQ(FormatMessageW(kFromString | FORMAT_MESSAGE_ALLOCATE_BUFFER, text, 0, 0,
                             reinterpret_cast<WCHAR*>(&allocated), 300, nullptr),
              4u);
    ASSERT_NE(allocated, nullptr);
    EXPECT_EQ(std::u16string(allocated), u"abcd");
    allocated[299] = u'z';  // inside the block (the sanitizer run checks it)
    LocalFree(allocated);

    // A failure leaves the out pointer null, so freeing it is harmless.
    allocated = reinterpret_cast<WCHAR*>(buf);
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, 0xDEAD0001, 0,
                             reinterpret_cast<WCHAR*>(&allocated), 0, nullptr),
              0u);
    EXPECT_EQ(allocated, nullptr);

    // FormatMessageA counts UTF-8 bytes: "é" is two.
    char narrowBuf[8];
    const auto args = make_message_args(u"\u00e9");
    EXPECT_EQ(FormatMessageA(kFromString, "%1", 0, 0, narrowBuf, 3, &args), 2u);
    EXPECT_STREQ(narrowBuf, "\xC3\xA9");
    SetLastError(0);
    EXPECT_EQ(FormatMessageA(kFromString, "%1", 0, 0, narrowBuf, 2, &args), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(FormatMessage, AnsiFormIsTheWideFormInUtf8) {
    const auto args = make_message_args(u"Gr\u00fc\u00dfe \U0001F600", "\xE6\x97\xA5", 7);
    char* text = nullptr;
    const DWORD n = FormatMessageA(kFromString | FORMAT_MESSAGE_ALLOCATE_BUFFER, "%1 %2!S! %3!03d! \xC3\xA9%n", 0, 0,
                                   reinterpret_cast<char*>(&text), 0, &args);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text, n), "Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80 \xE6\x97\xA5 007 \xC3\xA9\r\n");
    LocalFree(text);
}

namespace {

constexpr MessageTableEntry kProgramTable[] = {
    {0xC0040307, "SNAPSHOT_DELETE_FAILED",
     u"An attempt to delete snapshot '%1' of the '%2' volume failed on the filer '%3'. Error code: %4!d!. Error "
     u"description: %5.\r\n"},
    {0x400007D0, "SERVICE_STARTED", u"Service started.\r\n"},
};
constexpr MessageTableEntry kOtherTable[] = {{0x400007D0, "OTHER", u"Other module.\r\n"}};

class MessageTables : public ::testing::Test {
protected:
    void SetUp() override { platform::register_message_table(GetModuleHandleW(nullptr), kProgramTable); }
    void TearDown() override {
        platform::register_message_table(GetModuleHandleW(nullptr), {});
        platform::register_message_table(other(), {});
    }
    static HMODULE other() { return reinterpret_cast<HMODULE>(const_cast<MessageTableEntry*>(kOtherTable)); }
};

}  // namespace

TEST_F(MessageTables, ProgramTableWithTypedInserts) {
    const auto args = make_message_args(u"nightly.0", u"vol0", u"filer1", 13040, u"busy");
    const std::u16string expected =
        u"An attempt to delete snapshot 'nightly.0' of the 'vol0' volume failed on the filer 'filer1'. Error code: "
        u"13040. Error description: busy.\r\n";
    // A null source names the program's own module.
    EXPECT_EQ(from_module(FORMAT_MESSAGE_FROM_HMODULE, nullptr, 0xC0040307, &args), expected);
    EXPECT_EQ(from_module(FORMAT_MESSAGE_FROM_HMODULE, GetModuleHandleW(nullptr), 0xC0040307, &args), expected);
}

TEST_F(MessageTables, ModulesKeepTheirOwnTables) {
    platform::register_message_table(other(), kOtherTable);
    EXPECT_EQ(from_module(FORMAT_MESSAGE_FROM_HMODULE, other(), 0x400007D0), u"Other module.\r\n");
    EXPECT_EQ(from_module(FORMAT_MESSAGE_FROM_HMODULE, nullptr, 0x400007D0), u"Service started.\r\n");
    // Registering an empty table removes the module's table.
    platform::register_message_table(other(), {});
    EXPECT_EQ(from_module(FORMAT_MESSAGE_FROM_HMODULE, other(), 0x400007D0), u"");
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
}

TEST_F(MessageTables, UnknownIdIsMessageNotFound) {
    EXPECT_EQ(from_module(FORMAT_MESSAGE_FROM_HMODULE, nullptr, 0xC00403CF), u"");
    EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
    EXPECT_EQ(from_module(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0xC00403CF), u"");
    EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
    EXPECT_EQ(system_text(0xC00403CF), u"");
    EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
}

TEST_F(MessageTables, ModuleFirstThenSystem) {
    EXPECT_EQ(from_module(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0x80004005),
              u"Unspecified error\r\n");
    // A module without a table falls through to the system.
    EXPECT_EQ(from_module(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM, other(), 0x80070057),
              u"The parameter is incorrect.\r\n");
}

TEST(SystemMessages, TextsTheSystemShows) {
    EXPECT_EQ(system_text(E_FAIL), u"Unspecified error\r\n");
    EXPECT_EQ(system_text(E_INVALIDARG), u"The parameter is incorrect.\r\n");
    EXPECT_EQ(system_text(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)), u"The system cannot find the file specified.\r\n");
    EXPECT_EQ(system_text(ERROR_FILE_NOT_FOUND), u"The system cannot find the file specified.\r\n");
    EXPECT_EQ(system_text(E_ACCESSDENIED), u"Access is denied.\r\n");
    EXPECT_EQ(system_text(E_OUTOFMEMORY), u"Not enough memory resources are available to complete this operation.\r\n");
    EXPECT_EQ(system_text(E_UNEXPECTED), u"Catastrophic failure\r\n");
    EXPECT_EQ(system_text(ERROR_MOD_NOT_FOUND), u"The specified module could not be found.\r\n");
    EXPECT_EQ(system_text(ERROR_PROC_NOT_FOUND), u"The specified procedure could not be found.\r\n");
    EXPECT_EQ(system_text(WSAETIMEDOUT).substr(0, 30), u"A connection attempt failed be");
    // The Win32 mapping is for facility 7 only.
    EXPECT_EQ(system_text(0x80080002), u"");
}

TEST(SystemMessages, NtStatusAndIscsiTablesAreModules) {
    const HMODULE ntdll = platform::system_message_module(u"NTDLL.DLL");
    ASSERT_NE(ntdll, nullptr);
    EXPECT_EQ(platform::system_message_module(u"ntdll"), ntdll);
    EXPECT_EQ(platform::system_message_module(u"hbaapi.dll"), nullptr);
    EXPECT_TRUE(platform::system_message_table(u"hbaapi.dll").empty());
    EXPECT_EQ(from_module(FORMAT_MESSAGE_FROM_HMODULE, ntdll, 0xC000000D),
              u"An invalid parameter was passed to a service or function.\r\n");
    // FROM_SYSTEM reads the Win32 table only, as on Windows.
    EXPECT_EQ(system_text(0xC000000D), u"");
    EXPECT_EQ(from_module(FORMAT_MESSAGE_FROM_HMODULE, platform::system_message_module(u"iscsidsc.dll"), 0xEFFF0001),
              u"A non specific error occurred.\r\n");
    EXPECT_EQ(from_module(FORMAT_MESSAGE_FROM_HMODULE, platform::system_message_module(u"KERNEL32.DLL"),
                          HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)),
              u"Access is denied.\r\n");

    // A loaded library carries the same table when the loader registers it.
    int library = 0;
    const auto handle = reinterpret_cast<HMODULE>(&library);
    platform::register_message_table(handle, platform::system_message_table(u"ISCSIDSC"));
    EXPECT_EQ(from_module(FORMAT_MESSAGE_FROM_HMODULE, handle, 0xEFFF0018), u"Target Already Exists.\r\n");
    platform::register_message_table(handle, {});
}

TEST(SystemMessages, TablesAreWellFormed) {
    for (const char16_t* name : {u"kernel32.dll", u"ntdll.dll", u"iscsidsc.dll"}) {
        const auto table = platform::system_message_table(name);
        ASSERT_FALSE(table.empty()) << narrow(name);
        std::set<DWORD> ids;
        for (const auto& e : table) {
            EXPECT_TRUE(ids.insert(e.id).second) << e.name << " repeats an id";
            const std::u16string_view text = e.text;
            EXPECT_TRUE(text.size() > 2 && text.ends_with(u"\r\n") && !text.ends_with(u"\r\n\r\n")) << e.name;
        }
    }
}
