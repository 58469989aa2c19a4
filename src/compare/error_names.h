// Short symbolic words for Windows error codes, so that every failure message stays one line
// long and reads the same in every system language.
#pragma once

#include <cstdint>

// The word for `code`, or its decimal digits when the code has no word. Never null. The digits
// live in storage of the calling thread until its next call for a code without a word, so two
// threads can name errors at the same time.
const char* ErrorName(uint32_t code);

// ErrorName of the calling thread's last error. Call it before anything that may change that.
const char* LastErrorName();
