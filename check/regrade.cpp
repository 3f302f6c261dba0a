// A class's report across gradings (regrade.hpp).
#include "check/regrade.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "check/build.hpp"
#include "check/report.hpp"
#include "check/report_page.hpp"

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace check {

namespace {

constexpr std::size_t kMostFiles = 200;
constexpr std::size_t kMostBytes = std::size_t{1} << 20;

// The bytes of the regular file at `path`, not through a link, at most kMostBytes; nothing
// when it is anything else or larger.
std::optional<std::string> small_file(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    std::optional<std::string> text;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<std::uint64_t>(st.st_size) <= kMostBytes) {
        text.emplace();
        char chunk[65536];
        ssize_t got = 0;
        while ((got = ::read(fd, chunk, sizeof chunk)) > 0 && text->size() <= kMostBytes)
            text->append(chunk, static_cast<std::size_t>(got));
        if (got < 0 || text->size() > kMostBytes) text.reset();
    }
    ::close(fd);
    return text;
}

// True for a file that makes a program: a C or C++ source or header, or a Makefile.
bool makes_program(const fs::path& p) {
    static const char* const endings[] = {".c", ".cc", ".cpp", ".cxx", ".h", ".hh", ".hpp", ".hxx"};
    const std::string name = p.filename().string();
    if (name == "Makefile" || name == "makefile" || name == "GNUmakefile") return true;
    return std::any_of(std::begin(endings), std::end(endings),
                       [&](const char* e) { return p.extension() == e; });
}

bool word_byte(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}

// A text field of a row, or "" when it holds none.
std::string text_of(const json& row, const char* key) {
    const auto it = row.find(key);
    return it != row.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// The bytes a JSON format carries as a string, or as {"base64": ...} when they are not
// UTF-8 (see to_json); empty for anything else.
std::string bytes_from(const json& value) {
    if (value.is_string()) return value.get<std::string>();
    if (!value.is_object()) return {};
    const auto b = value.find("base64");
    if (b == value.end() || !b->is_string()) return {};
    const auto& text = b->get_ref<const std::string&>();
    std::string out;
    unsigned long group = 0;
    int bits = 0;
    for (const char ch : text) {
        const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const char* at = ch != '\0' ? std::strchr(digits, ch) : nullptr;
        if (at == nullptr) continue;  // padding and anything else
        group = (group << 6U) | static_cast<unsigned long>(at - digits);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((group >> static_cast<unsigned>(bits)) & 0xffU);
        }
    }
    return out;
}

// What is kept of an output, read back from to_json's form: the whole bytes, or
// {"bytes": size, "parts": [{"at": offset, "text" or "base64": ...}]}.
Kept kept_from(const json& row, const char* key) {
    Kept k;
    const auto it = row.find(key);
    if (it == row.end()) return k;
    if (it->is_object() && it->contains("parts")) {
        const json& parts = (*it)["parts"];
        k.bytes = (*it).value("bytes", std::size_t{0});
        for (const json& part : parts.is_array() ? parts : json::array()) {
            Kept::Part p;
            p.at = part.value("at", std::size_t{0});
            p.bytes = part.contains("text") ? bytes_from(part["text"]) : bytes_from(part);
            k.parts.push_back(std::move(p));
        }
        return k;
    }
    return keep(bytes_from(*it));
}

// The parts of `k` one after the other (the whole text when it was kept whole).
std::string joined(const Kept& k) {
    std::string text;
    for (const Kept::Part& p : k.parts) text += p.bytes;
    return text;
}

double number_of(const json& row, const char* key) {
    const auto it = row.find(key);
    return it != row.end() && it->is_number() ? it->get<double>() : 0.0;
}

Verdict verdict_named(const std::string& word) {
    for (int v = 0; v <= static_cast<int>(Verdict::memory_error); ++v)
        if (word == verdict_word(static_cast<Verdict>(v))) return static_cast<Verdict>(v);
    throw std::runtime_error("no such verdict: \"" + word + "\"");
}

}  // namespace

std::string normalised_source(const std::string& text) {
    std::string out;
    bool blank = false;  // blanks (or a comment) stand since the last byte kept
    const auto put = [&](char c) {
        if (blank && !out.empty() && word_byte(out.back()) && word_byte(c)) out += ' ';
        blank = false;
        out += c;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
            while (i < text.size() && text[i] != '\n') ++i;
            blank = true;
        } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
            const std::size_t end = text.find("*/", i + 2);
            i = end == std::string::npos ? text.size() : end + 1;
            blank = true;
        } else if (c == '"' || c == '\'') {  // a literal, kept whole with its escapes
            put(c);
            for (++i; i < text.size() && text[i] != c && text[i] != '\n'; ++i) {
                out += text[i];
                if (text[i] == '\\' && i + 1 < text.size()) out += text[++i];
            }
            if (i < text.size()) out += text[i];
        } else if (std::isspace(static_cast<unsigned char>(c)) != 0) {
            blank = true;
        } else {
            put(c);
        }
    }
    return out;
}

