#pragma once
// The files of one adjust run: which paths it reads and writes, the private folder beside the
// output where the program works, and the moves that put finished outputs into place.
#include <string>
#include <vector>

#include "dataset/data_set_file.h"
#include "dataset/project_data_set.h"

namespace torvek::front {

// `path` as the kernel takes it: the folder part resolved through the file system (so that
// "link/../name" is the name in the folder above the link's target) and the last name as given.
// When the folder does not exist, the path made absolute with "." and ".." taken by name.
std::string resolvedPath(const std::string& path);

// True when both paths name one file: the same resolved path, or one existing file (the same
// device and inode, so hard links count too).
bool samePath(const std::string& a, const std::string& b);

// One file a run writes, and what it is to the person ("the output data set", "the RTF report").
struct RunFile {
    std::string path;
    std::string role;
};

// The first clash among a run's files: an output that names an input or another output. Empty
// when there is none, else a sentence that names both files.
std::string findPathClash(const std::vector<std::string>& inputs,
                          const std::vector<RunFile>& outputs);

// The folder where a run's files are made before they replace the outputs: beside `output`, so
// that the final moves are renames within one file system, and named after the output and the
// front end's process, ".NAME.run-PID-XXXXXX", so that a later run can tell a folder left by a
// front end that was killed from one in use.
//
// The folder is also the lock on its output: the run holds an exclusive flock on the folder's
// own descriptor for as long as it lives, so no file but the folder is made for it and the kernel
// drops the lock of a process that dies. A run makes its folder only while no other folder of the
// same output is locked; the look and the making happen under a short flock on the output's
// folder, so two runs that start at once cannot both miss each other.
class RunFolder {
  public:
    // Removes the folders that front ends now gone left beside `output`.
    static void removeStale(const std::string& output);

    RunFolder() = default;
    ~RunFolder();
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;

    // Makes the folder and locks it; false with `error` set when it cannot be made, or when
    // another run (of this process or another) writes the same output, which `busy` then names.
    bool create(const std::string& output, std::string& error);
    // Set by create when another run holds a folder of the same output: that folder.
    const std::string& busyWith() const { return busy_; }
    // The path of `name` inside the folder.
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    std::string busy_;
    int lockFd_ = -1;
};

// One move of a run's set: the finished file in the run folder and its place.
struct OutputMove {
    std::string from;
    std::string to;
};

// Puts a run's outputs into place as one set: each output that exists is first moved aside into
// `runFolder` (as "earlier-N"), then each new file is renamed onto its place. When a move fails,
// the new files already moved are removed, the earlier ones moved back, and false is returned
// with `error` naming the file that failed and each file removed or restored; the earlier set is
// then as it was. Never leaves a mix of two runs' outputs, but for a rename that fails while it
// undoes a failure: that earlier file is then kept as "OUTPUT.earlier", and `error` says so.
bool placeOutputSet(const std::vector<OutputMove>& moves, const std::string& runFolder,
                    std::string& error);

// The renames placeOutputSet makes, replaceable for tests that provoke a failure midway (a full
// file system cannot fail a rename, but a folder made read-only or a path turned into a directory
// can). Null restores ::rename.
using RenameFunction = int (*)(const char* from, const char* to);
void setRenameFunction(RenameFunction rename);

// Moves `from` onto `to` in one rename; false with `error` set when that fails.
bool moveIntoPlace(const std::string& from, const std::string& to, std::string& error);

// A warning when the file at `path` is shorter than the counts of `dataSet`, read from it, say
// (the reader then takes the missing records as blank ones); empty when it is whole.
std::string truncationWarning(const std::string& path, const ProjectDataSet& dataSet);

}  // namespace torvek::front
