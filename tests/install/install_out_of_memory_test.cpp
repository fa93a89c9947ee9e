// Whole runs in which one allocation of the worker fails, swept over the allocations a run makes: every
// run must still end with exactly one WM_SETUP_FINISHED, a text the window can show, COM balanced, no
// handle left open and no temporary file but the documented ones.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <new>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/unique_handle.h"
#include "install/install_worker.h"
#include "install/messages.h"
#include "install_run_fixture.h"
#include "test_support.h"

// The test allocator: counts the allocations of one armed thread and fails the chosen one.
namespace {

std::atomic<DWORD> g_armedThread{0};
std::atomic<long> g_allocationCount{0};
std::atomic<long> g_failingAllocation{0};  // 0: none fails
std::atomic<bool> g_failureHappened{false};

void* Allocate(std::size_t size) noexcept {
  if (g_armedThread.load(std::memory_order_relaxed) == ::GetCurrentThreadId()) {
    const long number = ++g_allocationCount;
    if (number == g_failingAllocation.load()) {
      g_failureHappened = true;
      return nullptr;
    }
  }
  return std::malloc(size == 0 ? 1 : size);
}

void* AllocateOrThrow(std::size_t size) {
  if (void* memory = Allocate(size)) return memory;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }

namespace {

namespace fs = std::filesystem;
using install_run::InstallRun;
using test_support::RecordedMessage;
using test_support::WideToUtf8;

constexpr double kSweepBudgetSeconds = 60.0;
constexpr double kSweepCapSeconds = 150.0;  // a loaded machine stops the sweep here, short of ctest's limit
constexpr DWORD kHandleNoise = 3;

// Wine's GetProcessHandleCount always says 0; its system handle table (information class 16, one entry
// per handle with the owner's process id first) does count, so that is the count there.
struct SystemHandleEntry {
  ULONG ownerProcessId;
  BYTE objectType;
  BYTE flags;
  USHORT value;
  PVOID object;
  ULONG access;
};

DWORD ProcessHandleCount(const char** source) {
  DWORD count = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &count);
  *source = "GetProcessHandleCount";
  if (count != 0) return count;
  using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return 0;
  std::vector<unsigned char> buffer(1 << 20);
  ULONG length = 0;
  LONG status;
  while ((status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &length)) ==
         static_cast<LONG>(0xC0000004L)) {  // STATUS_INFO_LENGTH_MISMATCH
    buffer.resize(buffer.size() * 2);
  }
  if (status != 0) return 0;
  const ULONG entries = *reinterpret_cast<const ULONG*>(buffer.data());
  const auto* entry = reinterpret_cast<const SystemHandleEntry*>(buffer.data() + sizeof(ULONG_PTR));
  for (ULONG i = 0; i < entries; ++i) count += entry[i].ownerProcessId == ::GetCurrentProcessId();
  *source = "the system handle table";
  return count;
}

// What one run with the given failing allocation (0: none) left behind.
struct Outcome {
  std::vector<RecordedMessage> messages;
  long allocations = 0;
  bool failureHappened = false;
  bool exceptionEscaped = false;
  bool comBalanced = false;
  DWORD handlesBefore = 0;
  DWORD handlesAfter = 0;
  const char* handleCountSource = "";
  double seconds = 0;  // from the start of the run to the end of its thread
  bool launcherStarted = false;
};

