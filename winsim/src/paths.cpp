// Win32 paths as the simulated calls take them, and FindFirstFile's search
// patterns.
#include "state.h"

#include <algorithm>
#include <cctype>

namespace winsim::detail {
namespace {

bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

}  // namespace

DWORD ParsePath(const char* path, bool allow_wildcards, ParsedPath* out) {
    if (path == nullptr || *path == '\0') return ERROR_PATH_NOT_FOUND;
    std::string s(path);
    std::replace(s.begin(), s.end(), '/', '\\');

    // The process's current folder is the root of C:: a path without a drive
    // is on C:, and one without a root starts at the root.
    ParsedPath result;
    size_t pos = 0;
    if (s.size() >= 2 && std::isalpha(static_cast<unsigned char>(s[0])) && s[1] == ':') {
        result.drive = UpperCase(s[0]);
        pos = 2;
    }

    std::vector<std::string> components;
    for (size_t start = pos; start <= s.size();) {
        size_t end = s.find('\\', start);
        if (end == std::string::npos) end = s.size();
        if (end > start) components.push_back(s.substr(start, end - start));
        start = end + 1;
    }
    for (size_t i = 0; i < components.size(); ++i) {
        const bool last = i + 1 == components.size();
        const std::string& c = components[i];
        const bool wild = HasWildcard(c);
        if (wild && !(allow_wildcards && last)) return ERROR_INVALID_NAME;
        result.parts.push_back(c);
        if (last) result.wildcard = wild;
    }
    *out = std::move(result);
    return ERROR_SUCCESS;
}

// The full path that a parsed path names, as GetFullPathName gives it.
std::string FullPath(const ParsedPath& path) {
    std::string full = std::string(1, path.drive) + ":";
    if (path.parts.empty()) return full + "\\";
    for (const std::string& part : path.parts) full += "\\" + part;
    return full;
}

// Search patterns, matched as FindFirstFile does: '*' matches any run of
// characters, but before a dot it stops at the name's last dot. '?' and the
// other DOS wildcard rules are not simulated.
bool MatchPattern(const std::string& p, const std::string& n, size_t pi, size_t ni) {
    for (; pi < p.size(); ++pi, ++ni) {
        if (p[pi] == '*') {
            const size_t last_dot = n.rfind('.');
            const bool before_dot = pi + 1 < p.size() && p[pi + 1] == '.';
            const size_t limit = before_dot && last_dot != std::string::npos && last_dot >= ni ? last_dot : n.size();
            for (size_t k = ni; k <= limit; ++k) {
                if (MatchPattern(p, n, pi + 1, k)) return true;
            }
            return false;
        }
        if (ni == n.size() || UpperCase(p[pi]) != UpperCase(n[ni])) return false;
    }
    return ni == n.size();
}

}  // namespace winsim::detail
