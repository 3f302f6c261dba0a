#include "check/platform.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <map>
#include <stdexcept>

#include "check/judge.hpp"
#include "check/run.hpp"

namespace fs = std::filesystem;

namespace check {

namespace {

bool all_digits(const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// `s` in lower case (ASCII letters only).
std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A fresh name for a folder this checker makes.
std::string fresh(const std::string& what) {
    static std::atomic<unsigned> next{0};
    return what + "-" + std::to_string(::getpid()) + "-" + std::to_string(next++);
}

// A student gathered from the platform's names, before their folder is settled.
struct Gathered {
    std::string name, id;
    std::optional<bool> late;
    std::vector<fs::path> file_folders;  // Moodle: the folders of file submissions
    std::vector<std::string> aside;      // what was set aside, as shown
    // Files to gather into a folder of the checker's: their name there, and where they are,
    // with the resubmission that chose them.
    std::map<std::string, std::pair<fs::path, unsigned>> files;
};

// Keeps `from` as the file `name` of the student `g`, when it is the newest resubmission of
// that name seen so far; says the older one set aside.
void offer(Gathered& g, const std::string& name, const fs::path& from, unsigned resubmission) {
    auto [at, fresh_name] = g.files.try_emplace(name, from, resubmission);
    if (fresh_name) return;
    if (resubmission > at->second.second) {
        g.aside.push_back(visible_text(at->second.first.filename().string(), Shown::name));
        at->second = {from, resubmission};
    } else {
        g.aside.push_back(visible_text(from.filename().string(), Shown::name));
    }
}

// What the folder `root` holds, in a few words: "2 folders and 3 files (a/, b/, x.c and 2 more)".
std::string holding(const fs::path& root) {
    std::vector<std::string> names;
    std::size_t folders = 0, files = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(root, ec)) {
        const bool folder = e.is_directory(ec);
        (folder ? folders : files)++;
        names.push_back(e.path().filename().string() + (folder ? "/" : ""));
    }
    std::sort(names.begin(), names.end());
    if (names.empty()) return "nothing";
    return quantity(static_cast<double>(folders), "folder") + " and " +
           quantity(static_cast<double>(files), "file") + " (" + some_names(names) + ")";
}

}  // namespace

std::optional<MoodleName> moodle_name(const std::string& entry) {
    static const std::string kMark = "_assignsubmission_";
    const std::size_t mark = entry.rfind(kMark);
    if (mark == std::string::npos) return std::nullopt;
    const std::string who = entry.substr(0, mark);
    const std::size_t cut = who.rfind('_');
    if (cut == std::string::npos || cut == 0 || !all_digits(who.substr(cut + 1)))
        return std::nullopt;
    const std::string after = entry.substr(mark + kMark.size());
    const std::size_t kind_end = after.find('_');
    if (kind_end == std::string::npos || kind_end == 0) return std::nullopt;
    MoodleName m;
    m.name = who.substr(0, cut);
    m.id = who.substr(cut + 1);
    m.kind = after.substr(0, kind_end);
    m.rest = after.substr(kind_end + 1);
    return m;
}

std::optional<CanvasName> canvas_name(const std::string& entry) {
    std::vector<std::size_t> cuts;  // where each '_' is
    for (std::size_t at = entry.find('_'); at != std::string::npos; at = entry.find('_', at + 1))
        cuts.push_back(at);
    auto word = [&](std::size_t i) {  // the i-th '_'-separated word, before the i-th cut
        const std::size_t from = i == 0 ? 0 : cuts[i - 1] + 1;
        return entry.substr(from, cuts[i] - from);
    };
    if (cuts.size() < 3 || cuts[0] == 0) return std::nullopt;
    CanvasName c;
    c.who = word(0);
    std::size_t k = 1;  // the user id's word
    if (lower(word(1)) == "late") c.late = true, k = 2;
    if (cuts.size() < k + 2 || !all_digits(word(k)) || !all_digits(word(k + 1)))
        return std::nullopt;
    c.user = word(k);
    c.submission = word(k + 1);
    const std::size_t file_at = cuts[k + 1] + 1;
    if (file_at >= entry.size()) return std::nullopt;
    std::string file = entry.substr(file_at);
    // A resubmission: "NAME-N.EXT" (or "NAME-N"), NAME not empty.
    const std::size_t dot = file.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? file : file.substr(0, dot);
    const std::string ext = stem.size() == file.size() ? "" : file.substr(dot);
    const std::size_t dash = stem.rfind('-');
    if (dash != std::string::npos && dash > 0 && all_digits(stem.substr(dash + 1)) &&
        stem.size() - dash <= 6) {
        c.resubmission = static_cast<unsigned>(std::stoul(stem.substr(dash + 1)));
        file = stem.substr(0, dash) + ext;
    }
    c.file = file;
    return c;
}

ClassFolder read_class(const fs::path& given, const fs::path& work) {
    ClassFolder c;
    c.platform = "folders";
    fs::path root = given;
    std::error_code ec;
    struct stat st {};
    if (::stat(given.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        if (!is_archive(given))
            throw std::runtime_error(
                given.string() + ": neither a folder nor an archive (.zip, .tar, .tar.gz, .tgz)");
        root = work / fresh("class");
        try {
            unpack(given, root, kClassArchive);
        } catch (const std::exception& e) {
            throw std::runtime_error(given.string() + " is not unpacked: " + e.what());
        }
        c.made.push_back(root);
        // An archive that holds one folder and nothing else: the class is that folder.
        std::vector<fs::path> top;
        for (const auto& e : fs::directory_iterator(root, ec))
            if (e.path().filename() != "__MACOSX") top.push_back(e.path());
        if (top.size() == 1 && fs::is_directory(fs::symlink_status(top.front(), ec)) &&
            !moodle_name(top.front().filename().string()))
            root = top.front();
    } else if (!fs::is_directory(given, ec)) {
        throw std::runtime_error(given.string() + ": no such folder");
    }
    c.held = holding(root);

    std::map<std::string, Gathered> moodle, canvas;  // by id
    std::vector<fs::path> plain;                     // folders named after their student
    std::vector<std::string> entries;
    for (const auto& e : fs::directory_iterator(root, ec)) entries.push_back(e.path().filename());
    std::sort(entries.begin(), entries.end());
    for (const std::string& name : entries) {
        if (name.starts_with(".") || name == "__MACOSX") continue;
        const fs::path path = root / name;
        const std::string shown = visible_text(name, Shown::name);
        if (::lstat(path.c_str(), &st) != 0) continue;
        const bool folder =
            S_ISDIR(st.st_mode) || (S_ISLNK(st.st_mode) && fs::is_directory(path, ec));
        const std::optional<MoodleName> m = moodle_name(name);
        if (folder && m && m->rest.empty()) {
            Gathered& g = moodle[m->id];
            g.name = m->name, g.id = m->id;
            if (m->kind == "file")
                g.file_folders.push_back(path);
            else
                g.aside.push_back(shown + "/ (" + visible_text(m->kind, Shown::name) + ")");
        } else if (folder) {
            plain.push_back(path);
        } else if (S_ISLNK(st.st_mode)) {
            c.unplaced.push_back(shown + " (a symbolic link)");
        } else if (!S_ISREG(st.st_mode)) {
            c.unplaced.push_back(shown + " (neither a file nor a folder)");
        } else if (m && !m->rest.empty()) {
            Gathered& g = moodle[m->id];
            g.name = m->name, g.id = m->id;
            if (m->kind == "file")
                offer(g, m->rest, path, 0);
            else
                g.aside.push_back(shown + " (" + visible_text(m->kind, Shown::name) + ")");
        } else if (const std::optional<CanvasName> k = canvas_name(name)) {
            Gathered& g = canvas[k->user];
            g.name = k->who, g.id = k->user;
            g.late = g.late.value_or(false) || k->late;
            offer(g, k->file, path, k->resubmission);
        } else {
            c.unplaced.push_back(shown);
        }
    }
    if (!moodle.empty()) c.platform = "moodle";
    if (!canvas.empty()) c.platform = moodle.empty() ? "canvas" : "moodle and canvas";

    // Files gathered into a folder per student, in a folder of the checker's.
    fs::path staged;
    auto folder_for = [&](const std::string& name) {  // a fresh folder of the checker's
        if (staged.empty()) {
            staged = work / fresh("class");
            fs::create_directories(staged);
            ::chmod(staged.c_str(), 0755);
        }
        fs::path into = staged / name;
        fs::create_directories(into);
        ::chmod(into.c_str(), 0755);
        return into;
    };
    auto gather = [&](Gathered& g, const std::string& prefix) -> fs::path {
        fs::path into = folder_for(prefix + g.id);
        for (const auto& [name, from] : g.files) {
            if (name.find('/') != std::string::npos || name == "." || name == "..") {
                g.aside.push_back(visible_text(name, Shown::name) + " (a name no file can have)");
                continue;
            }
            try {
                copy_plain_file(from.first, into / name, kMaxUnpackedFileBytes);
            } catch (const std::exception& e) {
                g.aside.emplace_back(e.what());
                continue;
            }
            if (from.second > 0)
                g.aside.insert(g.aside.begin(),
                               visible_text(from.first.filename().string(), Shown::name) +
                                   " used as " + visible_text(name, Shown::name) +
                                   " (the newest resubmission)");
        }
        return into;
    };
    auto student = [&](const Gathered& g, const fs::path& folder) {
        Student s;
        s.name = g.name;
        s.id = g.id;
        s.late = g.late;
        s.folder = folder;
        s.within = folder.parent_path();
        std::vector<std::string> used, aside;
        for (const std::string& a : g.aside) {
            if (a.find(" used as ") != std::string::npos)
                used.push_back(a);
            else
                aside.push_back(a);
        }
        for (const std::string& u : used) s.note += u + "\n";
        if (!aside.empty()) s.note += "set aside: " + some_names(aside, 6) + "\n";
        c.students.push_back(std::move(s));
    };
    for (auto& [id, g] : moodle) {
        if (!g.files.empty() || g.file_folders.size() != 1) {
            for (const fs::path& f : g.file_folders)
                for (const auto& e : fs::directory_iterator(f, ec)) {
                    if (fs::is_symlink(fs::symlink_status(f, ec))) {  // never followed
                        g.aside.push_back(visible_text(f.filename().string(), Shown::name) +
                                          "/ (a symbolic link)");
                        break;
                    }
                    offer(g, e.path().filename().string(), e.path(), 0);
                }
            if (g.files.empty()) {  // an online text alone, or nothing at all
                Student s;
                s.name = g.name, s.id = g.id;
                s.folder = folder_for("moodle-" + id);
                s.within = s.folder.parent_path();
                s.note =
                    "no file was handed in" +
                    (g.aside.empty() ? std::string() : "; set aside: " + some_names(g.aside, 6)) +
                    "\n";
                c.students.push_back(std::move(s));
                continue;
            }
            student(g, gather(g, "moodle-"));
        } else {
            student(g, g.file_folders.front());
        }
    }
    for (auto& [id, g] : canvas) student(g, gather(g, "canvas-"));
    // Folders named after their students; a GitHub Classroom's named "ASSIGNMENT-STUDENT".
    bool repositories = !plain.empty();
    for (const fs::path& p : plain) repositories = repositories && fs::exists(p / ".git", ec);
    std::string prefix;
    if (repositories && plain.size() > 1) {
        prefix = plain.front().filename().string();
        for (const fs::path& p : plain) {
            const std::string n = p.filename().string();
            std::size_t k = 0;
            while (k < prefix.size() && k < n.size() && prefix[k] == n[k]) ++k;
            prefix.resize(k);
        }
        const std::size_t dash = prefix.rfind('-');
        prefix = dash == std::string::npos ? "" : prefix.substr(0, dash + 1);
    }
    if (repositories && c.platform == "folders") c.platform = "github-classroom";
    for (const fs::path& p : plain) {
        Student s;
        s.name = p.filename().string().substr(prefix.size());
        s.folder = p;
        s.within = root;
        c.students.push_back(std::move(s));
    }
    std::stable_sort(c.students.begin(), c.students.end(), [](const Student& a, const Student& b) {
        return a.name != b.name ? a.name < b.name : a.id < b.id;
    });
    if (!staged.empty()) c.made.push_back(staged);
    return c;
}

}  // namespace check
