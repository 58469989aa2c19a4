#pragma once

// Widens a console that this process owns, so long lines do not wrap.
void WidenConsole();
