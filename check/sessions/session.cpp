#include "check/sessions/session.hpp"

#include <algorithm>

#include "check/sessions/programs.hpp"

namespace check::sessions {

std::uint64_t Draw::next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

std::size_t Draw::below(std::size_t n) {
    // Rejection keeps every value equally likely.
    const auto bound = static_cast<std::uint64_t>(n);
    const std::uint64_t limit = UINT64_MAX - UINT64_MAX % bound;
    for (;;) {
        const std::uint64_t x = next();
        if (x < limit) return static_cast<std::size_t>(x % bound);
    }
}

long long Draw::between(long long lo, long long hi) {
    const std::uint64_t span = static_cast<std::uint64_t>(hi) - static_cast<std::uint64_t>(lo);
    if (span == UINT64_MAX) return static_cast<long long>(next());
    const std::uint64_t bound = span + 1;
    const std::uint64_t limit = UINT64_MAX - UINT64_MAX % bound;
    std::uint64_t x = next();
    while (x >= limit) x = next();
    const std::uint64_t at = static_cast<std::uint64_t>(lo) + x % bound;  // wraps as intended
    return static_cast<long long>(at);
}

bool Draw::chance(unsigned percent) { return below(100) < percent; }

bool Fed::operator==(const Fed& other) const {
    if (input != other.input || args != other.args || after != other.after ||
        status_open != other.status_open || files.size() != other.files.size())
        return false;
    for (std::size_t i = 0; i < files.size(); ++i)
        if (files[i].type != other.files[i].type || files[i].path != other.files[i].path ||
            files[i].content != other.files[i].content || files[i].mode != other.files[i].mode)
            return false;
    return true;
}

std::vector<long long> nearer(long long n, long long target) {
    std::vector<long long> out;
    if (n == target) return out;
    out.push_back(target);
    // Halfway without overflow, then one step.
    const long long half = target + (n - target) / 2;
    if (half != target && half != n) out.push_back(half);
    const long long step = n > target ? n - 1 : n + 1;
    if (step != target && step != half) out.push_back(step);
    return out;
}

std::vector<std::string> shorter(const std::string& text, std::size_t most) {
    std::vector<std::string> out;
    if (text.empty()) return out;
    out.emplace_back();
    if (text.size() > 1) out.push_back(text.substr(0, text.size() / 2));
    for (std::size_t i = 0; i < text.size() && i < most; ++i) {
        std::string less = text;
        less.erase(i, 1);
        if (std::find(out.begin(), out.end(), less) == out.end()) out.push_back(less);
    }
    return out;
}

std::vector<std::vector<std::size_t>> fewer(std::size_t count, std::size_t least) {
    std::vector<std::vector<std::size_t>> out;
    if (count <= least) return out;
    auto range = [](std::size_t from, std::size_t to) {
        std::vector<std::size_t> r;
        for (std::size_t i = from; i < to; ++i) r.push_back(i);
        return r;
    };
    const std::size_t half = count / 2;
    if (half >= least && half > 0) {
        out.push_back(range(0, half));
        out.push_back(range(half, count));
    } else if (least == 0) {
        out.emplace_back();
    }
    if (count - 1 >= least && count > 1)
        for (std::size_t skip = 0; skip < count; ++skip) {
            std::vector<std::size_t> r;
            for (std::size_t i = 0; i < count; ++i)
                if (i != skip) r.push_back(i);
            out.push_back(std::move(r));
        }
    return out;
}

const Generator* generator_for(const std::string& program) {
    if (program == "textkit") return &textkit_sessions();
    if (program == "textline") return &textline_sessions();
    if (program == "textwalk") return &textwalk_sessions();
    if (program == "polycalc") return &polycalc_sessions();
    if (program == "rollbook") return &rollbook_sessions();
    if (program == "setcalc") return &setcalc_sessions();
    if (program == "gridcalc") return &gridcalc_sessions();
    if (program == "gridheap") return &gridheap_sessions();
    if (program == "filetool") return &filetool_sessions();
    if (program == "greeter") return &greeter_sessions();
    if (program == "pairsum") return &pairsum_sessions();
    if (program == "charecho") return &charecho_sessions();
    return nullptr;
}

}  // namespace check::sessions
