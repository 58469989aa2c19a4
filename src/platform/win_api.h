// The Windows seam: every Windows function the program calls, one member each, named as Windows
// names it and initialised to the real function. Code outside src/platform calls Windows only
// through `win`, so a test can replace any call to simulate what the real system cannot show
// (read errors, drivers, disks, keys). Functions that may be missing on an older Windows or under
// Wine are not members: they are found at run time through GetModuleHandle/GetProcAddress, which
// a test can replace as well.
//
// Tests write the table before the threads that read it start, and restore it afterwards.
#pragma once

#include "platform/windows.h"

#define QVB_SEAM(name) decltype(&::name) name = ::name

struct WinApi {
    // Errors, modules, process and threads
    QVB_SEAM(GetLastError);
    QVB_SEAM(SetLastError);
    QVB_SEAM(GetModuleHandleA);
    QVB_SEAM(GetModuleHandleW);
    QVB_SEAM(GetModuleFileNameW);
    QVB_SEAM(GetProcAddress);
    QVB_SEAM(LoadLibraryA);
    QVB_SEAM(GetSystemDirectoryA);
    QVB_SEAM(GetCommandLineW);
    QVB_SEAM(GetCurrentProcess);
    QVB_SEAM(GetCurrentProcessId);
    QVB_SEAM(GetCurrentThreadId);
    QVB_SEAM(ExitProcess);
    QVB_SEAM(CloseHandle);
    QVB_SEAM(Sleep);
    QVB_SEAM(Beep);
    QVB_SEAM(GetVersionExW);

    // Security
    QVB_SEAM(OpenProcessToken);
    QVB_SEAM(LookupPrivilegeValueW);
    QVB_SEAM(AdjustTokenPrivileges);

    // Memory
    QVB_SEAM(GetProcessHeap);
    QVB_SEAM(HeapAlloc);
    QVB_SEAM(HeapFree);
    QVB_SEAM(VirtualAlloc);
    QVB_SEAM(VirtualFree);

    // Synchronisation
    QVB_SEAM(InitializeCriticalSection);
    QVB_SEAM(DeleteCriticalSection);
    QVB_SEAM(EnterCriticalSection);
    QVB_SEAM(LeaveCriticalSection);

    // Console and standard handles
    QVB_SEAM(GetStdHandle);
    QVB_SEAM(GetFileType);
    QVB_SEAM(WriteFile);
    QVB_SEAM(WriteConsoleA);
    QVB_SEAM(WriteConsoleW);
    QVB_SEAM(GetConsoleMode);
    QVB_SEAM(SetConsoleMode);
    QVB_SEAM(SetConsoleCtrlHandler);

    // Text
    QVB_SEAM(wvsprintfA);
    QVB_SEAM(wvsprintfW);
    QVB_SEAM(wsprintfA);
    QVB_SEAM(wsprintfW);
    QVB_SEAM(MultiByteToWideChar);
    QVB_SEAM(WideCharToMultiByte);
    QVB_SEAM(GetOEMCP);
    QVB_SEAM(StrStrW);
    QVB_SEAM(StrToIntW);
    QVB_SEAM(CharUpperW);
    QVB_SEAM(PathUnquoteSpacesW);

    // Files and folders
    QVB_SEAM(CreateFileW);
    QVB_SEAM(GetTempPathW);
    QVB_SEAM(GetFullPathNameW);
    QVB_SEAM(GetCurrentDirectoryW);
    QVB_SEAM(DeleteFileW);

    // Paths and volumes (src/paths)
    QVB_SEAM(GetFileAttributesW);
    QVB_SEAM(GetDriveTypeW);
    QVB_SEAM(GetVolumePathNameW);
    QVB_SEAM(GetVolumeInformationW);
    QVB_SEAM(QueryDosDeviceW);
    QVB_SEAM(StrStrIW);
    QVB_SEAM(StrRStrIW);

    // Error names (src/compare)

    // File pair comparison (src/compare)
    QVB_SEAM(GetFileSize);
    QVB_SEAM(GetFileInformationByHandle);
    QVB_SEAM(DeviceIoControl);
    QVB_SEAM(ReadFile);
    QVB_SEAM(SetFilePointer);
    QVB_SEAM(SetFilePointerEx);
    QVB_SEAM(GetTickCount);
    QVB_SEAM(CreateThread);
    QVB_SEAM(CreateEventW);
    QVB_SEAM(SetEvent);

    // Storage topology (src/storage)
    QVB_SEAM(GetDiskFreeSpaceW);
    QVB_SEAM(GetVolumeNameForVolumeMountPointW);
    QVB_SEAM(FindFirstVolumeW);
    QVB_SEAM(FindNextVolumeW);
    QVB_SEAM(FindVolumeClose);
    QVB_SEAM(GetLogicalDrives);
    QVB_SEAM(lstrcmpiW);

    // Disk and volume listings (src/storage)
    QVB_SEAM(SetupDiGetClassDevsW);
    QVB_SEAM(SetupDiEnumDeviceInterfaces);
    QVB_SEAM(SetupDiGetDeviceInterfaceDetailW);
    QVB_SEAM(SetupDiDestroyDeviceInfoList);

    // Folder comparison (src/tree)
    QVB_SEAM(FindFirstFileW);
    QVB_SEAM(FindFirstFileExW);
    QVB_SEAM(FindNextFileW);
    QVB_SEAM(FindClose);
    QVB_SEAM(CreateDirectoryW);
    QVB_SEAM(GetFileTime);
    QVB_SEAM(SetFileTime);
    QVB_SEAM(SetFileAttributesW);
    QVB_SEAM(StrTrimA);

    // Console screen, keys and control events (src/console)
    QVB_SEAM(GetConsoleScreenBufferInfo);
    QVB_SEAM(ReadConsoleOutputW);
    QVB_SEAM(ReadConsoleOutputCharacterW);
    QVB_SEAM(WriteConsoleOutputW);
    QVB_SEAM(SetConsoleCursorPosition);
    QVB_SEAM(SetConsoleScreenBufferSize);
    QVB_SEAM(SetConsoleWindowInfo);
    QVB_SEAM(GetNumberOfConsoleInputEvents);
    QVB_SEAM(ReadConsoleInputW);
    QVB_SEAM(FlushConsoleInputBuffer);
    QVB_SEAM(FlushFileBuffers);
    QVB_SEAM(GetConsoleWindow);
    QVB_SEAM(GetForegroundWindow);
    QVB_SEAM(GetWindowThreadProcessId);
    QVB_SEAM(GetKeyboardState);
    QVB_SEAM(GetAsyncKeyState);
    QVB_SEAM(MapVirtualKeyW);
    QVB_SEAM(keybd_event);

    // Threads, waits and time
    QVB_SEAM(OpenThread);
    QVB_SEAM(SuspendThread);
    QVB_SEAM(ResumeThread);
    QVB_SEAM(WaitForSingleObject);
    QVB_SEAM(SetThreadExecutionState);
    QVB_SEAM(SetThreadPriority);
    QVB_SEAM(GetCurrentThread);
};

#undef QVB_SEAM

extern WinApi win;

// Puts every entry back to the real function.
void RestoreWinApi();