std::string sources_fingerprint(const fs::path& where, bool is_program) {
    if (is_program) {
        const auto bytes = small_file(where);
        if (!bytes) return "";
        Sha256 h;
        h.add("program\n");
        h.add(*bytes);
        return h.hex();
    }
    std::vector<std::string> digests;
    std::error_code ec;
    fs::recursive_directory_iterator it(where, fs::directory_options::none, ec), end;
    for (; !ec && it != end && digests.size() < kMostFiles; it.increment(ec)) {
        if (!it->is_regular_file(ec) || it->is_symlink(ec) || !makes_program(it->path())) continue;
        const auto text = small_file(it->path());
        if (!text) continue;
        Sha256 h;
        h.add(normalised_source(*text));
        digests.push_back(h.hex());
    }
    if (digests.empty()) return "";
    std::sort(digests.begin(), digests.end());
    Sha256 all;
    all.add("sources\n");
    for (const std::string& d : digests) all.add(d + "\n");
    return all.hex();
}

void name_identical(std::vector<SubmissionResult>& all) {
    std::map<std::string, std::vector<std::size_t>> by_sources;
    for (std::size_t i = 0; i < all.size(); ++i)
        if (!all[i].sources.empty()) by_sources[all[i].sources].push_back(i);
    for (SubmissionResult& s : all) s.same_sources.clear();
    for (const auto& [sources, who] : by_sources)
        for (std::size_t i : who)
            for (std::size_t other : who)
                if (other != i) all[i].same_sources.push_back(all[other].submission);
}

std::vector<SubmissionResult> read_results(const std::string& jsonl) {
    std::vector<SubmissionResult> all;
    std::istringstream in(jsonl);
    std::size_t line_number = 0;
    for (std::string line; std::getline(in, line);) {
        ++line_number;
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        try {
            const json row = json::parse(line);
            SubmissionResult s;
            s.program = text_of(row, "program");
            s.submission = text_of(row, "submission");
            s.seconds = number_of(row, "seconds");
            s.sources = text_of(row, "sources");
            if (const auto b = row.find("build"); b != row.end() && b->is_object()) {
                s.build_verdict = text_of(*b, "verdict");
                s.build_message = text_of(*b, "message");
            }
            for (const json& c : row.value("cases", json::array())) {
                CaseResult r;
                r.name = text_of(c, "name");
                r.kind = text_of(c, "kind") == "exercise" ? Kind::exercise : Kind::collection;
                r.verdict = verdict_named(text_of(c, "verdict"));
                r.points = static_cast<unsigned>(number_of(c, "points"));
                r.score = number_of(c, "score");
                r.hidden = c.value("hidden", false);
                r.wall_seconds = number_of(c, "wall_s");
                r.cpu_seconds = number_of(c, "cpu_s");
                r.max_rss_kib = static_cast<long>(number_of(c, "max_rss_kib"));
                r.message = text_of(c, "message");
                r.session = text_of(c, "session");
                r.fed = c.contains("input") ? bytes_from(c["input"]) : std::string();
                r.want = kept_from(c, "expected");
                r.got = kept_from(c, "actual");
                if (!r.hidden && r.verdict != Verdict::passed) {
                    r.input = excerpt_of(r.fed);
                    r.expected = excerpt_of(joined(r.want));
                    r.actual = excerpt_of(joined(r.got));
                }
                s.cases.push_back(std::move(r));
            }
            all.push_back(std::move(s));
        } catch (const std::exception& e) {
            throw std::runtime_error("line " + std::to_string(line_number) + ": " + e.what());
        }
    }
    return all;
}

std::vector<SubmissionResult> merged_class(std::vector<SubmissionResult> kept,
                                           std::vector<SubmissionResult> fresh) {
    for (SubmissionResult& f : fresh) {
        const auto same = std::find_if(kept.begin(), kept.end(), [&](const SubmissionResult& k) {
            return k.submission == f.submission;
        });
        if (same != kept.end()) {
            *same = std::move(f);
        } else {
            const auto after = std::find_if(
                kept.begin(), kept.end(),
                [&](const SubmissionResult& k) { return k.submission > f.submission; });
            kept.insert(after, std::move(f));
        }
    }
    return kept;
}

std::string grading_json(const Grading& g) {
    json j = {{"program", g.program}, {"cases", std::to_string(g.cases)}};
    if (g.seed) j["seed"] = std::to_string(*g.seed);
    return j.dump(2) + "\n";
}

std::optional<Grading> read_grading(const std::string& text) {
    try {
        const json j = json::parse(text);
        Grading g;
        g.program = j.at("program").get<std::string>();
        g.cases = std::stoull(j.at("cases").get<std::string>());
        if (j.contains("seed")) g.seed = std::stoull(j.at("seed").get<std::string>());
        return g;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace check
