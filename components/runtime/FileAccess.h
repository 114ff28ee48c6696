// Reading and replacing small files without surprises, and deciding whether a file is safe to run.
//
// Shared by the registration store, the component loader and the program's own settings and
// export writers, so every file the program writes gets the same checks:
//   - a read never blocks (a FIFO or device where a file was expected fails at once) and never
//     swallows an unbounded file;
//   - a write goes to a temporary file beside the target and replaces it only when every byte,
//     the flush to disk and the close succeeded; otherwise the old file stays as it was;
//   - temporary files left behind by a process that died are removed at the next write.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace comrt {

// The folder part of a path: "." for a bare name, "/" for a file in the root.
std::string FolderOfPath(const std::string& path);

enum class ReadResult { Ok, Missing, Failed };

// Reads the whole regular file at path, at most maxBytes long. Missing: no such file (out is
// empty). Failed: *reason says why in words ("not a regular file", "larger than 1048576 bytes",
// or the system's text such as "Permission denied").
ReadResult ReadRegularFile(const std::string& path, size_t maxBytes, std::string* out,
                           std::string* reason);

// What a write does with a target that is a symbolic link.
enum class LinkPolicy {
    Follow, // write the file the link points at (a settings file kept elsewhere by the user)
    Refuse, // refuse and write nothing (a name someone else may have planted)
};

// Replaces a file's contents in one step. Usage: open(), write() any number of times, commit().
// Destroying it without a successful commit() leaves the old file untouched.
class FileReplacer {
public:
    explicit FileReplacer(std::string path, LinkPolicy links = LinkPolicy::Follow,
                          unsigned newFileMode = 0666);
    ~FileReplacer();
    FileReplacer(const FileReplacer&) = delete;
    FileReplacer& operator=(const FileReplacer&) = delete;

    bool open();
    // Fails (and every later call fails) after the first short or failed write.
    bool write(std::string_view bytes);
    // Flushes to disk, closes and renames over the target; false with error() on any failure,
    // in which case the temporary file is removed and the target is as it was.
    bool commit();
    void cancel();

    // "cannot write /path/file: No space left on device" and the like; empty while all is well.
    const std::string& error() const { return m_error; }

private:
    bool fail(const std::string& what, int err);

    std::string m_path;   // as given, for messages
    std::string m_target; // the file that is replaced (the link's target when following)
    std::string m_temp;
    LinkPolicy m_links;
    unsigned m_mode;
    int m_fd = -1;
    std::string m_error;
};

// One-shot form of FileReplacer.
bool ReplaceFileContents(const std::string& path, std::string_view bytes, std::string* error,
                         LinkPolicy links = LinkPolicy::Follow, unsigned newFileMode = 0666);

// Removes our own "<path>.tmp.<pid>" and "<path>.tmp.<pid>.<n>" files beside path whose writing
// process no longer runs (a writer killed half-way leaves one behind).
void RemoveStaleTemporaries(const std::string& path);

// True when neither the file nor any folder above it can be changed by another user: each is
// owned by root or by us, and none is writable by group or others (a folder with the sticky bit,
// such as /tmp, is fine; so is group write access for the owner's private group). Checked on the path as given and on the path with links resolved. A
// path that does not exist passes (loading it fails on its own). *reason names the offending
// path: "folder /opt/x is writable by other users" or "/opt/x/lib.so is owned by another user".
bool IsSafeToLoad(const std::string& path, std::string* reason);

// IsSafeToLoad for a program about to be started; a refusal is said once per path on standard
// error ("refusing to start <path>: <reason>").
bool IsSafeToStart(const std::string& path);

} // namespace comrt
