// Threads that need little stack: a small one keeps the tools within tight
// address space limits.
#pragma once

#include <pthread.h>

#include <cstddef>

namespace hittab {

inline constexpr std::size_t small_thread_stack_size = 512 * 1024;

// Starts `run(argument)` on a new thread with a small stack; false when no
// thread can be started.
inline bool start_small_thread(pthread_t& thread, void* (*run)(void*), void* argument) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    pthread_attr_setstacksize(&attributes, small_thread_stack_size);
    bool started = pthread_create(&thread, &attributes, run, argument) == 0;
    pthread_attr_destroy(&attributes);
    return started;
}

}  // namespace hittab
