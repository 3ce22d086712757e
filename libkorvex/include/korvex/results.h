#pragma once
// The `results` element: the outcome of one API call in its attributes
// "status" ("passed" or "failed"), "reason" and "errno", the outputs as children.

struct kx_elem_rec;

// 1 when "status" is exactly "passed".
int kx_results_passed(kx_elem_rec* results);
// "errno" as a base-10 integer (its leading numeric part); -1 when absent.
int kx_results_errno_value(kx_elem_rec* results);
// NULL when passed; else "reason", or "Unknown" when it is absent or empty.
const char* kx_results_reason_text(kx_elem_rec* results);
// A new `results` element: "status", "reason" only when given, "errno" only
// when the number is 0 or more. NULL (ENOMEM) when an allocation fails.
kx_elem_rec* kx_results_make(const char* status, const char* reason, int errorNumber);
