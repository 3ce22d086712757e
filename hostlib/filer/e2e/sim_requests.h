#pragma once
// What the simulated appliance received and holds, for the end-to-end tests of
// the operations: the request element of a logged body, the appliance's state
// queried by a Python expression over its fixture form, and state changes.
#include <string>
#include <vector>

#include "sim_appliance.h"

// One element of a request document: its name, its own text, its children.
struct xml_node {
    std::string name;
    std::string text;
    std::vector<xml_node> children;
};

// The request element inside the `korvex` root of a logged request body.
xml_node request_element(const std::string& body);

// The number of requests in the appliance's log, and the raw body of the last
// one, read from its control API.
size_t sim_request_count(const sim_appliance& sim);
std::string sim_last_body(const sim_appliance& sim);

// The value of `expression` over the appliance's state `d` (the fixture form), as Python prints it.
std::string sim_query(const sim_appliance& sim, const std::string& expression);
// Adds a fault: its kind, then "key=value" fields as simctl takes them.
void sim_fault(const sim_appliance& sim, const std::vector<std::string>& kind_and_fields);
// Sets one value of the state: "path=value" as simctl takes it.
void sim_set(const sim_appliance& sim, const std::string& assignment);
