// Every output of the storage calls one step too small, as if each answer had grown between the
// program's query of its size and its query of the data: a real race. Each call is asked as the
// program asks it, to learn how large the answer is, then again with one byte less (one character
// for text), and the program gets the second answer. The program's buffer is spoiled in between,
// over the whole size it declared, so that nothing of the first answer passes for the second, and
// a size larger than the buffer shows.
//
//   MachineGuard machine(m);
//   strict::OneStepShort guard;  // above the machine's fakes, for its lifetime
#pragma once

#include <string>

#include "platform/win_api.h"

namespace strict {

// What the guard makes short: the control codes of the layer's size rule by name, and the string
// calls of the storage topology (two of them found at run time).
inline const char* const kShortCalls[] = {"IOCTL_STORAGE_QUERY_PROPERTY",
                                          "IOCTL_STORAGE_GET_DEVICE_NUMBER",
                                          "IOCTL_DISK_GET_LENGTH_INFO",
                                          "IOCTL_DISK_GET_DRIVE_GEOMETRY",
                                          "FSCTL_GET_REPARSE_POINT",
                                          "GetVolumeNameForVolumeMountPointW",
                                          "GetVolumePathNameW",
                                          "QueryDosDeviceW",
                                          "GetVolumeInformationW",
                                          "FindFirstVolumeW",
                                          "FindNextVolumeW",
                                          "SetupDiGetDeviceInterfaceDetailW",
                                          "GetVolumePathNamesForVolumeNameW",
                                          "GetStorageDependencyInformation"};

class OneStepShort {
public:
    // Every call of kShortCalls, or only the one named `only`.
    explicit OneStepShort(const char* only = nullptr);
    ~OneStepShort();
    OneStepShort(const OneStepShort&) = delete;
    OneStepShort& operator=(const OneStepShort&) = delete;

private:
    WinApi saved_;
};

// What is wrong with a disk or volume listing printed under the guard, or nothing. Every line is
// printable text and stands for a line of `full` with the same device path (the second column),
// each word as there or as a failed query shows it (NoInfo, Disk-1, "--" or nothing); with
// `everyEntry`, no line of `full` is left out.
std::string ListingFault(const std::string& listing, const std::string& full, bool everyEntry);

}  // namespace strict
