// Class folders as learning platforms export them, read into one submission folder per
// student with the student's name, the platform's id and the late mark:
//
// - Moodle ("download all submissions"): the .zip itself, or the folder it unpacks to. Its
//   folders are named "FULL NAME_ID_assignsubmission_file_" (or, downloaded without folders,
//   its files "FULL NAME_ID_assignsubmission_file_NAME"); the student is FULL NAME, with the
//   participant id ID. Folders of other kinds of submission ("_onlinetext_") are set aside
//   and said in the student's feedback: one row per student.
// - Canvas ("download submissions"): one flat folder of files
//   "lastfirst[_late]_USERID_SUBMISSIONID_NAME", a resubmitted file named "NAME-N.EXT". They
//   are grouped by user id into a folder of the checker's, each file under its own NAME,
//   the newest (highest N) of each; "late" marks the student late.
// - GitHub Classroom: one clone per student, a folder as any other (find_submission reads
//   the repository); when every folder's name begins with the same "ASSIGNMENT-", the
//   student is the rest.
// - Anything else: one folder per student, named after the student.
//
// A file or folder that none of these places is named in `unplaced`; nothing is skipped
// silently. An archive given as the class is unpacked with the bounds of a class
// (kClassArchive), and each student's own archive inside it keeps to a student's bounds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "check/arrive.hpp"

namespace check {

// What a whole class's archive may hold.
constexpr UnpackBounds kClassArchive = {256ULL << 20, kMaxUnpackedFileBytes, 20000, 10};

// One student of a class.
struct Student {
    std::string name;              // as the teacher reads it: "Jane Doe", "doejane", "ann"
    std::string id;                // the platform's id of the student, or ""
    std::optional<bool> late;      // whether the platform marked the submission late
    std::filesystem::path folder;  // the folder of the submission
    std::filesystem::path within;  // the folder `folder` must lie in (for the refusals)
    std::string note;              // what was made of the platform's layout (lines), or ""
};

// A class folder as it was read.
struct ClassFolder {
    std::string platform;                     // "moodle", "canvas", "github-classroom", "folders"
    std::vector<Student> students;            // in name order
    std::vector<std::string> unplaced;        // "notes.txt", "fifo (neither a file nor a folder)"
    std::string held;                         // what the folder holds, in a few words
    std::vector<std::filesystem::path> made;  // the folders the checker made, to remove
};

// A Moodle folder's (or file's) name, read: "Jane Doe_123_assignsubmission_file_" gives
// name "Jane Doe", id "123", kind "file", rest "" (a file's own name after it, when the
// download was flat).
struct MoodleName {
    std::string name, id, kind, rest;
};
std::optional<MoodleName> moodle_name(const std::string& entry);

// A Canvas file's name, read: "doejane_late_12345_67890_setcalc-1.c" gives who "doejane",
// late, user "12345", submission "67890", file "setcalc.c" and resubmission 1 ("LATE" is
// read as "late"; a file not resubmitted has resubmission 0).
struct CanvasName {
    std::string who, user, submission, file;
    bool late = false;
    unsigned resubmission = 0;
};
std::optional<CanvasName> canvas_name(const std::string& entry);

// Reads the class `given` (a folder, or an archive unpacked into a fresh folder of `work`);
// the folders it makes lie in `work`. Throws std::runtime_error saying why when `given` is
// neither, or its archive is refused.
ClassFolder read_class(const std::filesystem::path& given, const std::filesystem::path& work);

}  // namespace check
