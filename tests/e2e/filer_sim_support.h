#pragma once
// The filer API's end-to-end tests of the operations: a filer object for a
// simulated appliance, and what the appliance received and holds (the request
// element of a logged body, its state queried by a Python expression over the
// fixture form, faults).
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include <filer/filer.h>

#include "appliance.h"

namespace filer_e2e {

std::u16string wide(const std::string& text);

// create_filer for the appliance with the default fixture's login over HTTP.
owned_ptr<CFiler> create_for(const e2e::Appliance& sim);

// One element of a request document: its name, its own text, its children.
struct xml_node {
    std::string name;
    std::string text;
    std::vector<xml_node> children;
};

// The request element inside the `korvex` root of a logged request body.
xml_node request_element(const std::string& body);

// The number of requests in the appliance's log, and the body of the last one.
size_t request_count(const e2e::Appliance& sim);
std::string last_body(const e2e::Appliance& sim);

// The value of `expression` over the appliance's state `d` (the fixture form), as Python prints it.
std::string state_query(const e2e::Appliance& sim, const std::string& expression);

// The next request of that name fails with the appliance error number and reason.
void fail_next(const e2e::Appliance& sim, const std::string& request, int error_number, const std::string& reason);

// One request the appliance refuses, and the COM error its operation must raise.
struct failure_case {
    const char* request;
    uint32_t hr;
    std::u16string text;
    std::function<void()> call;
    int error_number = 13061;
};

// For each case: the appliance fails the next such request with the case's
// error number and `reason`, and the call raises exactly the case's HRESULT and text.
void expect_failures(const e2e::Appliance& sim, std::span<const failure_case> cases, const std::string& reason);

}  // namespace filer_e2e
