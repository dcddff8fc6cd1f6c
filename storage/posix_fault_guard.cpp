#include "storage/posix_fault_guard.h"

#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace qelt {
namespace {

enum class GuardMode : int {
    Jump,   // leave the guarded access through siglongjmp
    Patch,  // map a zero page over the faulting one and let the access go on
};

// Trivially destructible on purpose: the jump out of the handler skips nothing that needs destruction.
struct FaultGuard {
    GuardMode mode;
    std::uintptr_t begin;
    std::uintptr_t end;
    // Patch mode only: raised before a page is replaced.
    std::atomic<bool>* broken;
    volatile sig_atomic_t faulted;
    sigjmp_buf jump;
};

// A plain pointer, constant-initialised, so that the handler reads it without any lazy thread-local set-up.
constinit thread_local FaultGuard* currentGuard = nullptr;

struct sigaction previousAction;
std::once_flag installOnce;
std::size_t pageSize;
std::atomic<std::uint32_t> touchSink;

void PassToPrevious(int signal, siginfo_t* info, void* context) {
    if (previousAction.sa_flags & SA_SIGINFO) {
        if (previousAction.sa_sigaction) {
            previousAction.sa_sigaction(signal, info, context);
            return;
        }
    } else if (previousAction.sa_handler != SIG_DFL && previousAction.sa_handler != SIG_IGN) {
        previousAction.sa_handler(signal);
        return;
    }
    // No handler before ours: the default action ends the process. The signal is blocked while this handler
    // runs, so the raised one arrives on return; a fault would in any case repeat as soon as we return.
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    sigaction(SIGBUS, &defaultAction, nullptr);
    raise(SIGBUS);
}

void OnBusError(int signal, siginfo_t* info, void* context) {
    FaultGuard* guard = currentGuard;
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    // si_code > 0: raised by the kernel for a fault, not sent by kill() or sigqueue().
    if (guard && info->si_code > 0 && address >= guard->begin && address < guard->end) {
        if (guard->mode == GuardMode::Jump) siglongjmp(guard->jump, 1);
        guard->broken->store(true);
        void* page = reinterpret_cast<void*>(address & ~(pageSize - 1));
        if (mmap(page, pageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
            MAP_FAILED) {
            guard->faulted = 1;
            return;
        }
    }
    PassToPrevious(signal, info, context);
}

void InstallHandler() {
    std::call_once(installOnce, [] {
        pageSize = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        sigaction(SIGBUS, nullptr, &previousAction);
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, nullptr);
    });
}

void Arm(FaultGuard& guard, GuardMode mode, const void* region, std::size_t regionLength,
         std::atomic<bool>* broken = nullptr) {
    guard.mode = mode;
    guard.begin = reinterpret_cast<std::uintptr_t>(region);
    guard.end = guard.begin + regionLength;
    guard.broken = broken;
    guard.faulted = 0;
}

void UnblockBusErrors() {
    sigset_t bus;
    sigemptyset(&bus);
    sigaddset(&bus, SIGBUS);
    pthread_sigmask(SIG_UNBLOCK, &bus, nullptr);
}

// Runs `access` (which must own nothing that needs destruction: a fault leaves it through siglongjmp) and
// answers false when a fault in the region cut it short.
template <typename Access>
bool JumpGuarded(const void* region, std::size_t regionLength, Access access) {
    InstallHandler();
    FaultGuard guard;
    Arm(guard, GuardMode::Jump, region, regionLength);
    FaultGuard* const outer = currentGuard;
    // The signal mask is not saved: that would cost a system call on every access. The jump out of the handler
    // leaves SIGBUS blocked instead, and the rare faulting access unblocks it again.
    if (sigsetjmp(guard.jump, 0) != 0) {
        currentGuard = outer;
        UnblockBusErrors();
        return false;
    }
    currentGuard = &guard;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    access();
    std::atomic_signal_fence(std::memory_order_seq_cst);
    currentGuard = outer;
    return true;
}

}  // namespace

bool GuardedCopy(void* to, const void* from, std::size_t count, const void* region, std::size_t regionLength) {
    return JumpGuarded(region, regionLength, [=] { std::memcpy(to, from, count); });
}

bool GuardedTouch(const std::uint8_t* data, std::size_t length, std::size_t stride, const void* region,
                  std::size_t regionLength) {
    return JumpGuarded(region, regionLength, [=] {
        std::uint32_t sum = 0;
        for (std::size_t offset = 0; offset < length; offset += stride)
            sum += *static_cast<const volatile std::uint8_t*>(data + offset);
        touchSink.store(sum, std::memory_order_relaxed);
    });
}

bool GuardedApply(const MappedDataFunction& function, const std::uint8_t* data, std::uint32_t length,
                  const void* region, std::size_t regionLength, std::atomic<bool>& broken, std::uint32_t& result) {
    static_assert(std::atomic<bool>::is_always_lock_free, "the fault handler sets the flag");
    InstallHandler();
    FaultGuard guard;
    Arm(guard, GuardMode::Patch, region, regionLength, &broken);
    FaultGuard* const outer = currentGuard;
    struct Disarm {
        FaultGuard* outer;
        ~Disarm() {
            std::atomic_signal_fence(std::memory_order_seq_cst);
            currentGuard = outer;
        }
    } disarm{outer};
    currentGuard = &guard;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    try {
        result = function(data, length);
    } catch (...) {
        // The pages replaced during a fault no longer reach the file, so the caller must learn of the fault even
        // when the function then gave up: an unreported fault would let later writes go to the zero pages.
        if (guard.faulted != 0) return false;
        throw;
    }
    return guard.faulted == 0;
}

}  // namespace qelt
