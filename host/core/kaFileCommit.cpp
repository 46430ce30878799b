#include "host/core/kaFileCommit.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <pthread.h>
#include <random>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace Lode::Core {

namespace fs = std::filesystem;

namespace {

// Every temporary and kept-aside old file of the process, as C strings in fixed storage, so that
// a signal handler can remove them without allocating or locking. A slot is filled before it is
// marked ready and unmarked before it is reused.
struct kaTemporarySlot {
    std::atomic<bool> taken{false};
    std::atomic<bool> ready{false};
    char path[PATH_MAX]{};
};
constexpr int kTemporarySlotCount = 1024;
// Zero from the start, with no constructor run: 4 MiB that a process touches only as it uses slots.
constinit kaTemporarySlot gTemporaries[kTemporarySlotCount];
std::atomic<int> gTakenSlots{0};

// The slot now holding path, or -1 when the table is full (the file is then still removed by its
// set, only not by an interrupted process).
int registerTemporary(const std::string& path)
{
    // A run of thousands of files fills the table: each further file is then turned away at once.
    if (path.size() >= PATH_MAX || gTakenSlots.load() >= kTemporarySlotCount) return -1;
    for (int i = 0; i < kTemporarySlotCount; ++i) {
        bool expected = false;
        if (!gTemporaries[i].taken.compare_exchange_strong(expected, true)) continue;
        ++gTakenSlots;
        std::memcpy(gTemporaries[i].path, path.c_str(), path.size() + 1);
        gTemporaries[i].ready.store(true);
        return i;
    }
    return -1;
}

void unregisterTemporary(int slot)
{
    if (slot < 0) return;
    gTemporaries[slot].ready.store(false);
    gTemporaries[slot].taken.store(false);
    --gTakenSlots;
}

void removeTemporary(const std::string& path, int slot)
{
    ::unlink(path.c_str());
    unregisterTemporary(slot);
}

std::string errnoText(int code) { return std::strerror(code); }

// The absolute target that identifies path, so "a/../b.png" and "b.png" are one file.
std::string targetKey(const std::string& path)
{
    std::error_code failed;
    const fs::path absolute = fs::absolute(path, failed);
    return (failed ? fs::path(path) : absolute).lexically_normal().string();
}

// Creates a new file beside target, exclusively, named ".NAME.kaopt-XXXXXX<suffix>", and returns
// its descriptor (-1 with errno set when none could be created).
int createBeside(const fs::path& target, const char* suffix, std::string& created)
{
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 random{std::random_device{}() ^ static_cast<unsigned>(::getpid())};
    // Room for the decorations within a file system's 255-byte names.
    const std::string name = target.filename().string().substr(0, 200);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string tag(6, 'x');
        for (char& c : tag) c = kLetters[random() % (sizeof kLetters - 1)];
        created = (target.parent_path() / ("." + name + ".kaopt-" + tag + suffix)).string();
        const int descriptor = ::open(created.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor >= 0 || errno != EEXIST) return descriptor;
    }
    errno = EEXIST;
    return -1;
}

// Gives the current content of target a second name beside it, to be put back should the commit
// fail. On file systems without hard links the file itself is moved aside.
bool keepAside(const fs::path& target, std::string& kept)
{
    const int descriptor = createBeside(target, ".old", kept);
    if (descriptor < 0) return false;
    ::close(descriptor);
    ::unlink(kept.c_str());
    if (::link(target.c_str(), kept.c_str()) == 0) return true;
    if ((errno == EPERM || errno == ENOTSUP || errno == EOPNOTSUPP) && ::rename(target.c_str(), kept.c_str()) == 0)
        return true;
    const int code = errno;
    kept.clear();
    errno = code;
    return false;
}

// Holds SIGINT and SIGTERM back while it lives, for the steps their handler must not come between:
// creating a temporary and listing it for removal; renaming a set's files into place (cut short,
// some targets would be new and some old, and the old contents kept aside would be removed).
// A signal that came meanwhile is delivered when it ends.
class kaInterruptsHeld {
public:
    kaInterruptsHeld()
    {
        sigset_t interrupts;
        sigemptyset(&interrupts);
        sigaddset(&interrupts, SIGINT);
        sigaddset(&interrupts, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &interrupts, &_previous);
    }
    ~kaInterruptsHeld() { pthread_sigmask(SIG_SETMASK, &_previous, nullptr); }
    kaInterruptsHeld(const kaInterruptsHeld&) = delete;
    kaInterruptsHeld& operator=(const kaInterruptsHeld&) = delete;

private:
    sigset_t _previous;
};

