// A driver package in the simulated file system, as a setup program would
// hand it to "/A".
#pragma once

#include <string>
#include <vector>

// The build variant's INF, DLL and SYS in the folder (created as needed).
// Returns the INF's text.
std::string PutDriverPackage(const std::string& folder);

// Lines of the trace written under one function name, in order.
std::vector<std::string> TraceOf(const std::string& function);
