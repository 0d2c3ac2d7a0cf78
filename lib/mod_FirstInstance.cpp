#include "mod_FirstInstance.h"

#include "MaxInstance.h"

bool FirstInstance(const std::string& Identifier, TMaxInstance*& Guard) {
    if (Identifier.empty()) {
        Guard = nullptr;
        return false;
    }
    Guard = new TMaxInstance(nullptr);
    Guard->SetAutoKill(false);
    Guard->SetTimeOut(0);
    Guard->SetSemName(Identifier);
    Guard->GetSem();
    return Guard->IsSemHeld();
}

void ReleaseFirstInstance(TMaxInstance* Guard) {
    if (Guard != nullptr)
        Guard->FreeSem();
}

void FreeFirstInstance(TMaxInstance*& Guard) {
    delete Guard;
    Guard = nullptr;
}
