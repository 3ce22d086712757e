#pragma once
// The files the environment names for the stand-ins: SANPROV_LIB_<NAME> (a
// library LoadLibrary opens in place of a Windows library), SANPROV_HBA_FIXTURE
// and SANPROV_WMI_FIXTURE (JSON fixtures). A relative path would be read
// against whatever directory the reading process has, so a process that
// starts another (the service manager starting the service) makes them
// absolute first, against its own directory, where they were set.
#include <string>
#include <vector>

#include <platform/types.h>

namespace platform {

struct StandInFile {
    std::string variable;
    std::string path;
    bool library = false;  // else a JSON fixture
};

// Those named in this process's environment, by variable name.
std::vector<StandInFile> configured_stand_in_files();

// This process's environment ("NAME=value" entries) for a process it starts,
// with each relative stand-in path made absolute against the current directory.
std::vector<std::string> environment_with_absolute_stand_in_paths();

// ERROR_SUCCESS when the file can be loaded as configured, else why not:
// ERROR_MOD_NOT_FOUND for a library that does not load (missing, or not a
// library of this machine), ERROR_FILE_NOT_FOUND for a fixture that cannot be
// opened, ERROR_INVALID_DATA for one that is not a JSON object.
DWORD check_stand_in_file(const StandInFile& file);

// The problem of one that cannot be loaded, for events and reports:
// "PATH (VARIABLE): TEXT".
std::string describe_stand_in_problem(const StandInFile& file, DWORD error);

}  // namespace platform
