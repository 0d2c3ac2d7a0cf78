#pragma once
// What the benchmarks need to start a program: its environment and C-style argument lists.

#include <string>
#include <vector>

extern char** environ;

// This process's environment without the variables starting with one of `drop`, followed by
// `add` ("NAME=value" each).
inline std::vector<std::string> ProgramEnvironment(const std::vector<std::string>& drop,
                                                   const std::vector<std::string>& add) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string kv = *e;
        bool keep = true;
        for (const std::string& prefix : drop)
            keep = keep && kv.rfind(prefix, 0) != 0;
        if (keep)
            env.push_back(kv);
    }
    env.insert(env.end(), add.begin(), add.end());
    return env;
}

// Pointers into `strings`, ending in a null one, as exec and posix_spawn take them.
inline std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}
