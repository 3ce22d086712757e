#include <platform/com_error.h>
#include <platform/errorinfo.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

// An error object with the given description, owned by the caller.
IErrorInfo* make_error_info(const char16_t* description) {
    ICreateErrorInfo* creator = nullptr;
    EXPECT_EQ(CreateErrorInfo(&creator), S_OK);
    creator->SetDescription(const_cast<LPOLESTR>(description));
    IErrorInfo* info = nullptr;
    EXPECT_EQ(creator->QueryInterface(IID_PPV_ARGS(&info)), S_OK);
    creator->Release();
    return info;
}

std::u16string take(BSTR s) {
    std::u16string text = s ? std::u16string(s, SysStringLen(s)) : u"<null>";
    SysFreeString(s);
    return text;
}

std::u16string description_of(IErrorInfo* info) {
    BSTR s = nullptr;
    EXPECT_EQ(info->GetDescription(&s), S_OK);
    return take(s);
}

}  // namespace

TEST(ErrorInfo, CreatorAndReaderShareTheFields) {
    ICreateErrorInfo* creator = nullptr;
    ASSERT_EQ(CreateErrorInfo(&creator), S_OK);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(creator->QueryInterface(IID_PPV_ARGS(&info)), S_OK);

    // Nothing set yet: null texts, GUID_NULL, context 0.
    GUID guid = IID_IErrorInfo;
    DWORD context = 7;
    BSTR source = nullptr;
    EXPECT_EQ(info->GetGUID(&guid), S_OK);
    EXPECT_EQ(guid, GUID_NULL);
    EXPECT_EQ(info->GetHelpContext(&context), S_OK);
    EXPECT_EQ(context, 0u);
    EXPECT_EQ(info->GetSource(&source), S_OK);
    EXPECT_EQ(source, nullptr);

    creator->SetGUID(IID_IClassFactory);
    creator->SetSource(const_cast<LPOLESTR>(u"sanprov.Admin"));
    creator->SetDescription(const_cast<LPOLESTR>(u"Invalid subsystem record."));
    creator->SetHelpFile(const_cast<LPOLESTR>(u"help.chm"));
    creator->SetHelpContext(42);
    EXPECT_EQ(info->GetGUID(&guid), S_OK);
    EXPECT_EQ(guid, IID_IClassFactory);
    EXPECT_EQ(info->GetSource(&source), S_OK);
    EXPECT_EQ(take(source), u"sanprov.Admin");
    EXPECT_EQ(description_of(info), u"Invalid subsystem record.");
    BSTR helpFile = nullptr;
    EXPECT_EQ(info->GetHelpFile(&helpFile), S_OK);
    EXPECT_EQ(take(helpFile), u"help.chm");
    EXPECT_EQ(info->GetHelpContext(&context), S_OK);
    EXPECT_EQ(context, 42u);
    EXPECT_EQ(info->GetDescription(nullptr), E_INVALIDARG);

    ICreateErrorInfo* again = nullptr;
    ASSERT_EQ(info->QueryInterface(IID_PPV_ARGS(&again)), S_OK);
    EXPECT_EQ(again, creator);
    again->Release();
    info->Release();
    EXPECT_EQ(creator->Release(), 0u);
}

TEST(ErrorInfo, ThreadSlotIsReadOnceAndPerThread) {
    IErrorInfo* none = reinterpret_cast<IErrorInfo*>(1);
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(GetErrorInfo(0, &none), S_FALSE);
    EXPECT_EQ(none, nullptr);

    IErrorInfo* info = make_error_info(u"first");
    ASSERT_EQ(SetErrorInfo(0, info), S_OK);
    EXPECT_EQ(info->AddRef(), 3u);  // the test's, the slot's own, this probe
    info->Release();

    std::thread other([] {
        IErrorInfo* seen = nullptr;
        EXPECT_EQ(GetErrorInfo(0, &seen), S_FALSE);
        IErrorInfo* own = make_error_info(u"other thread");
        SetErrorInfo(0, own);
        own->Release();
        // Left in the slot: the thread's end releases it (the leak checker sees otherwise).
    });
    other.join();

    // A later SetErrorInfo replaces and releases the earlier object.
    IErrorInfo* second = make_error_info(u"second");
    ASSERT_EQ(SetErrorInfo(0, second), S_OK);
    second->Release();
    EXPECT_EQ(info->Release(), 0u);

    IErrorInfo* got = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
    EXPECT_EQ(description_of(got), u"second");
    EXPECT_EQ(got->Release(), 0u);  // the slot gave its reference to the caller
    EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE);
    EXPECT_EQ(got, nullptr);

    EXPECT_EQ(GetErrorInfo(1, &got), E_INVALIDARG);
    EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
    EXPECT_EQ(SetErrorInfo(1, nullptr), E_INVALIDARG);
}

TEST(ComError, OwnsOneReferenceAcrossCopies) {
    IErrorInfo* info = make_error_info(u"Subsystem \"f1\" is offline or unreachable.");
    info->AddRef();  // the test's own, to watch the count
    {
        _com_error error(static_cast<HRESULT>(0xC0042502), info);  // takes over the creator's reference
        _com_error copy = error;
        _com_error assigned(E_FAIL);
        assigned = copy;
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wself-assign-overloaded"  // assigning to itself is the case tested
#endif
        assigned = assigned;
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
        EXPECT_EQ(assigned.Error(), static_cast<HRESULT>(0xC0042502));
        EXPECT_EQ(copy.Description(), u"Subsystem \"f1\" is offline or unreachable.");
        IErrorInfo* taken = assigned.ErrorInfo();
        EXPECT_EQ(taken, info);
        taken->Release();
        EXPECT_EQ(info->AddRef(), 5u);  // test + three errors + this probe
        info->Release();
    }
    EXPECT_EQ(info->Release(), 0u);

    IErrorInfo* shared = make_error_info(u"kept");
    {
        _com_error added(E_FAIL, shared, true);
        EXPECT_EQ(added.Description(), u"kept");
    }
    EXPECT_EQ(shared->Release(), 0u);

    _com_error bare(E_OUTOFMEMORY);
    EXPECT_EQ(bare.ErrorInfo(), nullptr);
    EXPECT_EQ(bare.Description(), u"");
}

TEST(ComError, DispatchCodeRange) {
    const struct {
        uint32_t hr;
        WORD wcode;
    } cases[] = {{0x80040200, 0}, {0x80040205, 5}, {0x8004FFFF, 0xFDFF}, {0x800401FF, 0}, {0x80050200, 0}, {0, 0}};
    for (const auto& c : cases) EXPECT_EQ(_com_error(static_cast<HRESULT>(c.hr)).WCode(), c.wcode) << std::hex << c.hr;
}
