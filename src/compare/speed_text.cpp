#include "compare/speed_text.h"

#include "platform/win_api.h"

int FormatSpeed(uint64_t bytes, uint32_t milliseconds, char* text) {
    uint64_t ms = milliseconds ? milliseconds : 1;
    // Past 18 PB the product would wrap; dividing first loses only what the display drops anyway.
    uint64_t rate = bytes <= UINT64_MAX / 1000 ? bytes * 1000 / ms : bytes / ms * 1000;
    if (rate <= 1024) return win.wsprintfA(text, "%I64i B/s", rate);

    uint64_t tenths;
    const char* unit;
    if (rate <= 1048576) {
        tenths = (rate * 10 + 500) >> 10;
        unit = " KB/s";
    } else if (rate <= 1073741824) {
        tenths = (((rate + 50000) >> 10) * 10) >> 10;
        unit = " MB/s";
    } else {
        // Rates beyond any real device would wrap the product; they keep whole gigabytes only.
        tenths = rate <= (UINT64_MAX - 500000000) / 10 ? (rate * 10 + 500000000) >> 30 : (rate >> 30) * 10;
        unit = " GB/s";
    }
    char digits[24];
    int count = win.wsprintfA(digits, "%02I64i", tenths);
    int length = 0;
    for (int i = 0; i < count - 1; ++i) text[length++] = digits[i];
    text[length++] = '.';
    text[length++] = digits[count - 1];
    for (const char* u = unit; *u; ++u) text[length++] = *u;
    text[length] = 0;
    return length;
}

const char* SpeedText(uint64_t bytes, uint32_t milliseconds) {
    static char text[kSpeedTextChars];
    FormatSpeed(bytes, milliseconds, text);
    return text;
}
