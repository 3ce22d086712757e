#pragma once
// An in-process administration class with a call log: what the applet's
// calls send, and what they get back, are set and read by the tests.
#include <string>
#include <vector>

#include <platform/provider_admin.h>

struct FakeRecord {
    std::u16string key, dns, user, password;
    LONG type = 2;
    DWORD flags = 0;
    bool operator==(const FakeRecord&) const = default;
};

struct FakeAdminState {
    std::vector<FakeRecord> stored;  // what LoadFilerList hands out
    HRESULT loadResult = S_OK;
    HRESULT commitResult = S_OK;
    // CheckFilerEntry: its result, and the error it stores (given out through
    // the call's own out parameters and GetLastError).
    HRESULT checkResult = S_OK;
    HRESULT storedError = S_OK;
    std::u16string storedMessage;
    HRESULT getLastErrorResult = S_OK;
    std::string throwIn;  // a method that throws instead of answering
    HRESULT createResult = S_OK;  // the class object's CreateInstance fails with this

    std::vector<std::string> calls;                  // method names in order
    std::vector<std::vector<FakeRecord>> commits;    // each commit's records
    std::vector<FakeRecord> checked;                 // each checked record
    int liveObjects = 0;
};

// Registers the class in the process's class table for its lifetime.
class FakeAdminService {
public:
    FakeAdminService();
    ~FakeAdminService();
    FakeAdminService(const FakeAdminService&) = delete;
    FakeAdminService& operator=(const FakeAdminService&) = delete;
    FakeAdminState state;

private:
    DWORD m_cookie = 0;
};

FakeRecord fake_record_of(const FILER_RECORD& record);
