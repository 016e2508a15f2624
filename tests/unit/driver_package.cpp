#include "driver_package.h"

#include "package_files.h"
#include "trace_harness.h"

#include <gtest/gtest.h>

std::string PutDriverPackage(const std::string& folder) {
    EXPECT_TRUE(package_files::Put(folder));
    return package_files::kInf;
}

std::vector<std::string> TraceOf(const std::string& function) {
    std::vector<std::string> lines;
    const std::string prefix = function + ": ";
    for (const std::string& line : Trace()) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            lines.push_back(line.substr(prefix.size()));
        }
    }
    return lines;
}
