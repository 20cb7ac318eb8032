// Processes, threads, locks, sleeps and signals.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>

#include "runtime/process.h"

TEST(ProcessSignal, ProbesAndRefusesUnknownSignals) {
  EXPECT_EQ(v3ProcessSignal(v3ProcessId(), 0), 0);
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(v3ProcessSignal(static_cast<u64>(child), 0), -1);  // reaped: no such process
  EXPECT_EQ(v3ProcessSignal(v3ProcessId(), 1), -1);             // not sent (it would end the test)
  EXPECT_EQ(v3ProcessSignal(v3ProcessId(), 10), -1);
}

TEST(ProcessSignal, SendsTerminationToAnotherProcess) {
  const pid_t child = fork();
  if (child == 0) {
    pause();
    _exit(0);
  }
  EXPECT_EQ(v3ProcessSignal(static_cast<u64>(child), 15), 0);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
}

TEST(ProcessExit, MinusOneBecomes255) {
  const pid_t child = fork();
  if (child == 0) v3ProcessExit(-1);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 255);
}

TEST(SignalRegister, AcceptsOnlyInterruptAndTerminate) {
  EXPECT_EQ(v3SignalRegister(1, SIG_DFL), -1);
  EXPECT_EQ(v3SignalRegister(9, SIG_DFL), -1);
  EXPECT_EQ(v3SignalRegister(SIGINT, SIG_DFL), 0);
  EXPECT_EQ(v3SignalRegister(SIGTERM, SIG_DFL), 0);
}

TEST(Mutex, ZeroRecordIsReadyAndTryLockFailsWhenHeld) {
  v3Mutex m{};
  EXPECT_EQ(v3MutexUnlock(&m), -1);  // not initialised yet
  EXPECT_EQ(v3MutexLock(&m, 12), -1);
  ASSERT_EQ(v3MutexLock(&m, V3_MUTEX_WAIT), 0);
  EXPECT_EQ(m.marker, 42u);
  std::atomic<int> tryResult{1};
  u64 id = 0;
  struct Args {
    v3Mutex* m;
    std::atomic<int>* result;
    std::atomic<int> done;
  } args{&m, &tryResult, {0}};
  ASSERT_EQ(v3ThreadStart(
                &id,
                [](void* raw) {
                  auto* a = static_cast<Args*>(raw);
                  a->result->store(v3MutexLock(a->m, V3_MUTEX_TRY));
                  a->done.store(1);
                },
                &args, 8192),
            0);
  EXPECT_NE(id, 0u);
  while (args.done.load() == 0) v3Sleep(1);
  EXPECT_EQ(tryResult.load(), -1);
  EXPECT_EQ(v3MutexUnlock(&m), 0);
  v3MutexDestroy(&m);
  EXPECT_EQ(m.marker, 0u);
  v3MutexDestroy(&m);  // harmless on an uninitialised record
}

TEST(Sleep, SleepsAtLeastTheGivenTime) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(v3Sleep(1050), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1050));
}

TEST(SignalHold, ThreadsStartedWhileHeldKeepTerminationBlocked) {
  v3SignalHoldTermination(1);
  struct Probe {
    std::atomic<int> blockedInt{-1};
    std::atomic<int> blockedTerm{-1};
  } probe;
  u64 id = 0;
  ASSERT_EQ(v3ThreadStart(
                &id,
                [](void* raw) {
                  auto* p = static_cast<Probe*>(raw);
                  sigset_t current;
                  pthread_sigmask(SIG_BLOCK, nullptr, &current);
                  p->blockedTerm.store(sigismember(&current, SIGTERM));
                  p->blockedInt.store(sigismember(&current, SIGINT));
                },
                &probe, 4096),
            0);
  v3SignalHoldTermination(0);
  while (probe.blockedInt.load() < 0) v3Sleep(1);
  EXPECT_EQ(probe.blockedInt.load(), 1);
  EXPECT_EQ(probe.blockedTerm.load(), 1);
  sigset_t mine;
  pthread_sigmask(SIG_BLOCK, nullptr, &mine);
  EXPECT_EQ(sigismember(&mine, SIGTERM), 0);  // the caller is open again
}
