#pragma once

#include <QString>

#include <atomic>
#include <functional>
#include <memory>

// Renames in a test program, as the store puts its files in place, with a test's action run right
// after one: another program's write at that moment, or the save held there while the test acts.
// The C library's rename calls are replaced for the whole program; they do what they did, and
// only the next rename onto a path that ends as asked runs the action, once, on the renaming
// thread.
namespace renamehook {

// Runs `action` right after the next rename that put a file in place at a path ending in
// `targetEnd`.
void afterNextRename(const QString &targetEnd, std::function<void()> action);

// Makes exchanges of two files (renameat2 with RENAME_EXCHANGE) fail as on file systems that
// cannot make them (EINVAL), while `refused` is true.
void refuseExchanges(bool refused);

// A save held right after it put the file at a path ending in `targetEnd` in place, until
// released (or a minute passed, so that a failing test cannot hang).
class Hold
{
public:
    explicit Hold(const QString &targetEnd);
    ~Hold();
    Hold(const Hold &) = delete;
    Hold &operator=(const Hold &) = delete;

    // Whether a save is held now.
    bool holding() const { return state_->holding; }
    void release();

private:
    // Shared with the renaming thread, which may still be leaving the hold as this goes.
    struct State
    {
        std::atomic<bool> holding = false;
        std::atomic<bool> released = false;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

} // namespace renamehook
