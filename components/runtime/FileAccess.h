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
#include <sys/types.h>
#include <vector>

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

// What the load check knows about accounts: who this process runs as, and the user and group
// records that decide whether a group is private to its user. The system's records by default;
// tests put in their own to reach every branch of the rule on any account.
class AccountFacts {
public:
    virtual ~AccountFacts() = default;
    virtual uid_t self() const = 0;
    // The user's name and primary group; false when there is no such user.
    virtual bool user(uid_t uid, std::string* name, gid_t* primaryGroup) const = 0;
    // The group's name and listed members; false when there is no such group.
    virtual bool group(gid_t gid, std::string* name, std::vector<std::string>* members) const = 0;
};
// Uses facts (owned by the caller) from now on; null goes back to the system's records.
void SetAccountFacts(const AccountFacts* facts);

// A file opened to be loaded or run, decided on the very file that is opened:
//   - the path is resolved once (links, "..");
//   - the resolved file and every folder above it are checked through descriptors opened one by
//     one without following links, so a link planted meanwhile fails instead of leading elsewhere;
//   - each must be owned by root or by us and writable by nobody else (a folder with the sticky
//     bit, such as /tmp, is fine; so is group write access for the owner's private group);
//   - the file must be a regular file: a FIFO, device or folder is never opened, nothing blocks.
// Loading through descriptor() (dlopen of /proc/self/fd/N, fexecve) then uses what was checked,
// whatever happens to the name afterwards.
class CheckedFile {
public:
    enum class Outcome {
        Open,    // descriptor() is the file, read-only, close-on-exec
        Missing, // no such file or folder (reason: the system's text)
        Unsafe,  // another user could change it (reason names the path: "folder /opt/x is
                 // writable by other users (mode 0777)", "/opt/x/lib.so is owned by another user")
        Failed,  // anything else: "it is not a regular file", "Permission denied", ...
    };

    // With openFile false only the checks run: Open then says the file would be opened.
    explicit CheckedFile(const std::string& path, bool openFile = true);
    ~CheckedFile();
    CheckedFile(const CheckedFile&) = delete;
    CheckedFile& operator=(const CheckedFile&) = delete;

    Outcome outcome() const { return m_outcome; }
    int descriptor() const { return m_fd; }
    // The caller takes over the descriptor (-1 when none).
    int release();
    // The path with links resolved (empty when it could not be resolved).
    const std::string& resolved() const { return m_resolved; }
    const std::string& reason() const { return m_reason; }

private:
    void check(const std::string& path, bool openFile);

    Outcome m_outcome = Outcome::Failed;
    int m_fd = -1;
    std::string m_resolved;
    std::string m_reason;
};

// Reads the whole of an open CheckedFile, at most maxBytes (Failed with *reason otherwise).
ReadResult ReadCheckedFile(const CheckedFile& file, size_t maxBytes, std::string* out,
                           std::string* reason);

// True when nobody but us and root can change the file a path leads to (CheckedFile's rule,
// without opening it). A file that does not exist passes: opening it fails on its own. Anything
// else refused has its reason in *reason.
bool IsSafeToLoad(const std::string& path, std::string* reason);

} // namespace comrt
