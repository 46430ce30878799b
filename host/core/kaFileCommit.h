// Files written together: a scene with the images and buffers it refers to, or a whole run's
// output, appears all at once or not at all.
//
// Each file is written to a temporary beside its target (".NAME.kaopt-XXXXXX.tmp", created
// exclusively, flushed to disk) and only renamed into place by commit(). Should a rename fail,
// the targets already replaced get their old content back, so a reader sees either every old
// file or every new one, never a mix and never a partial file.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace Lode::Core {

class kaFileCommit {
public:
    kaFileCommit() = default;
    kaFileCommit(const kaFileCommit&) = delete;
    kaFileCommit& operator=(const kaFileCommit&) = delete;
    // What was not committed is abandoned.
    ~kaFileCommit();

    // Writes the bytes as the pending content of path. Writing a path that is already pending
    // replaces its earlier content. False with a reason naming the file (and the system's
    // reason) when the temporary cannot be written; the set is otherwise unchanged.
    bool write(const std::string& path, const void* data, size_t size, std::string& error);
    // As above, the content produced by writer on an open stream. A writer that fails says why
    // in its error argument, which becomes this call's error.
    bool write(const std::string& path, const std::function<bool(std::FILE*, std::string& error)>& writer,
               std::string& error);

    // For the files of one run: each path may be written once, and never over a file the
    // process has read (noteInput). Such a write is refused, naming the file, and the set keeps
    // the first refusal: commit() then fails with it, so the run writes nothing at all.
    void keepFilesDistinct() { _distinct = true; }

    bool isPending(const std::string& path) const;
    // The pending targets in the order commit() renames them: the order of their last write.
    std::vector<std::string> pendingPaths() const;

    // Renames every pending file into place and flushes the folders. If any step fails, every
    // target already replaced is restored, every temporary removed, and the reason returned.
    // The set is empty afterwards either way.
    bool commit(std::string& error);
    // Removes every temporary; the targets are left as they were.
    void abandon();

    // Removes the temporaries of every set in the process. Async-signal-safe (unlink only), for
    // a SIGINT or SIGTERM handler, so that an interrupted run leaves no temporary behind.
    static void removeAllTemporaries();

    // While one lives, readers that open files through readablePath see the pending content of
    // the set's files in place of what is on disk: a run reads back what it is about to commit.
    // Such reading back does not make the files inputs.
    class ReadingPending {
    public:
        explicit ReadingPending(const kaFileCommit& files);
        ~ReadingPending();
        ReadingPending(const ReadingPending&) = delete;
        ReadingPending& operator=(const ReadingPending&) = delete;

    private:
        const kaFileCommit* _previous;
    };
    // The file to open for path's content: its pending temporary while a ReadingPending of the set
    // holding it lives, else path itself.
    static std::string readablePath(const std::string& path);

    // The files the process has read as input: scenes, the files they refer to, images, level
    // files. Readers note each file they open, so that file names a pass chooses for itself
    // (externalised images) never fall on one of them.
    static void noteInput(const std::string& path);
    static bool isInput(const std::string& path);
    // Every file noted so far, once, in the order first noted and in the form it was first noted
    // with: what a dependency file lists as the run's prerequisites.
    static std::vector<std::string> inputPaths();

private:
    struct Pending {
        std::string path;       // as the caller gave it, for messages
        std::string key;        // the absolute target, to recognise a path written twice
        std::string temporary;
        int slot;               // in the process-wide table of temporaries, -1 when not there
    };
    void discard(Pending& pending);
    std::vector<Pending> _pending;
    std::unordered_map<std::string, size_t> _pendingAt;  // key -> position in _pending
    bool _distinct = false;
    std::string _collision;
};

} // namespace Lode::Core
