#include "console/status_line.h"

// Comes with the status line; the program does not own a console before then.
void WidenConsole() {}
