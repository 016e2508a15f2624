// Runs the program against the simulated machine and reads its trace back.
#pragma once

#include <winsim/machine.h>

#include <string>
#include <vector>

// The program's entry point, renamed in the test build.
int DravmelProgramMain(int argc, char* argv[]);

// Runs the program with the given arguments after its own name.
int RunProgram(const std::vector<std::string>& arguments);

// One trace record split into its six fields.
struct TraceRecord {
    std::string timestamp;
    std::string tag;
    std::string line;
    std::string reserved;
    std::string function;
    std::string message;
};

// Splits at the first five commas; false when the text is not a record.
bool ParseRecord(const std::string& text, TraceRecord* record);

// The debugger channel in a form that tests compare whole: a debugger line
// becomes "dbg: <message>", a record "<function>: <message>" once its
// timestamp, tag, line and reserved field were checked. Anything else is
// kept as "raw: <text>".
std::vector<std::string> Trace();

// A log file split into records, each checked and given as "<function>: <message>".
std::vector<std::string> LogRecords(const std::string& path);

// The default log file of a fresh machine.
extern const char kDefaultLog[];