class InstallOutOfMemory : public InstallRun {
 protected:
  Outcome RunFailing(long failingAllocation) {
    Outcome outcome;
    test_support::MessageRecorder recorder;
    unique_kernel_handle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const InstallRequest request{installDir_.wstring(), false};
    const std::wstring host = updateHost_;
    outcome.handlesBefore = ProcessHandleCount(&outcome.handleCountSource);
    g_allocationCount = 0;
    g_failureHappened = false;
    g_failingAllocation = failingAllocation;
    const auto started = std::chrono::steady_clock::now();
    std::thread worker([&] {
      g_armedThread = ::GetCurrentThreadId();
      try {
        RunInstall(request, host);
      } catch (...) {
        outcome.exceptionEscaped = true;
      }
      g_armedThread = 0;
      // S_OK only when the run left this thread's COM as it found it.
      const HRESULT again = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      outcome.comBalanced = again == S_OK;
      if (SUCCEEDED(again)) ::CoUninitialize();
      ::SetEvent(done.get());
    });
    const HANDLE waitFor = done.get();
    const ULONGLONG deadline = ::GetTickCount64() + 60000;
    for (;;) {
      for (RecordedMessage& message : recorder.Drain()) outcome.messages.push_back(std::move(message));
      const ULONGLONG now = ::GetTickCount64();
      if (now >= deadline) break;
      if (::MsgWaitForMultipleObjects(1, &waitFor, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT) ==
          WAIT_OBJECT_0) {
        break;
      }
    }
    if (::WaitForSingleObject(done.get(), 0) != WAIT_OBJECT_0) {
      // A run that does not end is the fault itself; its thread cannot be stopped, so the program ends.
      std::printf("failing allocation %ld: the run did not end within 60 s\n", failingAllocation);
      std::fflush(stdout);
      std::_Exit(1);
    }
    worker.join();
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    for (RecordedMessage& message : recorder.Drain()) outcome.messages.push_back(std::move(message));
    outcome.allocations = g_allocationCount;
    // Right after the end: a launcher that was started is still running, or has left its record.
    outcome.launcherStarted = LauncherIsRunning() || fs::exists(logFolder_ / L"launcher.log");
    WaitForTheLauncherToEnd();
    std::error_code ignored;
    fs::remove(logFolder_ / L"launcher.log", ignored);
    outcome.failureHappened = g_failureHappened;
    g_failingAllocation = 0;
    // What the ended thread and the system release shortly after the end is given a moment; a started
    // launcher a longer one.
    // Bounded by the clock: under load one look at the system's handle table can take long.
    const ULONGLONG settleEnd =
        ::GetTickCount64() + (install_run::EndedInSuccess(outcome.messages) ? 5000 : 1000);
    for (;;) {
      outcome.handlesAfter = ProcessHandleCount(&outcome.handleCountSource);
      if (outcome.handlesAfter <= outcome.handlesBefore || ::GetTickCount64() >= settleEnd) break;
      ::Sleep(25);
    }
    return outcome;
  }

