#pragma once
// TMaxInstance: limits how many copies of the program run at once on the machine, through a
// named counting semaphore. Each running copy holds one unit; a copy that gets no unit within
// the time-out is one too many.
//
// The semaphore's name is "Global\" followed by SemName (shared by every user of the
// machine), or SemName alone where the system has no machine-wide namespace. On Linux the
// lock files live in directories that PENDOCK_LOCK_DIR_GLOBAL and PENDOCK_LOCK_DIR_USER can
// replace (see platform/semaphore.h).

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A component may have an owner, which destroys it together with itself.
class TComponent {
public:
    explicit TComponent(TComponent* AOwner = nullptr);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return FOwner; }

private:
    TComponent* FOwner;
    std::vector<TComponent*> FComponents;
};

class TMaxInstance;
// Called with the guard that raises the event as the sender.
using TMaxInstanceEvent = std::function<void(TMaxInstance* Sender)>;

// How the guard asks the application to end when AutoKill is set. The program entry sets it;
// with none set, asking does nothing. An empty function clears it.
void SetApplicationTerminateHook(std::function<void()> Hook);

class TMaxInstance : public TComponent {
public:
    explicit TMaxInstance(TComponent* AOwner = nullptr);
    // Gives the unit back if held and closes the handle if open; errors are ignored.
    ~TMaxInstance() override;

    // Takes a unit within TimeOut milliseconds; SemName then holds the name actually used.
    // Call once per guard.
    void GetSem();
    // Gives the unit back and closes the handle; failures are left in ErrorCode.
    void FreeSem();
    bool IsSemHeld() const { return SemHeld; }
    // The system's error code (a Win32 DWORD) of the last failure; 0 when there was none.
    std::uint32_t GetErrorCode() const { return ErrorCode; }
    // The semaphore's handle (platform::SemHandle); 0 when none is open.
    std::uint32_t GetSemHandle() const { return SemHandle; }

    std::int32_t MaxInstances() const { return FMaxInstances; }
    void SetMaxInstances(std::int32_t Value) { FMaxInstances = Value; }
    bool AutoKill() const { return FAutoKill; }
    void SetAutoKill(bool Value) { FAutoKill = Value; }
    const std::string& SemName() const { return FSemName; }
    void SetSemName(const std::string& Value) { FSemName = Value; }
    std::uint32_t TimeOut() const { return FTimeOut; }
    void SetTimeOut(std::uint32_t Value) { FTimeOut = Value; }
    const TMaxInstanceEvent& OnTooMany() const { return FTooMany; }
    void SetOnTooMany(TMaxInstanceEvent Value) { FTooMany = std::move(Value); }
    const TMaxInstanceEvent& OnSemFailure() const { return FSemFailure; }
    void SetOnSemFailure(TMaxInstanceEvent Value) { FSemFailure = std::move(Value); }

private:
    void Terminate();

    std::int32_t FMaxInstances = 1;
    bool FAutoKill = true;
    std::string FSemName;
    std::uint32_t FTimeOut = 250;
    TMaxInstanceEvent FTooMany;
    TMaxInstanceEvent FSemFailure;
    std::uint32_t SemHandle = 0;
    bool SemHeld = false;
    std::uint32_t ErrorCode = 0;
};
