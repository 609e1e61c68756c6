#pragma once

#include <atomic>
#include <thread>

namespace realtime {

// A pointer an audio thread follows while another thread may point it elsewhere. The audio
// thread never waits: it takes the target for the length of a Use. Whoever rebinds waits until
// no Use of the old target is left, so the old target may go as soon as bind() returns.
template<typename T>
class Binding
{
public:
    Binding() = default;
    Binding(const Binding &) = delete;
    Binding &operator=(const Binding &) = delete;

    // Points the audio thread to `target` (null: to nothing).
    void bind(T *target)
    {
        target_.store(target);
        waitForUsers();
    }
    // Points the audio thread to nothing, if it points to `target`.
    void unbind(T *target)
    {
        T *expected = target;
        target_.compare_exchange_strong(expected, nullptr);
        waitForUsers();
    }

    // The audio thread's hold on the target, while it lives.
    class Use
    {
    public:
        // No binding: no target.
        explicit Use(Binding *binding)
            : users_(binding ? &binding->users_ : nullptr)
        {
            if (!binding)
                return;
            // Counted before the target is read: a rebinding that comes later sees the count.
            users_->fetch_add(1);
            target_ = binding->target_.load();
        }
        ~Use()
        {
            if (users_)
                users_->fetch_sub(1);
        }
        Use(const Use &) = delete;
        Use &operator=(const Use &) = delete;

        explicit operator bool() const { return target_ != nullptr; }
        T *operator->() const { return target_; }

    private:
        std::atomic<int> *const users_;
        T *target_ = nullptr;
    };

private:
    void waitForUsers() const
    {
        while (users_.load() > 0)
            std::this_thread::yield();
    }

    std::atomic<T *> target_{nullptr};
    std::atomic<int> users_{0};
};

} // namespace realtime