  // A running program's file cannot be opened for writing without sharing.
  bool LauncherIsRunning() const {
    const fs::path launcher = installDir_ / L"FernquillLauncher.exe";
    unique_file_handle alone(::CreateFileW(launcher.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    return !alone && ::GetLastError() != ERROR_FILE_NOT_FOUND;
  }

  // The next run can replace the launcher only once it has ended; whatever the run's ending, it may have
  // been started.
  void WaitForTheLauncherToEnd() const {
    for (int i = 0; i < 400 && LauncherIsRunning(); ++i) ::Sleep(25);
  }

  // The run's temporary files that are still there; only the package and the staging folder may be.
  std::vector<std::wstring> TemporaryEntries() const {
    std::vector<std::wstring> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(temp_.path())) {
      names.push_back(entry.path().filename().wstring());
    }
    return names;
  }

  // Every expectation on one run; returns the final text for the tally.
  std::wstring CheckOutcome(long failingAllocation, const Outcome& outcome) {
    const std::string point = "failing allocation " + std::to_string(failingAllocation);
    long finishes = 0;
    for (const RecordedMessage& message : outcome.messages) finishes += message.message == WM_SETUP_FINISHED;
    EXPECT_EQ(finishes, 1) << point;
    EXPECT_FALSE(outcome.messages.empty() || outcome.messages.back().message != WM_SETUP_FINISHED)
        << point << ": something was posted after WM_SETUP_FINISHED";
    const std::wstring text = install_run::FinalText(outcome.messages);
    const bool success = install_run::EndedInSuccess(outcome.messages);
    if (success) {
      EXPECT_EQ(text, DoneText()) << point;
    } else {
      EXPECT_EQ(text, kOutOfMemoryText) << point << ": " << WideToUtf8(text);
      EXPECT_FALSE(outcome.launcherStarted) << point << ": the application was started, yet the run failed";
    }
    EXPECT_FALSE(outcome.exceptionEscaped) << point;
    EXPECT_TRUE(outcome.comBalanced) << point;
    EXPECT_GT(outcome.handlesBefore, 0u) << point << ": no handle count";
    // Under Wine the count moves by a handle or two of its own between two readings, so a run may not
    // raise it beyond that above the level of the warmed-up process; a leak on a path that many points
    // share adds up over the sweep and shows.
    EXPECT_LE(outcome.handlesAfter, handleBaseline_ + kHandleNoise) << point;
    maxHandles_ = std::max(maxHandles_, outcome.handlesAfter);
    const std::set<std::wstring> documented = {fs::path(PackagePath()).filename().wstring(),
                                               fs::path(StagingPath()).filename().wstring()};
    for (const std::wstring& name : TemporaryEntries()) {
      EXPECT_TRUE(!success && documented.count(name) == 1) << point << ": left " << WideToUtf8(name);
    }
    return text;
  }

  DWORD handleBaseline_ = 0;
  DWORD maxHandles_ = 0;
};

unsigned SweepSeed() {
  if (const char* text = std::getenv("FERNQUILL_SWEEP_SEED")) {
    return static_cast<unsigned>(std::strtoul(text, nullptr, 10));
  }
  return std::random_device{}();
}

TEST_F(InstallOutOfMemory, EveryFailingAllocationEndsTheRunOnceAndCleanly) {
  // Unbuffered, so that a sweep stopped by its time limit still shows how far it came.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  PublishPackage(L"good.zip");
  const auto start = std::chrono::steady_clock::now();
  // A first run without failure warms up what the process keeps for good (DLLs, caches, the launcher's
  // first start); a second counts the allocations of a whole run.
  const Outcome clean = RunFailing(0);
  ASSERT_TRUE(install_run::EndedInSuccess(clean.messages))
      << WideToUtf8(install_run::FinalText(clean.messages));
  // The first exception thrown in the process sets up what stays for good (2 handles under Wine).
  const Outcome firstThrow = RunFailing(1);
  ASSERT_TRUE(firstThrow.failureHappened);
  std::fflush(stdout);
  std::printf("first exception of the process: %lu handles before, %lu after\n",
              static_cast<unsigned long>(firstThrow.handlesBefore),
              static_cast<unsigned long>(firstThrow.handlesAfter));
  handleBaseline_ = firstThrow.handlesAfter;
  const Outcome counted = RunFailing(0);
  CheckOutcome(0, counted);
  const long total = counted.allocations;
  ASSERT_GT(total, 0);
  const double runSeconds = counted.seconds;

  // Every point when the whole sweep fits the budget; otherwise a stride from a seeded offset, always
  // with the first and the last points, where the run is set up and where it ends.
  // A run that fails at a point takes, on average over the points, about half a whole run.
  const long affordable =
      std::max(1L, static_cast<long>(kSweepBudgetSeconds / std::max(runSeconds / 2, 0.01)));
  const long stride = std::max(1L, (total + affordable - 1) / affordable);
  const unsigned seed = SweepSeed();
  std::mt19937 random(seed);
  std::set<long> planned;
  for (long n = 1 + static_cast<long>(random() % stride); n <= total; n += stride) planned.insert(n);
  // The first and the last points come first; the rest in a seeded order, so that a machine slower than
  // the estimate still samples the whole run before the time cap ends the sweep.
  std::vector<long> points;
  for (long n = 1; n <= std::min(total, 8L); ++n) points.push_back(n);
  for (long n = std::max(9L, total - 7); n <= total; ++n) points.push_back(n);
  std::vector<long> rest;
  for (long n : planned) {
    if (std::find(points.begin(), points.end(), n) == points.end()) rest.push_back(n);
  }
  std::shuffle(rest.begin(), rest.end(), random);
  points.insert(points.end(), rest.begin(), rest.end());

  std::map<std::wstring, long> endings;
  long failuresSeen = 0;
  std::size_t tried = 0;
  for (long n : points) {
    if (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() > kSweepCapSeconds)
      break;
    const Outcome outcome = RunFailing(n);
    ++tried;
    failuresSeen += outcome.failureHappened;
    ++endings[CheckOutcome(n, outcome)];
    if (HasFailure()) break;  // one failing point tells the story; the rest would repeat it
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const char* source = "";
  const DWORD handlesAtTheEnd = ProcessHandleCount(&source);
  std::printf(
      "whole run %.2f s; process handles (%s): %lu warmed up, at most %lu after a run, %lu at the end\n",
      runSeconds, source, static_cast<unsigned long>(handleBaseline_),
      static_cast<unsigned long>(maxHandles_), static_cast<unsigned long>(handlesAtTheEnd));
  EXPECT_LE(handlesAtTheEnd, handleBaseline_ + kHandleNoise);
  std::printf(
      "allocation sweep: %ld allocations per run, %lu of %lu planned points tried (stride %ld, seed %u; "
      "FERNQUILL_SWEEP_SEED repeats the order), %lu runs, %ld failures injected, %.1f s\n",
      total, static_cast<unsigned long>(tried), static_cast<unsigned long>(points.size()), stride, seed,
      static_cast<unsigned long>(tried + 3), failuresSeen, seconds);
  for (const auto& [text, count] : endings) {
    std::printf("  %ld ended with: %s\n", count, WideToUtf8(text).c_str());
  }
  // A run's count varies a little with how the network delivers, so a last point may fall past its end.
  EXPECT_GE(failuresSeen, static_cast<long>(tried) - 8);
}

}  // namespace
