// INF files as SetupAPI reads them: sections, keyed and unkeyed lines,
// comma-separated fields, quoting, comments, line continuation and %strkey%
// substitution from [Strings].
#pragma once

#include "state.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace winsim::detail {

struct InfLine {
    std::string key;                  // empty when the line has no '='
    std::vector<std::string> fields;  // unquoted, not yet substituted
};

struct InfSection {
    std::string name;  // as first written
    std::vector<InfLine> lines;
};

class InfFile {
public:
    // Parses the text; on a syntax error returns ERROR_EXPECTED_SECTION_NAME
    // or ERROR_BAD_SECTION_NAME_LINE.
    DWORD Parse(const std::string& text);

    const InfSection* Section(const std::string& name) const;
    // First line with the key in the section, or null.
    const InfLine* Line(const std::string& section, const std::string& key) const;
    // Field of the first line with the key, %strkey% tokens replaced.
    std::optional<std::string> Value(const std::string& section, const std::string& key,
                                     size_t field = 0) const;
    // Replaces %strkey% tokens from [Strings]; "%%" is a percent sign, and an
    // unknown token is left as written.
    std::string Substitute(const std::string& text) const;

private:
    std::map<std::string, InfSection, NameLess> sections_;
};

// Reads and parses an INF the way SetupOpenInfFile does for a Windows INF:
// file errors as CreateFileA reports them, syntax errors, and
// ERROR_WRONG_INF_STYLE without a [Version] signature of a Windows INF.
DWORD LoadInf(const std::string& path, InfFile* inf, std::string* text = nullptr);

}  // namespace winsim::detail
