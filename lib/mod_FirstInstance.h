#pragma once
// The program's single-instance test, over TMaxInstance.

#include <string>

class TMaxInstance;

// Empty identifier: Guard = nullptr, false. Otherwise creates the guard (no auto-kill,
// time-out 0, the identifier as name), takes a unit and returns whether it is held.
bool FirstInstance(const std::string& Identifier, TMaxInstance*& Guard);
// Gives the unit back and closes the handle.
void ReleaseFirstInstance(TMaxInstance* Guard);
// Destroys the guard; nothing for nullptr. Guard is nullptr afterwards.
void FreeFirstInstance(TMaxInstance*& Guard);
