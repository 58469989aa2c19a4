// The -e masks: names matching one of them are left out of a folder comparison.
#pragma once

constexpr int kMaxExcludeMasks = 100;

// Filled from the front in command-line order; the first null slot ends the list.
extern wchar_t* ExcludeMasks[kMaxExcludeMasks];

// Stores a copy without its enclosing quotes. False, and the mask dropped, when the table is full.
bool AddExcludeMask(const wchar_t* text);

// Whether `name` matches any stored mask, tried in slot order.
bool IsExcluded(const wchar_t* name);
