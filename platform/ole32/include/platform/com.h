#pragma once
// The COM basics in one include.
#include <platform/apartment.h>
#include <platform/bstr.h>
#include <platform/classtable.h>
#include <platform/com_error.h>
#include <platform/comalloc.h>
#include <platform/errorinfo.h>
#include <platform/safearray.h>
#include <platform/security.h>
#include <platform/unknown.h>
#include <platform/variant.h>
