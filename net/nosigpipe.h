#pragma once

#include <csignal>
#include <pthread.h>

namespace dz::net {

// sendfile and OpenSSL's socket writes have no MSG_NOSIGNAL: while one
// runs, SIGPIPE is blocked on this thread, and one that a send into a
// closed connection raised is taken back (the failure shows as EPIPE). The
// process's handling of the signal is not touched.
class NoSigpipe {
public:
    NoSigpipe()
    {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe, &old_);
    }
    ~NoSigpipe()
    {
        if (!wasPending_) {
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            const timespec now {0, 0};
            while (sigtimedwait(&pipe, nullptr, &now) == SIGPIPE) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    NoSigpipe(const NoSigpipe &) = delete;
    NoSigpipe &operator=(const NoSigpipe &) = delete;

private:
    sigset_t old_ {};
    bool wasPending_ = false;
};


} // namespace dz::net
