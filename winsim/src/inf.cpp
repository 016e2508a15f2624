// The INF reader behind SetupDiGetINFClassA, SetupCopyOEMInfA and
// UpdateDriverForPlugAndPlayDevicesA.
#include "inf.h"

#include <cctype>

namespace winsim::detail {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Text as single-byte characters: a UTF-8 byte order mark is dropped and
// UTF-16LE text is narrowed.
std::string Narrow(const std::string& raw) {
    if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) return raw.substr(3);
    if (raw.size() >= 2 && raw[0] == '\xFF' && raw[1] == '\xFE') {
        std::string text;
        for (size_t i = 2; i + 1 < raw.size(); i += 2) {
            text.push_back(raw[i + 1] == '\0' ? raw[i] : '?');
        }
        return text;
    }
    return raw;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            line.push_back(c);
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

// One character of a line with whether it came from inside quotes.
struct Piece {
    char c;
    bool quoted;
};

// Removes the comment and the quotes, marking what was quoted. Returns false
// when the line ends in a continuation backslash.
bool Unquote(const std::string& line, std::vector<Piece>* out) {
    bool in_quotes = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            if (in_quotes && i + 1 < line.size() && line[i + 1] == '"') {
                out->push_back({'"', true});
                ++i;
            } else {
                in_quotes = !in_quotes;
            }
            continue;
        }
        if (!in_quotes && c == ';') break;
        out->push_back({c, in_quotes});
    }
    // A trailing backslash outside quotes joins the next line.
    size_t end = out->size();
    while (end > 0 && !(*out)[end - 1].quoted && IsBlank((*out)[end - 1].c)) --end;
    if (end > 0 && !(*out)[end - 1].quoted && (*out)[end - 1].c == '\\') {
        out->resize(end - 1);
        return false;
    }
    return true;
}

std::string Trimmed(const std::vector<Piece>& pieces, size_t begin, size_t end) {
    while (begin < end && !pieces[begin].quoted && IsBlank(pieces[begin].c)) ++begin;
    while (end > begin && !pieces[end - 1].quoted && IsBlank(pieces[end - 1].c)) --end;
    std::string s;
    for (size_t i = begin; i < end; ++i) s.push_back(pieces[i].c);
    return s;
}

InfLine SplitFields(const std::vector<Piece>& pieces) {
    InfLine line;
    size_t start = 0;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (!pieces[i].quoted && pieces[i].c == '=') {
            line.key = Trimmed(pieces, 0, i);
            start = i + 1;
            break;
        }
    }
    size_t field_start = start;
    for (size_t i = start; i <= pieces.size(); ++i) {
        if (i == pieces.size() || (!pieces[i].quoted && pieces[i].c == ',')) {
            line.fields.push_back(Trimmed(pieces, field_start, i));
            field_start = i + 1;
        }
    }
    return line;
}

}  // namespace

DWORD InfFile::Parse(const std::string& raw) {
    sections_.clear();
    InfSection* current = nullptr;
    std::vector<Piece> pending;
    for (const std::string& text : SplitLines(Narrow(raw))) {
        size_t first = 0;
        while (first < text.size() && IsBlank(text[first])) ++first;
        if (pending.empty() && first < text.size() && text[first] == '[') {
            const size_t close = text.find(']', first + 1);
            if (close == std::string::npos) return ERROR_BAD_SECTION_NAME_LINE;
            const std::string name = text.substr(first + 1, close - first - 1);
            auto it = sections_.find(name);
            if (it == sections_.end()) it = sections_.emplace(name, InfSection{name, {}}).first;
            current = &it->second;  // a repeated section continues the first
            continue;
        }
        std::vector<Piece> pieces;
        const bool complete = Unquote(text, &pieces);
        pending.insert(pending.end(), pieces.begin(), pieces.end());
        if (!complete) continue;
        std::vector<Piece> line;
        line.swap(pending);
        if (Trimmed(line, 0, line.size()).empty()) {
            bool any_quoted = false;
            for (const Piece& p : line) any_quoted = any_quoted || p.quoted;
            if (!any_quoted) continue;
        }
        if (current == nullptr) return ERROR_EXPECTED_SECTION_NAME;
        current->lines.push_back(SplitFields(line));
    }
    if (!pending.empty() && current != nullptr) current->lines.push_back(SplitFields(pending));
    return ERROR_SUCCESS;
}

const InfSection* InfFile::Section(const std::string& name) const {
    auto it = sections_.find(name);
    return it == sections_.end() ? nullptr : &it->second;
}

const InfLine* InfFile::Line(const std::string& section, const std::string& key) const {
    const InfSection* s = Section(section);
    if (s == nullptr) return nullptr;
    for (const InfLine& line : s->lines) {
        if (!line.key.empty() && SameName(line.key, key)) return &line;
    }
    return nullptr;
}

std::optional<std::string> InfFile::Value(const std::string& section, const std::string& key,
                                          size_t field) const {
    const InfLine* line = Line(section, key);
    if (line == nullptr || field >= line->fields.size()) return std::nullopt;
    return Substitute(line->fields[field]);
}

std::string InfFile::Substitute(const std::string& text) const {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        const size_t close = text.find('%', i + 1);
        if (close == std::string::npos) {
            out.append(text, i, std::string::npos);
            break;
        }
        const std::string token = text.substr(i + 1, close - i - 1);
        if (token.empty()) {
            out.push_back('%');
        } else if (const InfLine* line = Line("Strings", token);
                   line != nullptr && !line->fields.empty()) {
            out += line->fields[0];
        } else {
            out.append(text, i, close - i + 1);
        }
        i = close;
    }
    return out;
}

DWORD LoadInf(const std::string& path, InfFile* inf, std::string* text) {
    std::string contents;
    if (DWORD error = ReadWholeFile(path, &contents)) return error;
    if (DWORD error = inf->Parse(contents)) return error;
    const std::optional<std::string> signature = inf->Value("Version", "Signature");
    if (!signature) return ERROR_WRONG_INF_STYLE;
    const std::string sig = LowerCase(*signature);
    if (sig != "$windows nt$" && sig != "$chicago$" && sig != "$windows 95$") {
        return ERROR_WRONG_INF_STYLE;
    }
    if (text != nullptr) *text = std::move(contents);
    return ERROR_SUCCESS;
}

}  // namespace winsim::detail
