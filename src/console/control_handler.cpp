#include "console/control_handler.h"

// Until the run can stop in an orderly way, every event takes the system's default action.
BOOL WINAPI ConsoleControlHandler(DWORD) { return FALSE; }
