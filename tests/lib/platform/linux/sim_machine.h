#pragma once
// A simulated machine (sysfs tree and mount-info file) in a fresh temporary folder, built by
// tools/simkey and removed again at the end.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/drive_letters.h"
#include "support/TempDir.h"

class SimMachine {
public:
    SimMachine(); // runs "simkey init"

    // Runs "simkey COMMAND DIR ARGS..."; throws std::runtime_error when it fails.
    void Simkey(const std::string& command, const std::vector<std::string>& args = {}) const;

    const std::filesystem::path& Folder() const { return FFolder.Path(); }
    std::filesystem::path Sys() const { return Folder() / "sys"; }
    std::filesystem::path MountInfo() const { return Folder() / "mountinfo"; }
    std::string Media(const std::string& name) const {
        return (Folder() / "media" / name).string();
    }

    // A fresh drive-letter map over this machine.
    std::shared_ptr<platform::lnx::TDriveLetterMap> NewMap() const;

private:
    TTempDir FFolder{"pendock-sim"};
};

// Runs a program with arguments (no shell); returns its exit status, or -1.
int RunProgram(const std::vector<std::string>& argv);

// While alive, WMI locators come from the Linux provider over `map`.
class ScopedProvider {
public:
    explicit ScopedProvider(std::shared_ptr<platform::lnx::TDriveLetterMap> map);
    ~ScopedProvider();

private:
    struct Impl;
    std::unique_ptr<Impl> FImpl;
};