bool syncFolder(const std::string& folder, std::string& error)
{
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = descriptor >= 0 && ::fsync(descriptor) == 0;
    const int code = errno;
    if (descriptor >= 0) ::close(descriptor);
    if (synced) return true;
    error = folder + ": cannot flush the folder to disk: " + errnoText(code);
    return false;
}

} // namespace

kaFileCommit::~kaFileCommit() { abandon(); }

bool kaFileCommit::write(const std::string& path, const void* data, size_t size, std::string& error)
{
    return write(
        path,
        [&](std::FILE* stream, std::string& failure) {
            if (size == 0 || std::fwrite(data, 1, size, stream) == size) return true;
            failure = path + ": cannot write: " + errnoText(errno);
            return false;
        },
        error);
}

bool kaFileCommit::write(const std::string& path, const std::function<bool(std::FILE*, std::string& error)>& writer,
                         std::string& error)
{
    if (path.empty()) {
        error = "no file name given";
        return false;
    }
    const std::string key = targetKey(path);
    if (_distinct) {
        std::string collision;
        if (_pendingAt.count(key))
            collision = path + ": written twice in one run; the second file would replace the first";
        else if (isInput(path))
            collision = path + ": the run read this file; none of its outputs may replace it";
        if (!collision.empty()) {
            if (_collision.empty()) _collision = collision;
            error = collision;
            return false;
        }
    }
    std::string temporary;
    int descriptor, slot;
    {
        // An interrupt between creating the temporary and listing it would leave it behind.
        const kaInterruptsHeld held;
        descriptor = createBeside(key, ".tmp", temporary);
        if (descriptor < 0) {
            error = path + ": cannot create a temporary file beside it: " + errnoText(errno);
            return false;
        }
        slot = registerTemporary(temporary);
    }
    // A replaced file keeps its permissions.
    struct stat existing;
    if (::stat(key.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) ::fchmod(descriptor, existing.st_mode & 07777);

    std::string failure;
    std::FILE* stream = ::fdopen(descriptor, "wb");
    if (!stream) {
        failure = path + ": cannot write: " + errnoText(errno);
        ::close(descriptor);
    } else {
        if (!writer(stream, failure)) {
            if (failure.empty()) failure = path + ": cannot write";
        } else if (std::fflush(stream) != 0) {
            failure = path + ": cannot write: " + errnoText(errno);
        } else if (::fsync(::fileno(stream)) != 0) {
            // Flushed before the rename, so a crash cannot leave the target's name on an empty file.
            failure = path + ": cannot flush to disk: " + errnoText(errno);
        }
        if (std::fclose(stream) != 0 && failure.empty()) failure = path + ": cannot close: " + errnoText(errno);
    }
    if (!failure.empty()) {
        removeTemporary(temporary, slot);
        error = failure;
        return false;
    }

    auto earlier = _pendingAt.find(key);
    if (earlier != _pendingAt.end()) {
        // Rare: the rewritten file moves to the end of the order, and the positions behind it shift.
        discard(_pending[earlier->second]);
        _pending.erase(_pending.begin() + static_cast<std::ptrdiff_t>(earlier->second));
        _pendingAt.clear();
        for (size_t i = 0; i < _pending.size(); ++i) _pendingAt[_pending[i].key] = i;
    }
    _pendingAt[key] = _pending.size();
    _pending.push_back({path, key, temporary, slot});
    return true;
}

bool kaFileCommit::isPending(const std::string& path) const { return _pendingAt.count(targetKey(path)) != 0; }

std::vector<std::string> kaFileCommit::pendingPaths() const
{
    std::vector<std::string> paths;
    for (const Pending& pending : _pending) paths.push_back(pending.path);
    return paths;
}

bool kaFileCommit::commit(std::string& error)
{
    struct Replaced {
        std::string target;
        std::string kept;  // the old content's second name; empty when the target is new
        int keptSlot;
    };
    if (!_collision.empty()) {
        error = _collision;
        abandon();
        return false;
    }
    const kaInterruptsHeld held;
    std::vector<Replaced> replaced;
    std::set<std::string> folders;
    std::string failure;
    for (Pending& pending : _pending) {
        Replaced done{pending.key, {}, -1};
        struct stat existing;
        if (::lstat(pending.key.c_str(), &existing) == 0) {
            if (S_ISDIR(existing.st_mode)) {
                failure = pending.path + ": cannot replace it: " + errnoText(EISDIR);
                break;
            }
            if (!keepAside(pending.key, done.kept)) {
                failure = pending.path + ": cannot keep the old file aside: " + errnoText(errno);
                break;
            }
            done.keptSlot = registerTemporary(done.kept);
        } else if (errno != ENOENT) {
            failure = pending.path + ": " + errnoText(errno);
            break;
        }
        if (::rename(pending.temporary.c_str(), pending.key.c_str()) != 0) {
            failure = pending.path + ": cannot rename the temporary file into place: " + errnoText(errno);
            if (!done.kept.empty()) ::rename(done.kept.c_str(), pending.key.c_str());
            unregisterTemporary(done.keptSlot);
            break;
        }
        unregisterTemporary(pending.slot);
        pending.temporary.clear();
        replaced.push_back(done);
        folders.insert(fs::path(pending.key).parent_path().string());
    }
    for (const std::string& folder : folders)
        if (failure.empty()) syncFolder(folder, failure);

    if (!failure.empty()) {
        // Newest first, so each target gets back exactly what it held before this commit.
        for (auto it = replaced.rbegin(); it != replaced.rend(); ++it) {
            if (it->kept.empty())
                ::unlink(it->target.c_str());
            else
                ::rename(it->kept.c_str(), it->target.c_str());
            unregisterTemporary(it->keptSlot);
        }
        abandon();
        error = failure;
        return false;
    }
    for (const Replaced& done : replaced)
        if (!done.kept.empty()) removeTemporary(done.kept, done.keptSlot);
    _pending.clear();
    _pendingAt.clear();
    return true;
}

void kaFileCommit::abandon()
{
    for (Pending& pending : _pending) discard(pending);
    _pending.clear();
    _pendingAt.clear();
}

void kaFileCommit::discard(Pending& pending)
{
    if (!pending.temporary.empty()) removeTemporary(pending.temporary, pending.slot);
    pending.temporary.clear();
}

void kaFileCommit::removeAllTemporaries()
{
    for (kaTemporarySlot& slot : gTemporaries)
        if (slot.ready.load()) ::unlink(slot.path);
}

namespace {

const kaFileCommit* gReadingPending = nullptr;

} // namespace

kaFileCommit::ReadingPending::ReadingPending(const kaFileCommit& files) : _previous(gReadingPending)
{
    gReadingPending = &files;
}

kaFileCommit::ReadingPending::~ReadingPending() { gReadingPending = _previous; }

std::string kaFileCommit::readablePath(const std::string& path)
{
    if (!gReadingPending) return path;
    const auto pending = gReadingPending->_pendingAt.find(targetKey(path));
    return pending == gReadingPending->_pendingAt.end() ? path : gReadingPending->_pending[pending->second].temporary;
}

namespace {

std::mutex gInputsLock;
std::set<std::string> gInputs;
std::vector<std::string> gInputsInOrder;

// Links resolved, so that a file reached through another folder name is still the same input.
std::string inputKey(const std::string& path)
{
    std::error_code failed;
    const fs::path resolved = fs::weakly_canonical(fs::absolute(path), failed);
    return failed ? targetKey(path) : resolved.string();
}

} // namespace

void kaFileCommit::noteInput(const std::string& path)
{
    if (gReadingPending) return;
    const std::string key = inputKey(path);
    std::lock_guard<std::mutex> lock(gInputsLock);
    if (gInputs.insert(key).second) gInputsInOrder.push_back(path);
}

bool kaFileCommit::isInput(const std::string& path)
{
    const std::string key = inputKey(path);
    std::lock_guard<std::mutex> lock(gInputsLock);
    return gInputs.count(key) != 0;
}

std::vector<std::string> kaFileCommit::inputPaths()
{
    std::lock_guard<std::mutex> lock(gInputsLock);
    return gInputsInOrder;
}

} // namespace Lode::Core
