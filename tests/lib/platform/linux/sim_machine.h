#pragma once
// A simulated machine (sysfs tree and mount-info file) in a fresh temporary folder, built by
// tools/simkey and removed again at the end.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/drive_letters.h"

class SimMachine {
public:
    SimMachine(); // runs "simkey init"
    ~SimMachine();
    SimMachine(const SimMachine&) = delete;
    SimMachine& operator=(const SimMachine&) = delete;

    // Runs "simkey COMMAND DIR ARGS..."; throws std::runtime_error when it fails.
    void Simkey(const std::string& command, const std::vector<std::string>& args = {}) const;

    const std::filesystem::path& Dir() const { return FDir; }
    std::filesystem::path Sys() const { return FDir / "sys"; }
    std::filesystem::path MountInfo() const { return FDir / "mountinfo"; }
    std::string Media(const std::string& name) const { return (FDir / "media" / name).string(); }

    // A fresh drive-letter map over this machine.
    std::shared_ptr<platform::lnx::DriveLetterMap> NewMap() const;

private:
    std::filesystem::path FDir;
};

// Runs a program with arguments (no shell); returns its exit status, or -1.
int RunProgram(const std::vector<std::string>& argv);

// While alive, WMI locators come from the Linux provider over `map`.
class ScopedProvider {
public:
    explicit ScopedProvider(std::shared_ptr<platform::lnx::DriveLetterMap> map);
    ~ScopedProvider();

private:
    struct Impl;
    std::unique_ptr<Impl> FImpl;
};
