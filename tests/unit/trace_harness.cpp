#include "trace_harness.h"

#include <gtest/gtest.h>

#include <regex>

const char kDefaultLog[] = "C:\\Users\\user\\AppData\\Local\\Temp\\\\QVDRAVMEL.LOG";

int RunProgram(const std::vector<std::string>& arguments) {
    std::vector<std::string> storage{"Dravmel.exe"};
    storage.insert(storage.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : storage) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    return DravmelProgramMain(static_cast<int>(storage.size()), argv.data());
}

bool ParseRecord(const std::string& text, TraceRecord* record) {
    std::string* fields[] = {&record->timestamp, &record->tag, &record->line, &record->reserved,
                             &record->function};
    size_t start = 0;
    for (std::string* field : fields) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) {
            return false;
        }
        *field = text.substr(start, comma - start);
        start = comma + 1;
    }
    record->message = text.substr(start);
    return true;
}

namespace {

std::string CheckedRecord(const std::string& text) {
    static const std::regex timestamp(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}:\d{3})");
    static const std::regex number(R"(-?\d+)");
    TraceRecord record;
    if (!ParseRecord(text, &record) || !std::regex_match(record.timestamp, timestamp) ||
        record.tag != EXPECTED_TRACE_TAG || !std::regex_match(record.line, number) ||
        record.reserved != "0") {
        return "raw: " + text;
    }
    return record.function + ": " + record.message;
}

}  // namespace

std::vector<std::string> Trace() {
    const std::string debugPrefix = std::string(EXPECTED_TRACE_TAG) + ": ";
    std::vector<std::string> lines;
    for (const std::string& entry : winsim::DebugOutput()) {
        if (entry.compare(0, debugPrefix.size(), debugPrefix) == 0) {
            lines.push_back("dbg: " + entry.substr(debugPrefix.size()));
        } else {
            lines.push_back(CheckedRecord(entry));
        }
    }
    return lines;
}

std::vector<std::string> LogRecords(const std::string& path) {
    std::vector<std::string> records;
    std::optional<std::string> contents = winsim::FileContents(path);
    if (!contents) {
        ADD_FAILURE() << "no log file " << path;
        return records;
    }
    // A record begins with its timestamp and tag; one without a line end
    // leaves the next record on the same line.
    static const std::regex recordStart(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}:\d{3},)" EXPECTED_TRACE_TAG ",");
    std::vector<size_t> starts;
    for (auto it = std::sregex_iterator(contents->begin(), contents->end(), recordStart);
         it != std::sregex_iterator(); ++it) {
        starts.push_back(static_cast<size_t>(it->position()));
    }
    if (!contents->empty() && (starts.empty() || starts.front() != 0)) {
        records.push_back("raw: " + contents->substr(0, starts.empty() ? std::string::npos : starts.front()));
    }
    for (size_t i = 0; i < starts.size(); ++i) {
        size_t end = i + 1 < starts.size() ? starts[i + 1] : contents->size();
        records.push_back(CheckedRecord(contents->substr(starts[i], end - starts[i])));
    }
    return records;
}
