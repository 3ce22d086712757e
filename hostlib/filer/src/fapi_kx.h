#pragma once
// The management-API client as the filer API uses it: server handles, request
// and reply elements, and the outcome of a `results` element.
#include <korvex/elem.h>
#include <korvex/results.h>
#include <korvex/server.h>
