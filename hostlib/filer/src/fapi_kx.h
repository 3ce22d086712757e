#pragma once
// The management-API client as the filer API uses it.
#include <korvex/kx.h>
