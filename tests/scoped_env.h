#pragma once

#include <QtGlobal>

// An environment variable set for as long as the object lives.
struct ScopedEnv {
    ScopedEnv(const char* name, const char* value) : name_(name) { qputenv(name, value); }
    ~ScopedEnv() { qunsetenv(name_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    const char* name_;
};
