#include "sim_machine.h"

#include <cstdlib>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/linux/wmi_provider.h"
#include "platform/wmi.h"

namespace fs = std::filesystem;

int RunProgram(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

SimMachine::SimMachine() {
    Simkey("init");
}

void SimMachine::Simkey(const std::string& command, const std::vector<std::string>& args) const {
    std::vector<std::string> argv{"bash", PENDOCK_SIMKEY, command, Folder().string()};
    argv.insert(argv.end(), args.begin(), args.end());
    if (RunProgram(argv) != 0)
        throw std::runtime_error("simkey " + command + " failed");
}

std::shared_ptr<platform::lnx::TDriveLetterMap> SimMachine::NewMap() const {
    return std::make_shared<platform::lnx::TDriveLetterMap>(MountInfo().string(), Sys().string());
}

struct ScopedProvider::Impl {
    platform::WbemLocatorFactory Previous;
};

ScopedProvider::ScopedProvider(std::shared_ptr<platform::lnx::TDriveLetterMap> map)
    : FImpl(std::make_unique<Impl>()) {
    FImpl->Previous =
        platform::SetWbemLocatorFactory([map] { return platform::lnx::MakeWbemLocator(map); });
}

ScopedProvider::~ScopedProvider() {
    platform::SetWbemLocatorFactory(std::move(FImpl->Previous));
}
